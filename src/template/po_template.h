// A PO template (POT) of a program's texts, for the tools translators use:
// one message for every distinct text, in order of first occurrence, with
// an extracted comment for each place it stands and the room a translation
// has there, and the flags that tell gettext's tools and the translation
// platforms about printf directives and the cut.
#pragma once

#include <cstddef>
#include <cstdio>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// How much room a translation has where its original stands.
enum class TextRoom {
    bytes,  // a zero-terminated text: the translation is cut to its bytes
    units,  // a UTF-16 text: cut to its units
    any,    // a resource text read by its structure: written whole
};

// The places of one text that get a comment of their own; further ones are
// counted, so that a text found all over a program stays a short message.
constexpr std::size_t kShownPlaces = 8;

// text in the form that gettext's tools write between the quotes of a
// msgid: \n, \t, \r, \a, \b, \f, \v, \" and \\ escaped, every other control
// byte (below 0x20, and 0x7f) as three octal digits, all else as it is.
std::string po_escaped(std::string_view text);

// Whether a message gets the c-format flag: its printf directives are all
// complete, and at least one reads an argument. gettext's tools then check
// that a translation keeps them.
bool is_c_format(std::string_view text);

// The heading of the header entry: comment lines (without "# "), each one
// line of text, and the date that the header gives as the template's.
struct PoHeader {
    std::vector<std::string> notes;
    std::string creation_date;  // "2026-12-09 14:00+0000"
};

class PoTemplate {
public:
    // Adds a place of text, which must be UTF-8 (the header says so);
    // heading names it ("" where the program has no sections). A text not
    // added before becomes the last message. Throws std::bad_alloc.
    void add(std::string_view text, std::string_view heading, TextRoom room);

    std::size_t size() const { return messages_.size(); }

    // Writes the header entry and every message to out.
    void write(std::FILE* out, const PoHeader& header) const;

private:
    struct Place {
        std::string heading;
        TextRoom room;
    };
    struct Message {
        std::string text;
        std::vector<Place> places;  // at most kShownPlaces, each once
        std::size_t more = 0;       // places beyond them
    };
    std::deque<Message> messages_;  // a deque: the index's keys view its texts
    std::unordered_map<std::string_view, std::size_t> index_;
};
