// The codecs of the text-bearing resource kinds: an unchanged model encodes
// to the bytes it came from, texts of any length read back with the rest
// unchanged, and crafted input fails with an error. The samples windres
// builds (label resources) cover what a resource compiler writes; the byte
// fixtures here run everywhere.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "resource_bytes.h"
#include "resource_dialog.h"
#include "resource_menu.h"
#include "resource_messages.h"
#include "resource_strings.h"
#include "resource_version.h"

namespace {

// One kind's codec seen through its texts: decode, replace every text by
// edit(text), encode. An empty result with an error when a step failed.
struct Kind {
    const char* name;
    std::uint16_t type;  // the resource type's ordinal
    std::function<ResourceResult<std::string>(std::string_view, const std::function<ResourceText(const ResourceText&)>&)> rewrite;
    std::function<ResourceResult<std::vector<ResourceText>>(std::string_view)> texts;
    // What a change of texts must leave alone: the resource with every text
    // emptied. Equal skeletons: the same ids, flags, styles and structure.
    std::function<std::string(std::string_view)> skeleton;
};

// A model with every padding choice dropped: where a text's new length
// puts an end on a boundary, a decode cannot tell whether it was padded.
void unpad(StringTableBlock&) {}
void unpad(Menu& m) { m.padded = false; }
void unpad(Dialog& d) { d.padded = false; }
void unpad(MessageTable&) {}
void unpad(VersionBlock& b) {
    b.padded = false;
    for (VersionBlock& child : b.children) unpad(child);
}

template <class Model, class Decode, class Encode, class Texts>
Kind make_kind(const char* name, std::uint16_t type, Decode decode, Encode encode, Texts texts) {
    Kind k{name, type, {}, {}, {}};
    k.skeleton = [=](std::string_view bytes) {
        ResourceResult<Model> m = decode(bytes);
        for (ResourceText* t : texts(m.value)) t->clear();
        unpad(m.value);
        return encode(m.value).value;
    };
    k.rewrite = [=](std::string_view bytes, const std::function<ResourceText(const ResourceText&)>& edit) {
        ResourceResult<Model> m = decode(bytes);
        if (!m.ok()) return resource_failure<std::string>(m.error, m.offset);
        for (ResourceText* t : texts(m.value)) *t = edit(*t);
        return encode(m.value);
    };
    k.texts = [=](std::string_view bytes) {
        ResourceResult<Model> m = decode(bytes);
        ResourceResult<std::vector<ResourceText>> r;
        if (!m.ok()) return resource_failure<std::vector<ResourceText>>(m.error, m.offset);
        for (ResourceText* t : texts(m.value)) r.value.push_back(*t);
        return r;
    };
    return k;
}

const std::vector<Kind>& kinds() {
    static const std::vector<Kind> all{
        make_kind<StringTableBlock>("string table", 6, decode_string_table, encode_string_table, string_table_texts),
        make_kind<Menu>("menu", 4, decode_menu, encode_menu, menu_texts),
        make_kind<Dialog>("dialog", 5, decode_dialog, encode_dialog, dialog_texts),
        make_kind<VersionBlock>("version", 16, decode_version, encode_version, version_texts),
        make_kind<MessageTable>("message table", 11, decode_message_table, encode_message_table, message_texts),
    };
    return all;
}

const Kind* kind_of(std::uint16_t type) {
    for (const Kind& k : kinds()) {
        if (k.type == type) return &k;
    }
    return nullptr;
}

ResourceText same(const ResourceText& t) { return t; }
ResourceText blank(const ResourceText&) { return {}; }

// The edits a translation makes: longer by an odd and an even number of
// units, shorter, empty, and a unit outside ASCII.
const std::vector<std::pair<const char*, std::function<ResourceText(const ResourceText&)>>>& edits() {
    static const std::vector<std::pair<const char*, std::function<ResourceText(const ResourceText&)>>> all{
        {"grown by 1", [](const ResourceText& t) { return t + u"x"; }},
        {"grown by 22", [](const ResourceText& t) { return u"\u00C4" + t + u" und noch viel l\u00E4nger"; }},
        {"cut to 1", [](const ResourceText& t) { return t.substr(0, 1); }},
        {"emptied", blank},
    };
    return all;
}

// Checks that each edit of bytes reads back: the edited texts, the same
// skeleton.
void expect_edits_read_back(const Kind& k, std::string_view bytes, const std::string& where) {
    ResourceResult<std::vector<ResourceText>> before = k.texts(bytes);
    ASSERT_TRUE(before.ok()) << where << ": " << before.error;
    for (const auto& [name, edit] : edits()) {
        ResourceResult<std::string> edited = k.rewrite(bytes, edit);
        ASSERT_TRUE(edited.ok()) << where << ", " << name << ": " << edited.error;
        ResourceResult<std::vector<ResourceText>> after = k.texts(edited.value);
        ASSERT_TRUE(after.ok()) << where << ", " << name << ": " << after.error << " at " << after.offset;
        ASSERT_EQ(after.value.size(), before.value.size()) << where << ", " << name;
        for (std::size_t i = 0; i < before.value.size(); ++i) EXPECT_EQ(after.value[i], edit(before.value[i])) << where << ", " << name << ", text " << i;
        EXPECT_EQ(k.skeleton(edited.value), k.skeleton(bytes)) << where << ", " << name;
    }
}

// ---- the samples windres builds ----

struct ResRecord {
    std::uint16_t type;  // 0: a named type
    std::string name;    // "#id" or the name
    std::string data;
};

// The records of a .res file: each a header (data size, header size, type,
// name, DWORD-aligned, then data version, memory flags, language, version,
// characteristics) and its data, DWORD-aligned.
std::vector<ResRecord> read_res(const std::string& bytes) {
    std::vector<ResRecord> out;
    std::size_t at = 0;
    auto u32 = [&](std::size_t p) { return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[p]) | static_cast<unsigned char>(bytes[p + 1]) << 8 |
                                                                       static_cast<unsigned char>(bytes[p + 2]) << 16 | static_cast<unsigned char>(bytes[p + 3]) << 24); };
    auto u16 = [&](std::size_t p) { return static_cast<std::uint16_t>(u32(p) & 0xFFFF); };
    while (at + 8 <= bytes.size()) {
        std::uint32_t data_size = u32(at);
        std::uint32_t header_size = u32(at + 4);
        if (header_size < 16 || at + header_size + data_size > bytes.size()) {
            ADD_FAILURE() << "a broken .res record at " << at;
            break;
        }
        ResRecord r{};
        std::size_t p = at + 8;
        auto name_or_id = [&](std::uint16_t* id) {
            std::string s;
            if (u16(p) == 0xFFFF) {
                if (id) *id = u16(p + 2);
                s = "#" + std::to_string(u16(p + 2));
                p += 4;
            } else {
                for (; u16(p) != 0; p += 2) s += static_cast<char>(u16(p));
                p += 2;
            }
            return s;
        };
        name_or_id(&r.type);
        r.name = name_or_id(nullptr);
        r.data = bytes.substr(at + header_size, data_size);
        if (data_size != 0) out.push_back(std::move(r));  // the empty first record marks the format
        at = (at + header_size + data_size + 3) & ~std::size_t{3};
    }
    return out;
}

