// The relax levels: what may stand before a text, a byte before a byte text
// and a unit before a UTF-16 text.
#pragma once

#include <cstdint>

constexpr int kRelaxStrict = 0;    // a 0 byte only
constexpr int kRelaxNonAlnum = 1;  // anything but an ASCII letter or digit
constexpr int kRelaxAny = 3;       // anything

inline bool is_ascii_alnum(std::uint32_t c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The test of a byte or unit before a text that is not 0; a level of 2
// acts as 1.
inline bool passes(std::uint32_t before, int relax) {
    if (relax <= 2 && is_ascii_alnum(before)) return false;
    return relax != kRelaxStrict;
}
