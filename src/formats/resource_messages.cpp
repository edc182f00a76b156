#include "resource_messages.h"

#include <algorithm>

namespace {

constexpr std::size_t block_size = 12;
constexpr std::size_t entry_header = 4;

std::size_t text_bytes(const MessageEntry& e) { return e.is_wide() ? e.text.size() * 2 : e.ansi.size(); }
std::size_t terminator(const MessageEntry& e) { return e.is_wide() ? 2 : 1; }

// The zeros after the text in the normal form.
std::size_t padding(const MessageEntry& e) {
    std::size_t n = entry_header + text_bytes(e) + terminator(e);
    return terminator(e) + (4 - n % 4) % 4;
}

}  // namespace

ResourceResult<MessageTable> decode_message_table(std::string_view bytes) {
    ResourceReader in(bytes);
    ResourceResult<MessageTable> r;
    std::uint32_t count = in.u32();
    if (!in.failed() && in.left() / block_size < count) in.fail("the block count runs past the end");
    if (in.failed()) return resource_failure<MessageTable>(in.error(), in.error_offset());
    std::size_t used = 0;  // bytes of entries read, all blocks together
    for (std::uint32_t i = 0; i < count; ++i) {
        std::size_t at = in.pos();
        MessageBlock block;
        block.low_id = in.u32();
        block.high_id = in.u32();
        std::uint32_t offset = in.u32();
        if (block.high_id < block.low_id) return resource_failure<MessageTable>("a message block's ids run backwards", at);
        if (offset > bytes.size()) return resource_failure<MessageTable>("a message block's offset is past the end", at);
        std::uint64_t entries = std::uint64_t{block.high_id} - block.low_id + 1;
        if ((bytes.size() - offset) / entry_header < entries)
            return resource_failure<MessageTable>("a message block's entries run past the end", at);
        ResourceReader e(bytes.substr(offset));
        for (std::uint64_t j = 0; j < entries; ++j) {
            std::size_t entry_at = e.pos();
            std::uint16_t length = e.u16();
            MessageEntry entry;
            entry.flags = e.u16();
            if (!e.failed() && length < entry_header) e.fail("a message entry shorter than its header");
            std::string body = e.bytes(length - entry_header, "a message entry");
            if (e.failed()) return resource_failure<MessageTable>(e.error(), offset + entry_at);
            used += length;
            if (used > bytes.size()) return resource_failure<MessageTable>("message entries overlap", offset + entry_at);
            std::size_t end = 0;
            if (entry.is_wide()) {
                while (end + 1 < body.size() && (body[end] != 0 || body[end + 1] != 0)) {
                    entry.text.push_back(static_cast<char16_t>(static_cast<unsigned char>(body[end]) |
                                                               static_cast<unsigned char>(body[end + 1]) << 8));
                    end += 2;
                }
            } else {
                end = std::min(body.find('\0'), body.size());
                entry.ansi = body.substr(0, end);
            }
            entry.tail = body.substr(end);
            entry.padded = entry.tail == std::string(padding(entry), '\0');
            if (entry.padded) entry.tail.clear();
            block.entries.push_back(std::move(entry));
        }
        r.value.blocks.push_back(std::move(block));
    }
    return r;
}

ResourceResult<std::string> encode_message_table(const MessageTable& table) {
    ResourceWriter out;
    std::size_t offset = 4 + table.blocks.size() * block_size;
    out.u32(static_cast<std::uint32_t>(table.blocks.size()));
    for (const MessageBlock& block : table.blocks) {
        if (block.entries.empty() || block.entries.size() - 1 > 0xFFFFFFFFu - block.low_id)
            return resource_failure<std::string>("a message block with no entries or ids past 32 bits", out.out.size());
        out.u32(block.low_id);
        out.u32(static_cast<std::uint32_t>(block.low_id + block.entries.size() - 1));
        out.u32(static_cast<std::uint32_t>(offset));
        for (const MessageEntry& e : block.entries) {
            offset += entry_header + text_bytes(e) + (e.padded ? padding(e) : e.tail.size());
        }
        if (offset > 0xFFFFFFFFu) return resource_failure<std::string>("a message table past 4 GiB", out.out.size());
    }
    for (const MessageBlock& block : table.blocks) {
        for (const MessageEntry& e : block.entries) {
            std::size_t length = entry_header + text_bytes(e) + (e.padded ? padding(e) : e.tail.size());
            if (length > 0xFFFF) return resource_failure<std::string>("a message entry past 65,535 bytes", out.out.size());
            out.u16(static_cast<std::uint16_t>(length));
            out.u16(e.flags);
            if (e.is_wide()) out.units(e.text);
            else out.out += e.ansi;
            out.out += e.padded ? std::string(padding(e), '\0') : e.tail;
        }
    }
    ResourceResult<std::string> r;
    r.value = std::move(out.out);
    return r;
}

std::vector<ResourceText*> message_texts(MessageTable& table) {
    std::vector<ResourceText*> texts;
    for (MessageBlock& block : table.blocks) {
        for (MessageEntry& e : block.entries) {
            if (e.is_wide()) texts.push_back(&e.text);
        }
    }
    return texts;
}
