// A menu (RT_MENU), in either of its forms: the standard one (a version word
// 0) and the extended one (version 1), whose items carry 32-bit type, state
// and id words and stand on 4-byte boundaries.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "resource_text.h"

// One item, popups included. The items stand in file order: a popup's
// children follow it, and the flags say where a level ends, so a re-encode
// writes them one after the other and never touches a flag.
struct MenuItem {
    // Standard: the option word (0x10 a popup, 0x80 the level's last item).
    // Extended: the resource-info word (0x01 a popup, 0x80 the last item).
    std::uint16_t flags = 0;
    std::uint32_t type = 0;     // extended only
    std::uint32_t state = 0;    // extended only
    std::uint32_t id = 0;       // standard: 16 bits, and none for a popup
    std::uint32_t help_id = 0;  // extended popups only
    ResourceText text;
    unsigned depth = 0;  // the level, 0 the menu bar; read, not written
};

struct Menu {
    bool extended = false;
    std::string header_extra;  // the bytes the header's size/offset word counts (extended: the help id)
    std::vector<MenuItem> items;
    bool padded = false;   // extended: the items end with zeros up to a 4-byte boundary
    std::string trailing;  // else the bytes after the last item, kept as they are
};

bool is_popup(const Menu& menu, const MenuItem& item);

// Fails on input that ends inside an item or before the last level closes,
// on a version other than 0 and 1, and on nesting past 64 levels.
ResourceResult<Menu> decode_menu(std::string_view bytes);
ResourceResult<std::string> encode_menu(const Menu& menu);
// Every item's text in order, separators (empty texts) included.
std::vector<ResourceText*> menu_texts(Menu& menu);
