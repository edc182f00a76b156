#!/bin/sh
# The rooms of src/ and the arrows between them, checked:
# - only src/cli/ and the three drivers name process-wide state: stdout,
#   stderr, signal, sigaction, umask, exit (in code, not in comments or
#   string literals);
# - a room includes headers of the rooms it stands on only (see USES);
# - a quoted include names a header by its file name alone, no folder: the
#   CMake libraries, not paths, say which headers a room sees.
# A finding listed in the allow list (lines "path word") is let through; an
# entry that no longer finds anything fails, so the list only shrinks.
#
# Usage: layering.sh ROOT [ALLOW]  (ROOT holds src/; ALLOW defaults to
# layering_allow.txt beside this script)
set -eu

root=$1
allow=${2:-$(dirname "$0")/layering_allow.txt}
[ -d "$root/src" ] || { echo "layering.sh: no src/ in $root" >&2; exit 2; }
[ -r "$allow" ] || { echo "layering.sh: cannot read $allow" >&2; exit 2; }

cd "$root"
find src -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.c' \) | LC_ALL=C sort |
LC_ALL=C awk -v allow="$allow" '
# What each room may include besides its own headers. The engine is
# dictionary.*, po_catalogue.* and translator.* at the top, with the translator internals
# in translate/, private to it; its resource pass (-g) reads the PE model
# of formats/.
BEGIN {
    USES["core"] = ""
    USES["engine"] = "core translate"
    USES["translate"] = "core engine formats"
    USES["template"] = "core engine formats"
    USES["formats"] = "core"
    USES["lint"] = "core engine formats template"
    USES["cli"] = "core engine"
    USES["driver"] = "core engine template formats lint cli"
    split("stdout stderr signal sigaction umask exit", WORDS, " ")
    while ((getline line < allow) > 0) {
        sub(/#.*/, "", line)
        n = split(line, f)
        if (n == 2) ALLOWED[f[1] " " f[2]] = 0
        else if (n != 0) fail(allow, "\"" line "\" is no \"path word\" line")
    }
    failed = 0
}

function room_of(path,    parts) {
    if (path ~ /^src\/(vorlang|vorlang_extract|vorlang_lint)\.cpp$/) return "driver"
    if (path ~ /^src\/(dictionary|po_catalogue|translator)\.(h|cpp)$/) return "engine"
    if (split(path, parts, "/") == 3) return parts[2]
    return ""
}

function fail(where, what) {
    print where ": " what
    failed = 1
}

# The line as the compiler sees its code: comments and the insides of
# string and character literals dropped. A block comment may run on.
function code_of(s,    out, i, c, q) {
    out = ""
    i = 1
    while (i <= length(s)) {
        if (in_block) {
            c = index(substr(s, i), "*/")
            if (c == 0) return out
            in_block = 0
            i += c + 1
            out = out " "
            continue
        }
        c = substr(s, i, 1)
        if (c == "/" && substr(s, i + 1, 1) == "/") return out
        if (c == "/" && substr(s, i + 1, 1) == "*") {
            in_block = 1
            i += 2
            continue
        }
        if (c == "\"" || c == "\047") {
            q = c
            for (i++; i <= length(s) && substr(s, i, 1) != q; i++) {
                if (substr(s, i, 1) == "\\") i++
            }
            out = out q q
            i++
            continue
        }
        out = out c
        i++
    }
    return out
}

function has_word(s, w) {
    return match(s, "(^|[^A-Za-z0-9_])" w "([^A-Za-z0-9_]|$)") > 0
}

{ FILES[++nfiles] = $0 }

END {
    for (k = 1; k <= nfiles; k++) {
        path = FILES[k]
        room = room_of(path)
        if (room == "" || !(room in USES)) {
            fail(path, "lies in no room of src/")
            continue
        }
        name = path
        sub(/.*\//, "", name)
        if (name in HOME && HOME[name] != room) fail(path, "shares its name with a header of " HOME[name])
        if (name ~ /\.h$/) HOME[name] = room
        ROOM[path] = room
    }
    for (k = 1; k <= nfiles; k++) {
        path = FILES[k]
        if (!(path in ROOM)) continue
        room = ROOM[path]
        in_block = 0
        n = 0
        while ((getline line < path) > 0) {
            n++
            at = path ":" n
            if (!in_block && match(line, /^[ \t]*#[ \t]*include[ \t]*"[^"]*"/)) {
                header = substr(line, RSTART, RLENGTH)
                sub(/^[^"]*"/, "", header)
                sub(/"$/, "", header)
                if (header ~ /\//) {
                    fail(at, "includes \"" header "\" by a path; name the header alone")
                } else if (!(header in HOME)) {
                    fail(at, "includes \"" header "\", which is no header of src/")
                } else if (HOME[header] != room && index(" " USES[room] " ", " " HOME[header] " ") == 0) {
                    fail(at, room " includes " header " of " HOME[header] ", a room it may not use")
                }
            }
            code = code_of(line)
            if (room == "cli" || room == "driver") continue
            for (w = 1; w in WORDS; w++) {
                if (!has_word(code, WORDS[w])) continue
                key = path " " WORDS[w]
                if (key in ALLOWED) {
                    ALLOWED[key]++
                } else {
                    fail(at, "names " WORDS[w] ", which only src/cli/ and the drivers may")
                }
            }
        }
        close(path)
    }
    for (key in ALLOWED) {
        if (ALLOWED[key] == 0) fail(allow, "\"" key "\" finds nothing: take it off the list")
    }
    exit failed
}'
