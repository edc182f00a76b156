// The layout of a new resource section, on PE images built here: in place,
// grown at the end or before .reloc, a new section, and the refusals; the
// image's sizes, the checksum, the overlay, the COFF symbols and the
// certificate.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "pe_layout.h"

namespace {

constexpr std::uint32_t kFileAlign = 0x200, kSectionAlign = 0x1000;

std::uint32_t align(std::uint64_t v, std::uint32_t a) { return static_cast<std::uint32_t>((v + a - 1) / a * a); }

void put(std::vector<unsigned char>& b, std::size_t at, std::uint64_t v, unsigned n = 4) {
    for (unsigned i = 0; i < n; ++i) b[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

// The checksum as documented, summed in one pass and folded at the end: an
// oracle apart from the library's step-by-step folding.
std::uint32_t checksum_of(const std::vector<unsigned char>& b, std::size_t field) {
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < b.size(); i += 2) {
        if (i != field && i != field + 2) sum += b[i] + (i + 1 < b.size() ? b[i + 1] * 256u : 0u);
    }
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint32_t>(sum + b.size());
}

ResourceTree tree_with(std::size_t grown) {
    ResourceTree t;
    auto add = [&](ResourceKey type, std::uint32_t name, std::uint32_t lang, std::string data) {
        t.entries.push_back(
            {std::move(type), ResourceKey::of(name), ResourceKey::of(lang), 0, {data.begin(), data.end()}});
    };
    add(ResourceKey::of(u"PLAINTEXT"), 1, 0, "notes");
    add(ResourceKey::of(4), 1, 0x409, std::string(76, 'm'));
    std::string grown_data(grown, 's');
    for (std::size_t i = 0; i < grown; i += 7) grown_data[i] = static_cast<char>(i);
    add(ResourceKey::of(6), 1, 0x409, grown_data);
    add(ResourceKey::of(6), 1, 0x413, "Naamloos");
    return t;
}

enum class After { nothing, reloc, data };

// COFF symbols after the sections: none, right after them, after zero
// padding, or with a string table whose size leaves its last bytes out.
enum class Symbols { none, follow, padded, short_size };

constexpr std::size_t kPadding = 16;

// Two symbols and a string table of two long names.
std::string symbol_bytes(Symbols s) {
    std::string b;
    for (int i = 0; i < 36; ++i) b += static_cast<char>(3 * i + 1);
    const std::string names(".debug_info\0.eh_frame\0", 22);
    const std::size_t size = names.size() + 4 - (s == Symbols::short_size ? 4 : 0);
    for (unsigned i = 0; i < 4; ++i) b += static_cast<char>(size >> (8 * i));
    return b + names;
}

struct Shape {
    bool plus;
    After after;            // the section after .rsrc
    std::string overlay;    // bytes after the last section
    bool certificate;       // a signature after those
    bool full_headers;      // no zero bytes left after the section table
    const char* rsrc_name = ".rsrc";
    Symbols symbols = Symbols::none;
};

struct Built {
    std::vector<unsigned char> bytes;
    std::size_t optional, checksum;
};

// Headers, .text, .rsrc with tree_with(100), and what the shape adds.
Built build(const Shape& s) {
    const std::size_t pe = 0x80, optional = pe + 24, optional_size = s.plus ? 240 : 224;
    const std::size_t dirs = optional + (s.plus ? 112 : 96), table = optional + optional_size;
    const std::vector<unsigned char> rsrc = write_resource_tree(tree_with(100), 0x2000).bytes;
    const std::uint32_t rsrc_raw = align(rsrc.size(), kFileAlign);
    const unsigned count = s.after == After::nothing ? 2 : 3;
    std::vector<unsigned char> b(0x400 + 0x200 + rsrc_raw + (count == 3 ? 0x200 : 0));
    b[0] = 'M';
    b[1] = 'Z';
    put(b, 0x3C, pe);
    std::copy_n("PE\0\0", 4, b.begin() + pe);
    put(b, pe + 4, s.plus ? 0x8664 : 0x14C, 2);
    put(b, pe + 6, count, 2);
    put(b, pe + 20, optional_size, 2);
    put(b, optional, s.plus ? 0x20B : 0x10B, 2);
    put(b, optional + 8, rsrc_raw + (s.after == After::nothing ? 0 : 0x200));  // initialized data
    put(b, optional + 32, kSectionAlign);
    put(b, optional + 36, kFileAlign);
    put(b, optional + 56, count == 3 ? 0x4000 : 0x3000);
    put(b, optional + 60, 0x400);
    put(b, optional + 64, 0x1234);  // a checksum to recompute
    put(b, dirs - 4, 16);
    put(b, dirs + 8 * 2, 0x2000);
    put(b, dirs + 8 * 2 + 4, rsrc.size());
    auto section = [&](unsigned i, const char* name, std::uint32_t va, std::uint32_t size, std::uint32_t raw_at,
                       std::uint32_t flags) {
        const std::size_t h = table + 40 * i;
        std::copy_n(name, std::char_traits<char>::length(name), b.begin() + h);
        put(b, h + 8, size);
        put(b, h + 12, va);
        put(b, h + 16, align(size, kFileAlign));
        put(b, h + 20, raw_at);
        put(b, h + 36, flags);
    };
    section(0, ".text", 0x1000, 0x200, 0x400, 0x60000020);
    for (int i = 0; i < 0x200; ++i) b[0x400 + i] = static_cast<unsigned char>(0x90 + i);
    section(1, s.rsrc_name, 0x2000, static_cast<std::uint32_t>(rsrc.size()), 0x600, 0x40000040);
    std::copy(rsrc.begin(), rsrc.end(), b.begin() + 0x600);
    const std::uint32_t third = 0x600 + rsrc_raw;
    if (s.after != After::nothing) {
        const bool reloc = s.after == After::reloc;
        section(2, reloc ? ".reloc" : ".data", 0x3000, 0x10, third, 0x42000040);
        // A relocation block: page 0x1000, 12 bytes, two entries.
        put(b, third, 0x1000);
        put(b, third + 4, 12);
        put(b, third + 8, 0xA010A008);
        if (reloc) {
            put(b, dirs + 8 * 5, 0x3000);
            put(b, dirs + 8 * 5 + 4, 12);
        }
    }
    if (s.full_headers) std::fill(b.begin() + table + 40 * count, b.begin() + 0x400, 0xCC);
    if (s.symbols != Symbols::none) {
        if (s.symbols == Symbols::padded) b.insert(b.end(), kPadding, 0);
        put(b, pe + 12, b.size());
        put(b, pe + 16, 2);
        const std::string sym = symbol_bytes(s.symbols);
        b.insert(b.end(), sym.begin(), sym.end());
    }
    b.insert(b.end(), s.overlay.begin(), s.overlay.end());
    if (s.certificate) {
        b.resize(align(b.size(), 8));
        put(b, dirs + 8 * 4, b.size());
        put(b, dirs + 8 * 4 + 4, 24);
        b.insert(b.end(), 24, 0x5A);
    }
    return {b, optional, optional + 64};
}

struct Row {
    const char* what;
    Shape shape;
    std::size_t grown;  // the size of the string table the new tree holds
    LayoutError error;
    LayoutWay way;
};

const Row kRows[] = {
    {"fits: in place", {false, After::nothing, "", false, false}, 120, LayoutError::none, LayoutWay::in_place},
    {"smaller: in place", {true, After::reloc, "", false, false}, 8, LayoutError::none, LayoutWay::in_place},
    {".rsrc last, grows", {false, After::nothing, "", false, false}, 5000, LayoutError::none, LayoutWay::extended},
    {"grows past a section alignment", {true, After::nothing, "", false, false}, 9000, LayoutError::none,
     LayoutWay::extended},
    {"followed by .reloc, which moves", {true, After::reloc, "", false, false}, 5000, LayoutError::none,
     LayoutWay::extended},
    {"followed by .data: a new section", {false, After::data, "", false, false}, 5000, LayoutError::none,
     LayoutWay::new_section},
    {"followed by .data, headers full", {true, After::data, "", false, true}, 5000, LayoutError::no_room,
     LayoutWay::in_place},
    {"overlay kept when in place", {false, After::reloc, "PAYLOAD!", false, false}, 120, LayoutError::none,
     LayoutWay::in_place},
    {"overlay refused when growing", {false, After::reloc, "PAYLOAD!", false, false}, 5000, LayoutError::overlay,
     LayoutWay::in_place},
    {"overlay refused for a new section", {true, After::data, "PAYLOAD!", false, false}, 5000, LayoutError::overlay,
     LayoutWay::in_place},
    {"certificate dropped, growing", {true, After::reloc, "", true, false}, 5000, LayoutError::none,
     LayoutWay::extended},
    {"resources in .rdata, which may hold more: a new section", {false, After::nothing, "", false, false, ".rdata"},
     120, LayoutError::none, LayoutWay::new_section},
    {"certificate dropped, overlay kept", {false, After::nothing, "PAYLOAD!", true, false}, 120, LayoutError::none,
     LayoutWay::in_place},
    {"symbols kept when in place", {false, After::reloc, "", false, false, ".rsrc", Symbols::padded}, 120,
     LayoutError::none, LayoutWay::in_place},
    {"symbols after .reloc move when it does", {true, After::reloc, "", false, false, ".rsrc", Symbols::follow},
     5000, LayoutError::none, LayoutWay::extended},
    {".rsrc last, symbols after padding move", {false, After::nothing, "", false, false, ".rsrc", Symbols::padded},
     5000, LayoutError::none, LayoutWay::extended},
    {"symbols move after a new section", {false, After::data, "", false, false, ".rsrc", Symbols::padded}, 5000,
     LayoutError::none, LayoutWay::new_section},
    {"symbols move, certificate dropped", {true, After::reloc, "", true, false, ".rsrc", Symbols::follow}, 5000,
     LayoutError::none, LayoutWay::extended},
    {"symbols and a stray overlay refused", {false, After::reloc, "PAYLOAD!", false, false, ".rsrc",
     Symbols::follow}, 5000, LayoutError::overlay, LayoutWay::in_place},
    {"string table short of its bytes refused", {true, After::data, "", false, false, ".rsrc",
     Symbols::short_size}, 5000, LayoutError::overlay, LayoutWay::in_place},
};

std::vector<unsigned char> raw_of(const std::vector<unsigned char>& b, const PeSection& s, std::uint32_t n) {
    return {b.begin() + s.raw_offset, b.begin() + s.raw_offset + n};
}

TEST(PeLayout, PlacesTheResourcesByTheSafestWay) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.what);
        const Built old = build(row.shape);
        FileBytes old_bytes(old.bytes.data(), old.bytes.size());
        const PeImage old_img = *read_pe_image(old_bytes);
        const std::vector<PeSection>& before = old_img.sections;
        const ResourceTree tree = tree_with(row.grown);

