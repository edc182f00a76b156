// Helpers for the tests that read or write PO catalogues: a header that
// gettext's msgfmt -c accepts, a text written as a catalogue's string, and
// msgfmt -c itself (MSGFMT_BIN is "" where gettext is not installed).
#pragma once

#include <cstdio>
#include <string>

#include "run_tool.h"

// 11 lines.
inline const std::string kPoHeader =
    "msgid \"\"\n"
    "msgstr \"\"\n"
    "\"Project-Id-Version: t 1\\n\"\n"
    "\"PO-Revision-Date: 2026-01-01 00:00+0000\\n\"\n"
    "\"Last-Translator: T <t@example.org>\\n\"\n"
    "\"Language-Team: Dutch\\n\"\n"
    "\"Language: nl\\n\"\n"
    "\"MIME-Version: 1.0\\n\"\n"
    "\"Content-Type: text/plain; charset=UTF-8\\n\"\n"
    "\"Content-Transfer-Encoding: 8bit\\n\"\n"
    "\"Plural-Forms: nplurals=2; plural=(n != 1);\\n\"\n";

// text between quotes, escaped as gettext writes it: \n \t \r \" \\, octal
// for the other control bytes.
inline std::string po_string(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        switch (c) {
            case '\n': out += "\\n"; break;
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char octal[8];
                    std::snprintf(octal, sizeof octal, "\\%03o", static_cast<unsigned>(c));
                    out += octal;
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

// msgfmt -c on the catalogue name in dir; status 0 when gettext accepts it.
inline RunResult msgfmt_check(const TempDir& dir, const std::string& name) {
    return run_program(MSGFMT_BIN, dir.path(), {"-c", "-o", "/dev/null", name});
}
