// The UTF-16LE forms of texts: what the wide pass seeks and writes for an
// entry, and the UTF-8 form of a program's UTF-16 text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>


// Appends the UTF-16LE bytes of utf8 to out; false (out then holds part of
// them) when utf8 is no well-formed UTF-8: an overlong form, a surrogate, a
// code point above U+10FFFF or a cut sequence.
bool utf8_to_utf16le(std::string_view utf8, std::string& out);

// Appends the UTF-8 form of count UTF-16LE units at units to out; false when
// they hold an unpaired surrogate.
bool utf16le_to_utf8(const unsigned char* units, std::size_t count, std::string& out);

// Whether utf8 is well-formed UTF-8, as utf8_to_utf16le takes it.
bool is_utf8(std::string_view utf8);

// Whether an entry has a wide form: its original and its full translation
// are UTF-8.
bool has_wide_form(std::string_view original, std::string_view translation);

// The wide form of an entry: its original in UTF-16LE, and its full
// translation cut to as many units (never between the halves of a
// surrogate pair) and padded with blanks. A menu reader takes a text up to
// its first zero unit, so a zero would end the text early.
struct WideForm {
    std::string original;
    std::string translation;  // as many bytes as original
};

// Appends the entry's wide form to out, the original's bytes and then as
// many of the translation's; false, and out as it was, when it has none.
bool append_wide_form(std::string_view original, std::string_view translation, std::string& out);

// False, and no form, when the entry has none.
bool wide_form(std::string_view original, std::string_view translation, WideForm& form);

