// The resource tree: the writer's order and normal form, the reader on
// hostile trees (loops, counts and offsets past the end, a wrong depth,
// copies past the budget), the writer's refusals.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "resource_tree.h"

namespace {

ResourceEntry entry(ResourceKey type, ResourceKey name, std::uint32_t lang, std::string data, std::uint32_t cp = 0) {
    return {std::move(type), std::move(name), ResourceKey::of(lang), cp, {data.begin(), data.end()}};
}

// A tree as a resource compiler leaves it, in the normal form's order.
ResourceTree sample() {
    ResourceTree t;
    t.time_stamp = 0x12345678;
    t.entries = {
        entry(ResourceKey::of(u"PLAINTEXT"), ResourceKey::of(u"NOTES"), 0, "a named type and name"),
        entry(ResourceKey::of(4), ResourceKey::of(1), 0x409, std::string("\0\0\x10\0&File\0", 10)),
        entry(ResourceKey::of(6), ResourceKey::of(1), 0x409, "Untitled", 1252),
        entry(ResourceKey::of(6), ResourceKey::of(1), 0x413, "Naamloos"),
        entry(ResourceKey::of(6), ResourceKey::of(2), 0x409, ""),
        entry(ResourceKey::of(16), ResourceKey::of(1), 0x409, std::string(301, 'v')),
    };
    return t;
}

ResourceRead read(const std::vector<unsigned char>& b, std::uint32_t rva) {
    return read_resource_tree(b.data(), b.size(), rva);
}

TEST(ResourceTree, WrittenTreeReadsBackAndWritesTheSameBytes) {
    const ResourceTree t = sample();
    for (std::uint32_t rva : {0x1000u, 0x7FFF0000u}) {
        const ResourceImage w = write_resource_tree(t, rva);
        ASSERT_TRUE(w.ok()) << w.message;
        const ResourceRead r = read(w.bytes, rva);
        ASSERT_TRUE(r.ok()) << r.message;
        EXPECT_EQ(r.tree, t);
        EXPECT_EQ(write_resource_tree(r.tree, rva).bytes, w.bytes);
        // The last datum (301 bytes) and its data entry start at offsets
        // aligned to 8.
        const std::size_t datum = w.bytes.size() - 301;
        std::size_t entries = 0;
        for (std::size_t at = 0; at + 4 <= datum; ++at) {
            if (le32(&w.bytes[at]) != rva + datum) continue;
            EXPECT_EQ(at % 8 + datum % 8, 0u);
            ++entries;
        }
        EXPECT_EQ(entries, 2u);  // the empty datum before it starts there too
    }
}

TEST(ResourceTree, WriterSortsEachDirectoryNamedFirstThenIds) {
    ResourceTree t = sample();
    std::reverse(t.entries.begin(), t.entries.end());
    t.entries.push_back(entry(ResourceKey::of(u"plaintext"), ResourceKey::of(u"a"), 0, "x"));
    t.entries.push_back(entry(ResourceKey::of(u"Zeta"), ResourceKey::of(u"\u00e9t\u00e9"), 0, "y"));
    t.entries.push_back(entry(ResourceKey::of(u"Zeta"), ResourceKey::of(u"\u00c9T\u00c9S"), 0, "z"));
    const ResourceRead r = read(write_resource_tree(t, 0x3000).bytes, 0x3000);
    ASSERT_TRUE(r.ok()) << r.message;
    std::vector<std::string> order;
    for (const ResourceEntry& e : r.tree.entries) order.emplace_back(e.data.begin(), e.data.end());
    const std::vector<std::string> expected = {"a named type and name", "x", "y", "z",
                                               std::string("\0\0\x10\0&File\0", 10),
                                               "Untitled", "Naamloos", "", std::string(301, 'v')};
    EXPECT_EQ(order, expected);
}

TEST(ResourceTree, KeysCompareAsTheLoaderSearchesThem) {
    struct Row {
        ResourceKey a, b;
        int sign;
    };
    const Row rows[] = {
        {ResourceKey::of(u"Z"), ResourceKey::of(1), -1},              // names before ids
        {ResourceKey::of(2), ResourceKey::of(10), -1},                // ids ascending
        {ResourceKey::of(u"abc"), ResourceKey::of(u"ABD"), -1},       // letters folded
        {ResourceKey::of(u"_"), ResourceKey::of(u"a"), 1},            // '_' (0x5F) after 'A' (0x41)
        {ResourceKey::of(u"\u00e9"), ResourceKey::of(u"\u00caX"), -1},  // Latin-1 folded too
        {ResourceKey::of(u"AB"), ResourceKey::of(u"abc"), -1},        // a prefix first
        {ResourceKey::of(u"ab"), ResourceKey::of(u"AB"), 1},          // equal when folded: by units
        {ResourceKey::of(u"ab"), ResourceKey::of(u"ab"), 0},
    };
    for (const Row& r : rows) {
        const int c = compare_resource_keys(r.a, r.b), back = compare_resource_keys(r.b, r.a);
        EXPECT_EQ((c > 0) - (c < 0), r.sign) << std::string(r.a.name.begin(), r.a.name.end());
        EXPECT_EQ((back > 0) - (back < 0), -r.sign);
    }
}

// Hostile trees: a sample tree written at 0x1000, then broken.
TEST(ResourceTree, HostileTreesGiveAnErrorNotACrash) {
    using Edit = std::function<void(std::vector<unsigned char>&)>;
    auto set32 = [](std::vector<unsigned char>& b, std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + i] = static_cast<unsigned char>(v >> (8 * i));
    };
    // The layout of sample(): root at 0 with 4 entries (named first), the
    // PLAINTEXT name directory at 0x30, its language directory at 0x48.
    struct Row {
        const char* what;
        Edit edit;
        ResourceError error;
    };
    const Row rows[] = {
        {"root points to itself", [&](auto& b) { set32(b, 0x14, 0x80000000); }, ResourceError::loop},
        {"a name directory points to the root", [&](auto& b) { set32(b, 0x44, 0x80000000); }, ResourceError::loop},
        {"two types share a directory", [&](auto& b) { set32(b, 0x1C, le32(&b[0x14])); }, ResourceError::loop},
        {"subdirectory past the end", [&](auto& b) { set32(b, 0x14, 0x80000000 | 0x7FFFFFF0); },
         ResourceError::out_of_bounds},
        {"entry count past the end", [&](auto& b) { b[14] = 0xFF; b[15] = 0xFF; }, ResourceError::out_of_bounds},
        {"name past the end", [&](auto& b) { set32(b, 0x10, 0x80000000 | static_cast<std::uint32_t>(b.size())); },
         ResourceError::out_of_bounds},
        {"name length past the end",
         [&](auto& b) { std::uint32_t at = le32(&b[0x10]) & 0x7FFFFFFF; b[at] = 0xFF; b[at + 1] = 0xFF; },
         ResourceError::out_of_bounds},
        {"data entry on the type level", [&](auto& b) { set32(b, 0x14, le32(&b[0x14]) & 0x7FFFFFFF); },
         ResourceError::bad_shape},
        {"directory on the language level", [&](auto& b) { set32(b, 0x5C, 0x80000000 | 0x30); },
         ResourceError::bad_shape},
        {"data before the section", [&](auto& b) { set32(b, le32(&b[0x5C]), 0xFFF); }, ResourceError::out_of_bounds},
        {"data past the section", [&](auto& b) { set32(b, le32(&b[0x5C]) + 4, 0xFFFFFFFF); },
         ResourceError::out_of_bounds},
        {"cut short", [&](auto& b) { b.resize(0x40); }, ResourceError::out_of_bounds},
        {"empty", [&](auto& b) { b.clear(); }, ResourceError::out_of_bounds},
    };
    const std::vector<unsigned char> good = write_resource_tree(sample(), 0x1000).bytes;
    ASSERT_TRUE(read(good, 0x1000).ok());
    for (const Row& row : rows) {
        std::vector<unsigned char> b = good;
        row.edit(b);
        const ResourceRead r = read(b, 0x1000);
        EXPECT_EQ(r.error, row.error) << row.what << ": " << r.message;
        EXPECT_TRUE(r.tree.entries.empty()) << row.what;
        EXPECT_FALSE(r.message.empty()) << row.what;
    }
}

