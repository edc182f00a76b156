#include "dict_template.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "dictionary.h"
#include "format_directives.h"
#include "utf8.h"

namespace {

bool continuation(unsigned char c) { return c >= 0x80 && c <= 0xbf; }

// A lead byte and the continuation bytes after it are kept on one line.
std::size_t unit_size(std::string_view text, std::size_t i) {
    std::size_t n = 1;
    if (static_cast<unsigned char>(text[i]) < 0xc0) return n;
    while (i + n < text.size() && n < 4 && continuation(static_cast<unsigned char>(text[i + n]))) ++n;
    return n;
}

// A text with a plain separator in it is written between quotes.
bool needs_quotes(std::string_view text) { return std::any_of(text.begin(), text.end(), is_plain_separator); }

// Fills comment lines of at most kReadPiece characters, LF included;
// a line that is continued ends with a backslash.
}  // namespace

std::size_t escape_byte(unsigned char c, char* out) {
    if (c == '\n' || c == '\r' || c == '\t' || c == '"' || c == '\\') {
        out[0] = '\\';
        out[1] = c == '\n' ? 'n' : c == '\r' ? 'r' : c == '\t' ? 't' : static_cast<char>(c);
        return 2;
    }
    if (c < 0x20 || c == 0x7f) {
        std::snprintf(out, 5, "\\x%02x", c);
        return 4;
    }
    return 0;
}

std::string escaped(std::string_view text) {
    std::string out;
    for (char c : text) {
        char esc[5];
        std::size_t n = escape_byte(static_cast<unsigned char>(c), esc);
        if (n != 0) {
            out.append(esc, n);
        } else {
            out.push_back(c);
        }
    }
    return out;
}

namespace {

bool plain_label(std::string_view name) {
    return std::all_of(name.begin(), name.end(), [](char c) { return c > ' ' && c < 0x7f; });
}

}  // namespace

std::string label_text(std::string_view name) {
    return plain_label(name) ? std::string(name) : "\"" + escaped(name) + "\"";
}

void write_label(std::FILE* out, std::string_view name) {
    if (plain_label(name)) {
        write_comment(out, name);
    } else {
        write_comment(out, "", name);
    }
}

namespace {

struct CommentLines {
    std::FILE* out;
    char line[kReadPiece + 1];
    std::size_t size;

    explicit CommentLines(std::FILE* to) : out(to), line{}, size(0) { start(); }

    void start() {
        std::memcpy(line, kCommentMark.data(), kCommentMark.size());
        size = kCommentMark.size();
        line[size++] = ' ';
    }

    // A unit (a character, an escape or a UTF-8 sequence) is never split.
    void unit(const char* bytes, std::size_t n) {
        if (size + n + 2 > kReadPiece) {
            line[size++] = '\\';
            line[size++] = '\n';
            std::fwrite(line, 1, size, out);
            start();
        }
        std::memcpy(line + size, bytes, n);
        size += n;
    }

    void plain(std::string_view text) {
        for (std::size_t i = 0; i < text.size();) {
            std::size_t n = unit_size(text, i);
            unit(text.data() + i, n);
            i += n;
        }
    }

    void literal(std::string_view text) {
        unit("\"", 1);
        for (std::size_t i = 0; i < text.size();) {
            char esc[5];
            if (std::size_t e = escape_byte(static_cast<unsigned char>(text[i]), esc); e != 0) {
                unit(esc, e);
                ++i;
            } else {
                // Other bytes stand for themselves.
                std::size_t n = unit_size(text, i);
                unit(text.data() + i, n);
                i += n;
            }
        }
        unit("\"", 1);
    }

    void finish() {
        line[size++] = '\n';
        std::fwrite(line, 1, size, out);
    }
};

const char* problem_text(LineProblem p) {
    switch (p) {
        case LineProblem::quote: return "holds a double quote, which no dictionary text can: ";
        case LineProblem::line_feed: return "holds a line feed, which ends a dictionary line: ";
        case LineProblem::protected_word:
            return "its first capital V begins \"Verkum\", so the line would be ignored: ";
        case LineProblem::comment_start: return "begins with !#, so its line would be a comment: ";
        case LineProblem::no_read_back: return "its line would not read back as written: ";
        case LineProblem::too_long:
        case LineProblem::none: break;
    }
    return "";
}

}  // namespace

