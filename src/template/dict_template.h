// Lines of a dictionary template: each translates a text of the program to
// itself, in the form that the dictionary reader reads back as exactly that
// entry, or, when no such line exists, comment lines that say why.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

#include "text_limits.h"

// True when text looks like text: at least min_size bytes, each of them
// printable ASCII, a tab, CR or LF, or part of a well-formed UTF-8 sequence.
bool looks_like_text(std::string_view text, std::size_t min_size);

// Why a text gets no line.
enum class LineProblem {
    none,
    quote,           // no dictionary text can hold a double quote
    line_feed,       // an LF ends the line
    protected_word,  // its first capital V begins "Verkum": the line is ignored
    comment_start,   // a plain line that begins with "!#" is a comment
    too_long,        // the text twice does not fit in one line
    no_read_back,    // the reader would take the line otherwise (never expected)
};

struct TemplateLine {
    LineProblem problem;
    std::size_t size;                   // of line, when problem is none
    char line[kReadPiece + 1];  // the line with its LF, 0-terminated
};

// The line that translates text (1 to 97 bytes, no 0 byte) to itself: the
// plain form when it holds no blank or tab, the quoted form otherwise.
TemplateLine template_line(std::string_view text);

// True when the dictionary reader makes exactly one entry of line, and that
// entry translates text to itself uncut. False also when memory runs out.
bool reads_back(std::string_view line, std::string_view text);

// Writes the message as comment lines; the reader ignores every one.
void write_comment(std::FILE* out, std::string_view message);

// Writes the message followed by text as a C string literal ("\n" for an LF,
// "\"" for a quote); a long one is continued with a backslash at the end of
// the line.
void write_comment(std::FILE* out, std::string_view message, std::string_view text);

// Writes the comment for a text that got no line: the reason and the text.
void write_problem(std::FILE* out, const TemplateLine& t, std::string_view text);

// Writes the line for text, after a comment naming the printf directives
// it must keep, or else the comment for why it has none: true for a line.
bool write_template_entry(std::FILE* out, std::string_view text);

// The escape of a byte in a C string literal ("\\n" for an LF, "\\x01"),
// written to out (room for 5); 0 when the byte stands for itself.
std::size_t escape_byte(unsigned char c, char* out);

// text with every byte escaped that escape_byte escapes.
std::string escaped(std::string_view text);

// Writes a name from the program's headers as one comment line: as it is
// when it is printable ASCII without blanks, as a C string literal otherwise.
void write_label(std::FILE* out, std::string_view name);

// The same name on one line of text, for other comments: a C string literal
// when write_label writes one.
std::string label_text(std::string_view name);