        const LayoutResult r = lay_out_resources(old.bytes.data(), old.bytes.size(), tree);
        ASSERT_EQ(r.error, row.error) << r.message;
        EXPECT_EQ(r.certificate_removed, row.shape.certificate);
        if (!r.ok()) {
            EXPECT_TRUE(r.bytes.empty());
            EXPECT_FALSE(r.message.empty());
            continue;
        }
        EXPECT_EQ(r.way, row.way);
        const std::vector<unsigned char>& b = r.bytes;
        // As the copy is written: the old file handed over in uneven runs
        // gives the same bytes and checksum.
        for (const std::size_t run : {1, 3, 4097}) {
            std::vector<unsigned char> streamed;
            FileSplice splice(r.plan, [&](const unsigned char* data, std::size_t n) {
                streamed.insert(streamed.end(), data, data + n);
                return true;
            });
            for (std::size_t at = 0; at < old.bytes.size(); at += run) {
                ASSERT_TRUE(splice.put(old.bytes.data() + at, std::min(run, old.bytes.size() - at)));
            }
            ASSERT_TRUE(splice.finish());
            if (r.plan.checksum_at) put(streamed, *r.plan.checksum_at, splice.checksum());
            EXPECT_EQ(streamed, b) << "runs of " << run;
        }
        FileBytes new_bytes(b.data(), b.size());
        const std::optional<PeImage> img = read_pe_image(new_bytes);
        ASSERT_TRUE(img);
        EXPECT_EQ(img->plus, row.shape.plus);
        const ResourceRead back = read_resource_tree(new_bytes, *img);
        ASSERT_TRUE(back.ok()) << back.message;
        EXPECT_EQ(back.tree, tree);