// Many language entries that all name one data entry spanning the bytes:
// each would copy them all again.
TEST(ResourceTree, CopiesPastTheBudgetAreRefused) {
    ResourceTree t;
    t.entries.push_back(entry(ResourceKey::of(10), ResourceKey::of(1), 0, std::string(64 * 1024, 'd')));
    for (std::uint32_t lang = 1; lang < 40; ++lang) {
        t.entries.push_back(entry(ResourceKey::of(10), ResourceKey::of(1), lang, ""));
    }
    std::vector<unsigned char> b = write_resource_tree(t, 0).bytes;
    const std::uint32_t first = le32(&b[0x40 + 4]);  // the language directory's first entry
    for (std::uint32_t i = 1; i < 40; ++i) {
        for (int k = 0; k < 4; ++k) b[0x40 + 8 * i + 4 + k] = static_cast<unsigned char>(first >> (8 * k));
    }
    EXPECT_EQ(read(b, 0).error, ResourceError::too_many);
}

TEST(ResourceTree, WriterRefusesWhatNoTreeCanHold) {
    struct Row {
        const char* what;
        ResourceEntry extra;
        ResourceError error;
    };
    const Row rows[] = {
        {"same type, name and language", entry(ResourceKey::of(6), ResourceKey::of(1), 0x413, "again"),
         ResourceError::duplicate},
        {"same name folded", entry(ResourceKey::of(u"plaintext"), ResourceKey::of(u"NOTES"), 0, "again"),
         ResourceError::none},
        {"an id of 32 bits", entry(ResourceKey::of(0x80000000u), ResourceKey::of(1), 0, ""),
         ResourceError::too_large},
        {"a name of 65,536 units", entry(ResourceKey::of(std::u16string(65536, u'n')), ResourceKey::of(1), 0, ""),
         ResourceError::too_large},
    };
    for (const Row& row : rows) {
        ResourceTree t = sample();
        t.entries.push_back(row.extra);
        const ResourceImage w = write_resource_tree(t, 0x1000);
        EXPECT_EQ(w.error, row.error) << row.what;
        EXPECT_EQ(w.bytes.empty(), row.error != ResourceError::none) << row.what;
    }
    EXPECT_EQ(write_resource_tree(sample(), 0xFFFFFF00u).error, ResourceError::too_large);
    ResourceTree wide;
    for (std::uint32_t id = 1; id <= 0xFFFF; ++id) {
        wide.entries.push_back(entry(ResourceKey::of(6), ResourceKey::of(id), 0, ""));
    }
    EXPECT_EQ(write_resource_tree(wide, 0).error, ResourceError::none);
    wide.entries.push_back(entry(ResourceKey::of(6), ResourceKey::of(0x10000), 0, ""));
    EXPECT_EQ(write_resource_tree(wide, 0).error, ResourceError::too_large);
}

}  // namespace