bool looks_like_text(std::string_view text, std::size_t min_size) {
    if (text.size() < min_size) return false;
    for (std::size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if ((c >= 0x20 && c < 0x7f) || c == '\t' || c == '\n' || c == '\r') {
            ++i;
            continue;
        }
        std::uint32_t cp = 0;
        std::size_t n = c >= 0x80 ? utf8_sequence(text, i, cp) : 0;
        if (n == 0) return false;
        i += n;
    }
    return true;
}

TemplateLine template_line(std::string_view text) {
    TemplateLine t{};
    t.problem = LineProblem::none;
    // The line begins with the text or a quote and holds nothing but the text
    // twice, blanks, quotes and the LF: so the tests of the reader that look
    // at the whole line come down to tests of the text.
    if (text.find(kQuote) != std::string_view::npos) {
        t.problem = LineProblem::quote;
        return t;
    }
    if (text.find('\n') != std::string_view::npos) {
        t.problem = LineProblem::line_feed;
        return t;
    }
    if (is_protected_line(text)) {
        t.problem = LineProblem::protected_word;
        return t;
    }
    const bool quoted = needs_quotes(text);
    if (!quoted && is_comment_line(text)) {
        t.problem = LineProblem::comment_start;
        return t;
    }
    // A CR directly before the LF would be dropped: a blank keeps it.
    const bool guard = !quoted && !text.empty() && text.back() == '\r';
    const std::size_t size = quoted ? 2 * text.size() + 6 : 2 * text.size() + 2 + (guard ? 1 : 0);
    if (size > kReadPiece) {
        t.problem = LineProblem::too_long;
        return t;
    }
    char* p = t.line;
    auto put = [&p](std::string_view s) {
        std::memcpy(p, s.data(), s.size());
        p += s.size();
    };
    if (quoted) {
        put("\"");
        put(text);
        put("\" \"");
        put(text);
        put("\"\n");
    } else {
        put(text);
        put(" ");
        put(text);
        put(guard ? " \n" : "\n");
    }
    t.size = static_cast<std::size_t>(p - t.line);
    return t;
}

bool reads_back(std::string_view line, std::string_view text) {
    ReadResult r = read_trans_bytes(line.data(), line.size(), {});
    const Trans_Tbl* e = r.entries.get();
    return e != nullptr && e->next == nullptr && text.size() < kTextField && std::string_view(e->org_name) == text &&
           std::string_view(e->new_name) == text && std::string_view(e->new_name_full) == text;
}

void write_comment(std::FILE* out, std::string_view message) {
    CommentLines lines(out);
    lines.plain(message);
    lines.finish();
}

void write_comment(std::FILE* out, std::string_view message, std::string_view text) {
    CommentLines lines(out);
    lines.plain(message);
    lines.literal(text);
    lines.finish();
}

void write_problem(std::FILE* out, const TemplateLine& t, std::string_view text) {
    if (t.problem != LineProblem::too_long) {
        write_comment(out, problem_text(t.problem), text);
        return;
    }
    // Tell the user how long a translation can be on a line of its own.
    const bool quoted = needs_quotes(text);
    const std::size_t frame = quoted ? 6 : 2;  // quotes, blank and LF
    const std::size_t room = kReadPiece - frame;
    char message[120];
    if (text.size() < room) {
        std::snprintf(message, sizeof message,
                      "%zu bytes, too long to repeat on a line; a translation of up to %zu fits: ",
                      text.size(), room - text.size());
    } else {
        std::snprintf(message, sizeof message, "%zu bytes, too long for a line with a translation: ",
                      text.size());
    }
    write_comment(out, message, text);
}

bool write_template_entry(std::FILE* out, std::string_view text) {
    TemplateLine t = template_line(text);
    if (t.problem == LineProblem::none && !reads_back({t.line, t.size}, text)) t.problem = LineProblem::no_read_back;
    if (t.problem != LineProblem::none) {
        write_problem(out, t, text);
        return false;
    }
    const std::string directives = directive_list(text);
    if (!directives.empty()) write_comment(out, "keep " + directives + " in this order");
    std::fwrite(t.line, 1, t.size, out);
    return true;
}
