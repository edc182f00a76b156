#include "resource_strings.h"

ResourceResult<StringTableBlock> decode_string_table(std::string_view bytes) {
    ResourceReader in(bytes);
    ResourceResult<StringTableBlock> r;
    for (ResourceText& s : r.value.strings) {
        std::uint16_t count = in.u16();
        if (!in.failed() && in.left() / 2 < count) in.fail("a string's count runs past the end");
        if (in.failed()) return resource_failure<StringTableBlock>(in.error(), in.error_offset());
        s.reserve(count);
        for (std::uint16_t i = 0; i < count; ++i) s.push_back(static_cast<char16_t>(in.u16()));
    }
    r.value.trailing = std::string(in.rest());
    return r;
}

ResourceResult<std::string> encode_string_table(const StringTableBlock& block) {
    ResourceWriter out;
    for (const ResourceText& s : block.strings) {
        if (s.size() > 0xFFFF) return resource_failure<std::string>("a string holds more than 65,535 units", out.out.size());
        out.u16(static_cast<std::uint16_t>(s.size()));
        out.units(s);
    }
    out.out += block.trailing;
    ResourceResult<std::string> r;
    r.value = std::move(out.out);
    return r;
}

std::vector<ResourceText*> string_table_texts(StringTableBlock& block) {
    std::vector<ResourceText*> texts;
    for (ResourceText& s : block.strings) texts.push_back(&s);
    return texts;
}
