// Version information (RT_VERSION): a tree of blocks, each a length, a value
// length, a type, a key and a value, then its children, every one of them on
// a 4-byte boundary. The root (VS_VERSION_INFO) holds the fixed file info as
// its value; the texts a user sees are the values below StringFileInfo.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "resource_text.h"

struct VersionBlock {
    ResourceText key;
    std::uint16_t type = 0;  // 1: the value is text, 0: bytes
    std::string value;       // type 0: the bytes the value length counts
    // Type 1: the units up to the first zero, and the units the value
    // length counts after them (the terminator, where it is counted).
    ResourceText text;
    ResourceText text_rest;
    std::vector<VersionBlock> children;
    // The block ends with zeros up to a 4-byte boundary (counted by its
    // length); else it ends where its value or last child ends.
    bool padded = false;
};

// Fails on lengths shorter than a block's header or past its parent's end,
// a value past its block, and nesting past 8 levels. Bytes after the root
// are padding the caller's container holds, not the resource's, and are
// left out.
ResourceResult<VersionBlock> decode_version(std::string_view bytes);
// Every length and value length is recomputed; fails on a block that grows
// past 65,535 bytes.
ResourceResult<std::string> encode_version(const VersionBlock& root);
// The text values below the StringFileInfo block, in order.
std::vector<ResourceText*> version_texts(VersionBlock& root);
