#include "pe_image.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <iterator>

namespace {

constexpr std::size_t kCoffSize = 24;  // with the signature
constexpr std::size_t kSectionSize = 40;
constexpr std::size_t kSymbolSize = 18;

}  // namespace

PeDirectory PeImage::directory(PeDirectoryIndex index) const {
    const auto i = static_cast<std::size_t>(index);
    return i < directories.size() ? directories[i] : PeDirectory{};
}

std::optional<PeSpan> PeImage::span(std::uint64_t rva, std::uint64_t size) const {
    const PeSection* all = sections.data();
    auto it = std::upper_bound(by_address.begin(), by_address.end(), rva,
                               [all](std::uint64_t r, std::size_t i) { return r < all[i].virtual_address; });
    std::uint64_t offset = rva, end = std::min<std::uint64_t>(headers_size, file_size);
    const PeSection* s = it == by_address.begin() ? nullptr : all + *std::prev(it);
    if (s != nullptr && rva - s->virtual_address < s->raw_size) {
        offset = s->raw_offset + (rva - s->virtual_address);
        end = std::uint64_t{s->raw_offset} + s->raw_size;
    } else if (rva >= headers_size) {
        return std::nullopt;
    }
    if (offset > end || size > end - offset) return std::nullopt;
    assert(end - offset <= UINT32_MAX);  // a section's size and the headers' are 32-bit fields
    return PeSpan{offset, static_cast<std::uint32_t>(end - offset)};
}

std::optional<PeImage> read_pe_image(FileBytes& file) {
    PeImage img;
    img.file_size = file.size();
    unsigned char b[8];
    if (!file.read(0x3C, b, 4)) return std::nullopt;
    img.pe_offset = le32(b);

    unsigned char coff[kCoffSize];
    if (!file.read(img.pe_offset, coff, sizeof coff) || std::memcmp(coff, "PE\0\0", 4) != 0) return std::nullopt;
    img.machine = static_cast<std::uint16_t>(le16(coff + 4));
    const std::uint64_t section_count = le16(coff + 6);
    img.symbols_offset = le32(coff + 12);
    img.symbol_count = le32(coff + 16);
    img.optional_size = static_cast<std::uint16_t>(le16(coff + 20));
    img.coff_characteristics = static_cast<std::uint16_t>(le16(coff + 22));

    img.optional_offset = img.pe_offset + kCoffSize;
    std::vector<unsigned char> opt(img.optional_size);
    if (!file.read(img.optional_offset, opt.data(), opt.size())) return std::nullopt;
    const std::uint32_t magic = opt.size() >= 2 ? le16(opt.data()) : 0;
    if (magic != 0x10b && magic != 0x20b) return std::nullopt;
    img.plus = magic == 0x20b;
    const std::size_t dirs_at = img.plus ? 112 : 96;
    if (opt.size() < dirs_at) return std::nullopt;
    img.image_base = img.plus ? le64(&opt[24]) : le32(&opt[28]);
    img.section_alignment = le32(&opt[32]);
    img.file_alignment = le32(&opt[36]);
    img.headers_size = le32(&opt[60]);
    const std::size_t dirs = std::min<std::size_t>(le32(&opt[dirs_at - 4]), (opt.size() - dirs_at) / 8);
    for (std::size_t i = 0; i < dirs; ++i) {
        img.directories.push_back({le32(&opt[dirs_at + i * 8]), le32(&opt[dirs_at + i * 8 + 4])});
    }

    if (img.symbols_offset != 0) {
        const std::uint64_t strings_at = img.symbols_offset + std::uint64_t{img.symbol_count} * kSymbolSize;
        if (!file.read(strings_at, b, 4)) return std::nullopt;
        const std::uint64_t strings_end = strings_at + std::max<std::uint64_t>(le32(b), 4);
        if (strings_end > img.file_size) return std::nullopt;
        img.string_table = {strings_at, strings_end};
    }

    const std::uint64_t table_at = img.optional_offset + img.optional_size;
    std::vector<unsigned char> table(static_cast<std::size_t>(section_count * kSectionSize));
    if (!file.read(table_at, table.data(), table.size())) return std::nullopt;
    img.section_table = {table_at, table_at + table.size()};
    std::uint64_t image_end = std::min<std::uint64_t>(img.headers_size, img.file_size);
    for (std::size_t i = 0; i < section_count; ++i) {
        const unsigned char* s = &table[i * kSectionSize];
        PeSection& section = img.sections.emplace_back();
        section.name.assign(reinterpret_cast<const char*>(s), ::strnlen(reinterpret_cast<const char*>(s), 8));
        section.virtual_size = le32(s + 8);
        section.virtual_address = le32(s + 12);
        section.raw_size = le32(s + 16);
        section.raw_offset = le32(s + 20);
        section.characteristics = le32(s + 36);
        if (!section.has_bytes()) continue;
        if (section.raw_offset > img.file_size || section.raw_size > img.file_size - section.raw_offset) {
            return std::nullopt;
        }
        img.by_address.push_back(i);
        image_end = std::max<std::uint64_t>(image_end, std::uint64_t{section.raw_offset} + section.raw_size);
    }
    std::sort(img.by_address.begin(), img.by_address.end(), [&](std::size_t x, std::size_t y) {
        return img.sections[x].virtual_address < img.sections[y].virtual_address;
    });
    img.overlay = {image_end, img.file_size};
    return img;
}