std::vector<ResRecord> samples() {
    std::ifstream in(RESOURCE_SAMPLES, std::ios::binary);
    return read_res(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
}

#define SKIP_WITHOUT_SAMPLES()                                                                  \
    if (std::string(RESOURCE_SAMPLES).empty()) GTEST_SKIP() << "no windres: the sample resources were not built"

TEST(WindresResources, EveryKindRoundTripsAndReadsBackEdited) {
    SKIP_WITHOUT_SAMPLES();
    std::vector<ResRecord> records = samples();
    std::map<std::uint16_t, int> seen;
    for (const ResRecord& r : records) {
        const Kind* k = kind_of(r.type);
        if (k == nullptr) continue;
        std::string where = std::string(k->name) + " " + r.name;
        ResourceResult<std::string> again = k->rewrite(r.data, same);
        ASSERT_TRUE(again.ok()) << where << ": " << again.error << " at " << again.offset;
        EXPECT_EQ(again.value, r.data) << where;
        expect_edits_read_back(*k, r.data, where);
        ++seen[r.type];
    }
    // Two string table blocks, both menu and both dialog forms, one each of
    // the rest.
    EXPECT_EQ(seen, (std::map<std::uint16_t, int>{{4, 2}, {5, 2}, {6, 2}, {11, 1}, {16, 1}}));
}

TEST(WindresResources, TextsListedAsTheUserSeesThem) {
    SKIP_WITHOUT_SAMPLES();
    std::map<std::string, std::vector<ResourceText>> texts;
    for (const ResRecord& r : samples()) {
        if (const Kind* k = kind_of(r.type)) texts[std::string(k->name) + " " + r.name] = k->texts(r.data).value;
    }
    EXPECT_EQ(texts["menu #1"], (std::vector<ResourceText>{u"&File", u"&New\tCtrl+N", u"", u"Recent", u"a", u"bc", u"E&xit", u"&Help", u"&About"}));
    EXPECT_EQ(texts["menu #2"], (std::vector<ResourceText>{u"&Edit", u"Cu&t", u"", u"Mo", u"odd", u"&View"}));
    EXPECT_EQ(texts["dialog #100"], (std::vector<ResourceText>{u"Page Setup", u"&Header:", u"", u"OK", u"Cancel", u"x"}));
    // The icon's title is an ordinal, no text.
    EXPECT_EQ(texts["dialog #101"], (std::vector<ResourceText>{u"Find", u"Direction", u"&Up", u"Match &case", u"data"}));
    EXPECT_EQ(texts["version #1"], (std::vector<ResourceText>{u"Ab", u"Notes editor", u"", u"Dornevo"}));
    EXPECT_EQ(texts["message table #1"], (std::vector<ResourceText>{u"File not found.\r\n", u"Access %1 denied.\r\n"}));
    std::vector<ResourceText> first(16), second(16);
    first[1] = u"Ready", first[2] = u"Row %ld, Col %ld", first[5] = u"Tab\there";
    second[1] = u"Second block", second[15] = u"Last of it";
    EXPECT_EQ(texts["string table #1"], first);
    EXPECT_EQ(texts["string table #2"], second);
}

// ---- byte fixtures ----

std::string dword(std::uint32_t v) { return word(static_cast<std::uint16_t>(v & 0xFFFF)) + word(static_cast<std::uint16_t>(v >> 16)); }

std::size_t field16(const std::string& bytes, std::size_t at) {
    return static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8;
}

std::string pad4(std::string s) {
    while (s.size() % 4 != 0) s += '\0';
    return s;
}

// A standard dialog with a font and two controls whose titles have an odd
// number of units, so that each control needs padding.
std::string small_dialog() {
    std::string d = dword(0x80C80040) + dword(0) + word(2) + word(0) + word(0) + word(100) + word(50) + word(0) + word(0) +
                    u16(u"Odd") + word(0) + word(8) + u16(u"Sans") + word(0);
    d = pad4(d) + dword(0x50000000) + dword(0) + word(1) + word(2) + word(3) + word(4) + word(7) + word(0xFFFF) + word(0x82) +
        u16(u"abc") + word(0) + word(0);
    d = pad4(d) + dword(0x50010000) + dword(0) + word(5) + word(6) + word(7) + word(8) + word(1) + word(0xFFFF) + word(0x80) +
        u16(u"OK") + word(0) + word(0);
    return d;
}

// An extended menu: a popup with a help id holding one item, and a last
// top-level item; texts of odd unit counts.
std::string small_menuex() {
    std::string m = word(1) + word(4) + dword(0);
    m = pad4(m + dword(0) + dword(0) + dword(10) + word(0x01) + u16(u"Pop") + word(0)) + dword(0x1234);
    m = pad4(m + dword(0) + dword(0) + dword(11) + word(0x80) + u16(u"In") + word(0));
    m = pad4(m + dword(0) + dword(8) + dword(12) + word(0x80) + u16(u"Last") + word(0));
    return m;
}

std::string small_strings() { return string_table({"", u16(u"One"), "", "", "", "", "", "", "", "", "", "", "", "", "", u16(u"Fifteen")}); }

std::string small_messages() {
    std::string e1 = word(12) + word(1) + u16(u"Hi") + word(0) + word(0);
    std::string e2 = word(12) + word(0) + "Bytes" + std::string(3, '\0');
    return dword(2) + dword(1) + dword(1) + dword(28) + dword(7) + dword(7) + dword(40) + e1 + e2;
}

std::string small_version() {
    VersionBlock root;
    root.key = u"VS_VERSION_INFO";
    root.value = std::string(52, '\1');
    VersionBlock strings{u"StringFileInfo", 1, {}, {}, {}, {}, false};
    VersionBlock table{u"040904b0", 1, {}, {}, {}, {}, false};
    table.children.push_back({u"CompanyName", 1, {}, u"Ab", ResourceText(1, u'\0'), {}, false});
    table.children.push_back({u"Comments", 1, {}, u"", ResourceText(1, u'\0'), {}, false});
    strings.children.push_back(table);
    root.children.push_back(strings);
    return encode_version(root).value;
}

TEST(ResourceKinds, FixturesRoundTripAndReadBackEdited) {
    const std::vector<std::pair<std::uint16_t, std::string>> fixtures{
        {6, small_strings()}, {6, small_strings() + word(0)}, {5, small_dialog()}, {4, small_menuex()}, {11, small_messages()}, {16, small_version()}};
    for (const auto& [type, bytes] : fixtures) {
        const Kind* k = kind_of(type);
        ResourceResult<std::string> again = k->rewrite(bytes, same);
        ASSERT_TRUE(again.ok()) << k->name << ": " << again.error;
        EXPECT_EQ(again.value, bytes) << k->name;
        expect_edits_read_back(*k, bytes, k->name);
    }
}

// Whatever a title's length, each control starts on a 4-byte boundary and
// the padding is zeros; the menu's popup help id and a message entry's end
// alike.
TEST(ResourceKinds, DialogControlsMenuexItemsAndMessagesStayAligned) {
    for (std::size_t n = 0; n < 6; ++n) {
        ResourceText title(n, u'w');
        ResourceResult<Dialog> dialog = decode_dialog(small_dialog());
        ASSERT_TRUE(dialog.ok() && dialog.value.controls.size() == 2) << dialog.error;
        Dialog d = dialog.value;
        d.title = title;
        d.controls[0].title.name = title;
        std::string bytes = encode_dialog(d).value;
        // The header's fields 18 bytes, no menu 2, no class 2, the caption,
        // the font's size 2 and name 10.
        std::size_t header_end = 18 + 2 + 2 + 2 * n + 2 + 2 + 10;
        std::size_t first = (header_end + 3) & ~std::size_t{3};
        EXPECT_EQ(bytes.substr(header_end, first - header_end), std::string(first - header_end, '\0')) << n;
        EXPECT_EQ(bytes.substr(first, 4), dword(0x50000000)) << n;
        // Its fields 18, the class ordinal 4, the title, the creation count 2.
        std::size_t second = (first + 18 + 4 + 2 * n + 2 + 2 + 3) & ~std::size_t{3};
        EXPECT_EQ(bytes.substr(second, 4), dword(0x50010000)) << n;

        ResourceResult<Menu> menu = decode_menu(small_menuex());
        ASSERT_TRUE(menu.ok() && menu.value.items.size() == 3) << menu.error;
        Menu m = menu.value;
        m.items[0].text = title;
        bytes = encode_menu(m).value;
        std::size_t help = (8 + 14 + 2 * n + 2 + 3) & ~std::size_t{3};
        EXPECT_EQ(bytes.substr(help, 4), dword(0x1234)) << n;
        menu = decode_menu(bytes);
        ASSERT_TRUE(menu.ok() && menu.value.items.size() == 3) << menu.error;
        EXPECT_EQ(menu.value.items[2].state, 8u) << n;

        // A message entry ends with a zero unit and as many more as reach a
        // boundary.
        MessageTable t = decode_message_table(small_messages()).value;
        t.blocks[0].entries[0].text = title;
        bytes = encode_message_table(t).value;
        std::size_t length = field16(bytes, 28);
        EXPECT_EQ(length, (4 + 2 * n + 2 + 3) & ~std::size_t{3}) << n;
        EXPECT_EQ(bytes.substr(28 + 4 + 2 * n, length - 4 - 2 * n), std::string(length - 4 - 2 * n, '\0')) << n;
    }
}

// Every length and value length follows the texts: a String block is its
// header, key, padding and value; its parents end where it ends.
TEST(ResourceKinds, VersionLengthsFollowTheTexts) {
    ResourceResult<VersionBlock> decoded = decode_version(small_version());
    ASSERT_TRUE(decoded.ok()) << decoded.error;
    VersionBlock root = decoded.value;
    ASSERT_EQ(root.children.size(), 1u);
    ASSERT_EQ(root.children[0].children.size(), 1u);
    ASSERT_EQ(root.children[0].children[0].children.size(), 2u);
    struct Case {
        ResourceText company;
        std::uint16_t string_length, value_length, table_length;
    };
    // "CompanyName": 6 + 24 bytes, padded to 32; then the value with its
    // terminator. The table: 6 + 18 (key), the company block, padding, the
    // Comments block (26).
    for (const Case& c : {Case{u"Ab", 38, 3, 90}, Case{u"Abc", 40, 4, 90}, Case{u"", 34, 1, 86}, Case{u"Abcdefgh", 50, 9, 102}}) {
        root.children[0].children[0].children[0].text = c.company;
        std::string bytes = encode_version(root).value;
        std::size_t table = 40 + 52 + 36;  // root header and key, fixed info, StringFileInfo header and key
        std::size_t company = table + 24;
        EXPECT_EQ(field16(bytes, company), c.string_length);
        EXPECT_EQ(field16(bytes, company + 2), c.value_length);
        EXPECT_EQ(field16(bytes, table), c.table_length);
        EXPECT_EQ(field16(bytes, 0), bytes.size());
        EXPECT_EQ(field16(bytes, table - 36), bytes.size() - (table - 36));
    }
}

TEST(ResourceKinds, StringTableBlocksHoldSixteenSlots) {
    ResourceResult<StringTableBlock> decoded = decode_string_table(small_strings());
    ASSERT_TRUE(decoded.ok()) << decoded.error;
    StringTableBlock& b = decoded.value;
    b.strings[0] = u"Zero";
    b.strings[1].clear();
    std::string bytes = encode_string_table(b).value;
    EXPECT_EQ(bytes, string_table({u16(u"Zero"), "", "", "", "", "", "", "", "", "", "", "", "", "", "", u16(u"Fifteen")}));
    b.strings[3] = ResourceText(0x10000, u'a');
    EXPECT_FALSE(encode_string_table(b).ok());
}

TEST(ResourceKinds, HostileInputFailsWithAnError) {
    std::string dialog = small_dialog();
    std::string deep_menu = word(0) + word(0);
    for (int i = 0; i < 65; ++i) deep_menu += word(0x10) + word('p') + word(0);
    std::string deep_version;
    for (int i = 0; i < 9; ++i) deep_version += word(static_cast<std::uint16_t>(8 * (9 - i))) + word(0) + word(0) + word(0);
    std::string long_entry = word(40) + word(1);
    for (int i = 0; i < 18; ++i) long_entry += word('a');
    struct Case {
        const char* name;
        std::uint16_t type;
        std::string bytes;
    };
    const std::vector<Case> cases{
        {"string table cut", 6, word(5) + u16(u"ab")},
        {"string table of 15 strings", 6, std::string(30, '\0')},
        {"string table of an odd length", 6, std::string(31, '\0') + "\x01"},
        {"empty menu item list cut", 4, word(0) + word(0) + word(0) + word(1)},
        {"menu whose popup has no items", 4, word(0) + word(0) + word(0x90) + word('p') + word(0)},
        {"menu whose last level never ends", 4, word(0) + word(0) + word(0) + word(1) + word('a') + word(0)},
        {"menu of version 2", 4, word(2) + word(0) + word(0x80) + word(1) + word(0)},
        {"menu header past the end", 4, word(0) + word(40)},
        {"menus nested 65 deep", 4, deep_menu},
        {"dialog claiming 65,535 controls", 5, dialog.substr(0, 8) + word(0xFFFF) + dialog.substr(10, 44)},
        {"dialog cut in its caption", 5, dialog.substr(0, 22)},
        {"dialog cut in a control", 5, dialog.substr(0, dialog.size() - 6)},
        {"dialog creation data past the end", 5, dialog.substr(0, dialog.size() - 2) + word(400)},
        {"extended dialog of version 2", 5, word(2) + word(0xFFFF) + std::string(30, '\0')},
        {"version length past the end", 16, word(100) + word(0) + word(0) + word(0)},
        {"version length shorter than its header", 16, word(4) + word(0) + word(0) + word(0)},
        {"version value past its block", 16, word(12) + word(40) + word(1) + word('k') + word(0) + word(0)},
        {"version key without its end", 16, word(10) + word(0) + word(1) + word('k') + word('e')},
        {"version blocks nested 9 deep", 16, deep_version},
        {"message block count past the end", 11, dword(0x10000000) + dword(1) + dword(1) + dword(16)},
        {"message ids backwards", 11, dword(1) + dword(5) + dword(4) + dword(16)},
        {"message entries past the end", 11, dword(1) + dword(0) + dword(0xFFFFFFFF) + dword(16)},
        {"message offset past the end", 11, dword(1) + dword(0) + dword(0) + dword(0x7FFFFFFF)},
        {"message entry shorter than its header", 11, dword(1) + dword(0) + dword(0) + dword(16) + word(2) + word(1)},
        {"message blocks sharing a long entry", 11,
         dword(3) + dword(0) + dword(0) + dword(40) + dword(0) + dword(0) + dword(40) + dword(0) + dword(0) + dword(40) + long_entry},
    };
    for (const Case& c : cases) {
        ResourceResult<std::vector<ResourceText>> r = kind_of(c.type)->texts(c.bytes);
        EXPECT_FALSE(r.ok()) << c.name;
        EXPECT_LE(r.offset, c.bytes.size()) << c.name;
    }
}

}  // namespace
