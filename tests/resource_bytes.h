// Bytes shaped as the texts of a Windows program stand in it: menus,
// dialogs, string tables and wide literals, all UTF-16LE. Texts are given
// as UTF-16LE bytes (u16 makes them from literals), so that a test can also
// hand in unpaired surrogate halves.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

inline std::string word(std::uint16_t w) { return {static_cast<char>(w & 0xFF), static_cast<char>(w >> 8)}; }

inline std::string u16(std::u16string_view s) {
    std::string out;
    for (char16_t c : s) out += word(static_cast<std::uint16_t>(c));
    return out;
}

// A popup: its flags word, the text, a zero unit.
inline std::string menu_popup(std::string_view text, std::uint16_t flags = 0x10) {
    return word(flags) + std::string(text) + word(0);
}

// An item: flags, id, the text, a zero unit.
inline std::string menu_item(std::uint16_t id, std::string_view text, std::uint16_t flags = 0) {
    return word(flags) + word(id) + std::string(text) + word(0);
}

// A dialog's caption follows a zero unit.
inline std::string dialog_caption(std::string_view text) { return word(0) + std::string(text) + word(0); }

// A control's text follows its class: 0x0080 a button, 0x0082 a static.
inline std::string dialog_control(std::uint16_t cls, std::string_view text) {
    return word(0xFFFF) + word(cls) + std::string(text) + word(0);
}

// Each text is its length in units and its units, with no terminator.
inline std::string string_table(const std::vector<std::string>& texts) {
    std::string out;
    for (const std::string& t : texts) out += word(static_cast<std::uint16_t>(t.size() / 2)) + t;
    return out;
}

// A wide literal in data: a zero unit on both sides.
inline std::string wide_literal(std::string_view text) { return word(0) + std::string(text) + word(0); }
