// Well-formed UTF-8: the reader of one sequence that the wide forms use, and
// whether cutting a translation to its original's length splits a character.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// The length of the well-formed UTF-8 sequence at s[i] (i < s.size()), with
// its code point in cp; 0 when there is none there: a stray or missing
// continuation byte, an overlong form, a surrogate or a point above U+10FFFF.
std::size_t utf8_sequence(std::string_view s, std::size_t i, std::uint32_t& cp);

// A well-formed multi-byte sequence that a cut ends inside: the bytes kept
// are s[at, cut), those lost s[cut, at + size).
struct Utf8Cut {
    std::size_t at = 0;
    std::size_t size = 0;  // 0 when the cut splits no sequence
};

// Where keeping only the first cut bytes of text splits a character. Bytes
// that are no well-formed UTF-8 split nothing: the text was not UTF-8 to
// begin with.
Utf8Cut utf8_cut(std::string_view text, std::size_t cut);
