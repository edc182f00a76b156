#!/bin/sh
# layering.sh on a small tree of every room: each row plants one line in one
# file and says whether the check must pass or fail, and what it must say.
set -eu

check=$(dirname "$0")/layering.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tree=$work/tree

fresh() {
    rm -rf "$tree"
    mkdir -p "$tree/src/core" "$tree/src/translate" "$tree/src/template" "$tree/src/formats" \
        "$tree/src/lint" "$tree/src/cli"
    for f in core/limits.h translate/masks.h template/scan.h formats/pe.h lint/findings.h cli/streams.h \
        dictionary.h translator.cpp vorlang.cpp; do
        echo '#pragma once' > "$tree/src/$f"
    done
}

failures=0
# row FILE LINE pass|fail [WORDS the output must hold]
row() {
    file=$1 line=$2 want=$3 says=${4:-}
    fresh
    printf '%s\n' "$line" >> "$tree/src/$file"
    if out=$(sh "$check" "$tree" /dev/null 2>&1); then got=pass; else got=fail; fi
    if [ "$got" != "$want" ] || { [ -n "$says" ] && ! printf '%s' "$out" | grep -qF -- "$says"; }; then
        echo "FAIL: '$line' in $file: want $want${says:+ saying '$says'}, got $got: $out"
        failures=$((failures + 1))
    fi
}

row translate/masks.h 'void f() { std::fprintf(stderr, "x"); }' fail 'masks.h:2: names stderr'
row core/limits.h 'inline void f() { std::exit(1); }' fail 'names exit'
row template/scan.h '#include <signal.h>' fail 'names signal'
row formats/pe.h 'struct sigaction a; int b = umask(0);' fail 'names sigaction'
row dictionary.h 'void f(std::FILE* = stdout);' fail 'names stdout'
row lint/findings.h '/* a block */ int x; std::fputs("", stdout);' fail 'names stdout'
row cli/streams.h 'void f() { std::fprintf(stderr, "x"); std::exit(1); }' pass
row vorlang.cpp '#include <csignal>
void f() { std::signal(SIGPIPE, SIG_IGN); ::umask(0); }' pass
row translate/masks.h '// exit early: nothing goes to stdout' pass
row translate/masks.h 'const char* m = "cannot exit \"stderr\""; char q = '"'\"'"'; int exit_code;' pass
row translate/masks.h '/* exit,
   stderr */ int x;' pass
row core/limits.h '#include "dictionary.h"' fail 'core includes dictionary.h of engine'
row formats/pe.h '#include "scan.h"' fail 'formats includes scan.h of template'
row cli/streams.h '#include "findings.h"' fail 'cli includes findings.h of lint'
row translator.cpp '#include "masks.h"' pass
row template/scan.h '#include "masks.h"' fail 'template includes masks.h of translate'
row lint/findings.h '#include "pe.h"
#include "scan.h"
#include "dictionary.h"
#include <string>' pass
row translate/masks.h '#include "core/limits.h"' fail 'by a path'
row core/limits.h '#include "nowhere.h"' fail 'no header of src/'

# An allow-list entry lets its finding through, and one that finds nothing
# fails.
fresh
printf 'int x = stdout != nullptr;\n' >> "$tree/src/dictionary.h"
printf '# known\nsrc/dictionary.h stdout\n' > "$work/allow"
sh "$check" "$tree" "$work/allow" > /dev/null || { echo "FAIL: an allowed finding fails"; failures=$((failures + 1)); }
fresh
if sh "$check" "$tree" "$work/allow" > /dev/null; then
    echo "FAIL: a stale allow-list entry passes"
    failures=$((failures + 1))
fi

[ "$failures" -eq 0 ]
