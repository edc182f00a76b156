// A message table (RT_MESSAGETABLE): blocks of consecutive message ids, each
// pointing at its entries; an entry is a length, a flags word (1: UTF-16,
// 0: bytes of the program's code page) and its zero-terminated text, padded.
//
// An encode lays the entries out one block after the other right behind the
// block array, as the message compiler does; a table laid out otherwise is
// read alike but written in that order.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "resource_text.h"

struct MessageEntry {
    std::uint16_t flags = 1;
    ResourceText text;  // flags 1: the units up to the first zero
    std::string ansi;   // flags 0: the bytes up to the first zero
    // The text ends with the least zeros that end it and reach a 4-byte
    // boundary; else the bytes after it that its length counts.
    bool padded = true;
    std::string tail;
    bool is_wide() const { return (flags & 1) != 0; }
};

struct MessageBlock {
    std::uint32_t low_id = 0;
    std::uint32_t high_id = 0;  // read; an encode writes low_id + entries - 1
    std::vector<MessageEntry> entries;
};

struct MessageTable {
    std::vector<MessageBlock> blocks;
};

// Fails on counts and offsets past the end, a block whose ids run backwards,
// an entry shorter than its header, and entries that overlap (so that no
// input makes more entries or text than it has bytes).
ResourceResult<MessageTable> decode_message_table(std::string_view bytes);
// Fails on an entry past 65,535 bytes or an empty block.
ResourceResult<std::string> encode_message_table(const MessageTable& table);
// The UTF-16 texts in block and id order; entries of code-page bytes are
// left out.
std::vector<ResourceText*> message_texts(MessageTable& table);