        const std::vector<PeSection>& after = img->sections;
        ASSERT_EQ(after.size(), before.size() + (row.way == LayoutWay::new_section));
        EXPECT_EQ(raw_of(b, after[0], 0x200), raw_of(old.bytes, before[0], 0x200));  // .text as it was
        if (before.size() == 3) {
            EXPECT_EQ(after[2].name, before[2].name);
            EXPECT_EQ(raw_of(b, after[2], 12), raw_of(old.bytes, before[2], 12));
            const bool reloc = row.shape.after == After::reloc;
            EXPECT_EQ(img->directory(static_cast<PeDirectoryIndex>(5)).rva, reloc ? after[2].virtual_address : 0);
        }
        if (row.way == LayoutWay::new_section) {
            EXPECT_EQ(raw_of(b, after[1], after[1].raw_size), raw_of(old.bytes, before[1], before[1].raw_size));
            EXPECT_EQ(after.back().characteristics, 0x40000040u);
        }
        // The sections follow one another in memory and in the file, each
        // aligned, and the image's sizes follow them.
        std::uint64_t memory = 0x1000, raw = 0x400, initialized = 0;
        for (const PeSection& s : after) {
            EXPECT_GE(s.virtual_address, memory) << s.name;
            EXPECT_GE(s.raw_offset, raw) << s.name;
            EXPECT_EQ(s.virtual_address % kSectionAlign + s.raw_offset % kFileAlign + s.raw_size % kFileAlign, 0u)
                << s.name;
            EXPECT_LE(s.virtual_size, s.raw_size) << s.name;
            memory = s.virtual_address + align(s.virtual_size, kSectionAlign);
            raw = s.raw_offset + s.raw_size;
            if (s.characteristics & 0x40) initialized += s.raw_size;
        }
        EXPECT_EQ(le32(&b[old.optional + 56]), memory);
        EXPECT_EQ(le32(&b[old.optional + 8]), initialized);
        EXPECT_EQ(img->directory(PeDirectoryIndex::resources).size, write_resource_tree(tree, 0).bytes.size());
        EXPECT_EQ(le32(&b[old.checksum]), checksum_of(b, old.checksum));
        // What followed the sections, the certificate aside, is all that
        // follows them now; the symbols, moved, lose their padding and the
        // header points to them.
        std::string tail = row.shape.overlay;
        if (row.shape.symbols != Symbols::none) {
            tail = symbol_bytes(row.shape.symbols) + tail;
            if (row.shape.symbols == Symbols::padded && row.way == LayoutWay::in_place) {
                tail = std::string(kPadding, '\0') + tail;
            }
            const std::size_t moved = symbol_bytes(row.shape.symbols).size() + row.shape.overlay.size();
            EXPECT_EQ(img->symbols_offset, b.size() - moved);
            EXPECT_EQ(img->symbol_count, 2u);
            EXPECT_EQ(img->string_table.end, img->symbols_offset + 36 + 26);
        }
        EXPECT_EQ(std::string(b.begin() + static_cast<std::ptrdiff_t>(raw), b.end()), tail);
        EXPECT_EQ(img->directory(static_cast<PeDirectoryIndex>(4)).rva, 0u);
    }
}

TEST(PeLayout, ChecksumLeftZeroAndNoPeRefused) {
    Built old = build({false, After::nothing, "", false, false});
    put(old.bytes, old.checksum, 0);
    const LayoutResult r = lay_out_resources(old.bytes.data(), old.bytes.size(), tree_with(5000));
    ASSERT_TRUE(r.ok()) << r.message;
    EXPECT_EQ(le32(&r.bytes[old.checksum]), 0u);

    const std::string elf = "\x7f" "ELF and more bytes than a header";
    EXPECT_EQ(lay_out_resources(reinterpret_cast<const unsigned char*>(elf.data()), elf.size(), tree_with(1)).error,
              LayoutError::not_pe);
}

}  // namespace
