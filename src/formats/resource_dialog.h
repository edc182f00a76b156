// A dialog (RT_DIALOG), in either of its forms: the standard template and
// the extended one (version 1, signature 0xFFFF). Each control stands on a
// 4-byte boundary from the resource's start.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "resource_text.h"

struct DialogControl {
    std::uint32_t help_id = 0;  // extended only
    std::uint32_t ex_style = 0;
    std::uint32_t style = 0;
    std::int16_t x = 0, y = 0, cx = 0, cy = 0;
    std::uint32_t id = 0;  // standard: 16 bits
    NameOrOrdinal window_class;  // 0x0080 a button, 0x0082 a static, ... or a class name
    NameOrOrdinal title;         // a text, or the ordinal of an icon or a bitmap
    std::string creation_data;   // the bytes its count word counts
};

struct Dialog {
    bool extended = false;
    std::uint16_t version = 1;       // extended only
    std::uint16_t signature = 0xFFFF;  // extended only
    std::uint32_t help_id = 0;       // extended only
    std::uint32_t ex_style = 0;
    std::uint32_t style = 0;
    std::int16_t x = 0, y = 0, cx = 0, cy = 0;
    NameOrOrdinal menu;
    NameOrOrdinal window_class;
    ResourceText title;
    // The font, there when the style has DS_SETFONT (0x40).
    std::uint16_t point_size = 0;
    std::uint16_t weight = 0;   // extended only
    std::uint8_t italic = 0;    // extended only
    std::uint8_t charset = 0;   // extended only
    ResourceText typeface;
    std::vector<DialogControl> controls;
    bool padded = true;    // the controls end with zeros up to a 4-byte boundary
    std::string trailing;  // else the bytes after the last control, kept as they are
};

bool has_font(const Dialog& dialog);

// Fails on input that ends inside the header or a control, or holds fewer
// controls than its count says; the count never sizes anything before the
// bytes are there.
ResourceResult<Dialog> decode_dialog(std::string_view bytes);
// Fails on more than 65,535 controls or a 16-bit field given a wider value.
ResourceResult<std::string> encode_dialog(const Dialog& dialog);
// The caption, then each control's title that is a text (not an ordinal).
std::vector<ResourceText*> dialog_texts(Dialog& dialog);
