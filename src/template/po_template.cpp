#include "po_template.h"

#include <algorithm>
#include <cstdint>
#include <optional>

#include "format_directives.h"
#include "utf8.h"
#include "wide_text.h"

namespace {

// The escapes gettext's tools write; 0 for a byte that has none of them.
char named_escape(unsigned char c) {
    switch (c) {
        case '\a': return 'a';
        case '\b': return 'b';
        case '\f': return 'f';
        case '\n': return 'n';
        case '\r': return 'r';
        case '\t': return 't';
        case '\v': return 'v';
        case '"': return '"';
        case '\\': return '\\';
        default: return 0;
    }
}

// A comment line's text (a file or section name may hold any byte): its
// control bytes as the msgid escapes them, each byte that is no part of
// well-formed UTF-8 as \xHH, so that the file stays UTF-8, line by line.
std::string comment_text(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::uint32_t cp = 0;
        const std::size_t n = c < 0x80 ? 1 : utf8_sequence(text, i, cp);
        if (c < 0x20 || c == 0x7f) {
            out += po_escaped(text.substr(i, 1));
        } else if (n == 0) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else {
            out += text.substr(i, n);
        }
        i += n == 0 ? 1 : n;
    }
    return out;
}

std::string room_text(const std::string& text, TextRoom room, std::size_t& size) {
    switch (room) {
        case TextRoom::bytes:
            size = text.size();
            return "room: " + std::to_string(size) + " bytes (UTF-8)";
        case TextRoom::units: {
            std::string units;
            utf8_to_utf16le(text, units);
            size = units.size() / 2;
            return "room: " + std::to_string(size) + " UTF-16 units";
        }
        case TextRoom::any:
            break;
    }
    return "any length";
}

// A msgid or msgstr: on one line, or, when a line feed stands before its
// end, as gettext writes it: an empty first line and a line after each LF.
void write_string(std::FILE* out, const char* keyword, std::string_view text) {
    const std::size_t lf = text.find('\n');
    if (lf == std::string_view::npos || lf + 1 == text.size()) {
        std::fprintf(out, "%s \"%s\"\n", keyword, po_escaped(text).c_str());
        return;
    }
    std::fprintf(out, "%s \"\"\n", keyword);
    for (std::size_t from = 0; from < text.size();) {
        const std::size_t end = std::min(text.find('\n', from), text.size() - 1) + 1;
        std::fprintf(out, "\"%s\"\n", po_escaped(text.substr(from, end - from)).c_str());
        from = end;
    }
}

}  // namespace

std::string po_escaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (const char e = named_escape(c); e != 0) {
            out += '\\';
            out += e;
        } else if (c < 0x20 || c == 0x7f) {
            out += '\\';
            out += static_cast<char>('0' + (c >> 6));
            out += static_cast<char>('0' + ((c >> 3) & 7));
            out += static_cast<char>('0' + (c & 7));
        } else {
            out += ch;
        }
    }
    return out;
}

bool is_c_format(std::string_view text) {
    bool reads = false;
    for (const Directive& d : format_directives(text)) {
        if (!d.complete || d.kind.empty() || d.kind == "?") return false;
        reads = reads || d.kind != "%";
    }
    return reads;
}

void PoTemplate::add(std::string_view text, std::string_view heading, TextRoom room) {
    auto found = index_.find(text);
    if (found == index_.end()) {
        messages_.push_back(Message{std::string(text), {}, 0});
        found = index_.emplace(messages_.back().text, messages_.size() - 1).first;
    }
    Message& m = messages_[found->second];
    for (const Place& p : m.places) {
        if (p.room == room && p.heading == heading) return;
    }
    if (m.places.size() < kShownPlaces) {
        m.places.push_back(Place{std::string(heading), room});
    } else {
        ++m.more;
    }
}

void PoTemplate::write(std::FILE* out, const PoHeader& header) const {
    // The placeholders are those xgettext writes: msginit and the
    // translation platforms fill them in.
    std::fputs("# SOME DESCRIPTIVE TITLE.\n"
               "# Copyright (C) YEAR THE PACKAGE'S COPYRIGHT HOLDER\n"
               "# This file is distributed under the same license as the PACKAGE package.\n"
               "# FIRST AUTHOR <EMAIL@ADDRESS>, YEAR.\n"
               "#\n",
               out);
    for (const std::string& note : header.notes) std::fprintf(out, "# %s\n", comment_text(note).c_str());
    if (!header.notes.empty()) std::fputs("#\n", out);
    std::fprintf(out,
                 "#, fuzzy\n"
                 "msgid \"\"\n"
                 "msgstr \"\"\n"
                 "\"Project-Id-Version: PACKAGE VERSION\\n\"\n"
                 "\"Report-Msgid-Bugs-To: \\n\"\n"
                 "\"POT-Creation-Date: %s\\n\"\n"
                 "\"PO-Revision-Date: YEAR-MO-DA HO:MI+ZONE\\n\"\n"
                 "\"Last-Translator: FULL NAME <EMAIL@ADDRESS>\\n\"\n"
                 "\"Language-Team: LANGUAGE <LL@li.org>\\n\"\n"
                 "\"Language: \\n\"\n"
                 "\"MIME-Version: 1.0\\n\"\n"
                 "\"Content-Type: text/plain; charset=UTF-8\\n\"\n"
                 "\"Content-Transfer-Encoding: 8bit\\n\"\n",
                 po_escaped(comment_text(header.creation_date)).c_str());
    for (const Message& m : messages_) {
        std::fputs("\n", out);
        // The cut applies at the smallest room of its places.
        std::optional<std::size_t> max_length;
        for (const Place& p : m.places) {
            std::size_t size = 0;
            const std::string room = room_text(m.text, p.room, size);
            const std::string at = p.heading.empty() ? room : comment_text(p.heading) + "; " + room;
            std::fprintf(out, "#. %s\n", at.c_str());
            if (p.room != TextRoom::any) max_length = std::min(size, max_length.value_or(size));
        }
        if (m.more != 0) std::fprintf(out, "#. and %zu more places\n", m.more);
        const bool c_format = is_c_format(m.text);
        if (c_format || max_length) {
            std::string flags = c_format ? "c-format" : "";
            if (max_length) flags += (c_format ? ", max-length:" : "max-length:") + std::to_string(*max_length);
            std::fprintf(out, "#, %s\n", flags.c_str());
        }
        write_string(out, "msgid", m.text);
        std::fputs("msgstr \"\"\n", out);
    }
}
