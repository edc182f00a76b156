// A string table block (RT_STRING): the 16 strings whose ids share all but
// their low 4 bits, each a 16-bit count of units and the units, with no
// terminator; an unused id has the count 0.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "resource_text.h"

struct StringTableBlock {
    std::array<ResourceText, 16> strings;
    std::string trailing;  // bytes after the 16th string (padding), kept as they are
};

ResourceResult<StringTableBlock> decode_string_table(std::string_view bytes);
// Fails when a string holds more than 65,535 units.
ResourceResult<std::string> encode_string_table(const StringTableBlock& block);
// The 16 strings in id order, empty ones included, for the caller to edit.
std::vector<ResourceText*> string_table_texts(StringTableBlock& block);
