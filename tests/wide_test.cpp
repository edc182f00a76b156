// The wide forms of entries and the wide pass on resource-shaped bytes, by
// the literal window and wide pass and by the translator.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "dictionary.h"
#include "owned_list.h"
#include "resource_bytes.h"
#include "translator.h"
#include "wide_reference.h"
#include "wide_text.h"
#include "window_translator.h"

namespace {

using namespace std::string_literals;

struct FormCase {
    const char* name;
    std::string org;
    std::string full;
    std::optional<std::u16string> want;  // the translation's units; none without a wide form
};

void PrintTo(const FormCase& c, std::ostream* os) { *os << c.name; }

class Form : public testing::TestWithParam<FormCase> {};

TEST_P(Form, IsCutAndPaddedInUnits) {
    const FormCase& c = GetParam();
    OwnedList e = own(Create_Tbl(nullptr));
    c.org.copy(e->org_name, c.org.size());
    c.full.copy(e->new_name_full, c.full.size());
    WideForm f;
    EXPECT_EQ(wide_form(original_of(e.get()), full_translation_of(e.get()), f), c.want.has_value());
    EXPECT_EQ(has_wide_form(original_of(e.get()), full_translation_of(e.get())), c.want.has_value());
    if (c.want) {
        std::string org;
        ASSERT_TRUE(utf8_to_utf16le(c.org, org));
        EXPECT_EQ(f.original, org);
        EXPECT_EQ(f.translation, u16(*c.want));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Form,
    testing::Values(FormCase{"Cut", "File", "Bestand", u"Best"},
                    FormCase{"PaddedWithBlanks", "Quit", "Weg", u"Weg "},
                    FormCase{"CountsUnitsNotBytes", "Open", "\xc3\x96" "ffnen", u"\u00d6ffn"},
                    FormCase{"PairKeptWhole", "abc", "a\xf0\x9f\x98\x80", u"a\U0001F600"},
                    FormCase{"LoneHalfOfACutPairDropped", "ab", "a\xf0\x9f\x98\x80", u"a "},
                    FormCase{"LargestPoint", "ab", "\xf4\x8f\xbf\xbf", u"\U0010FFFF"},
                    FormCase{"OriginalNoUtf8", "\xff" "File", "Best", std::nullopt},
                    FormCase{"TranslationNoUtf8", "Nope", "\xe9t\xe9", std::nullopt},
                    FormCase{"Overlong", "\xc0\x80", "x", std::nullopt},
                    FormCase{"OverlongThreeBytes", "\xe0\x80\xaf", "x", std::nullopt},
                    FormCase{"EncodedSurrogate", "\xed\xa0\x80", "x", std::nullopt},
                    FormCase{"BeyondLargestPoint", "\xf4\x90\x80\x80", "x", std::nullopt},
                    FormCase{"CutSequence", "ab\xc3", "x", std::nullopt},
                    FormCase{"StrayContinuation", "a\x80", "x", std::nullopt},
                    // Runs of eight ASCII bytes are widened at once.
                    FormCase{"PointAfterEightAscii", "Open the file now", "Datei jetzt \xc3\xb6" "ffnen",
                             u"Datei jetzt \u00f6ffne"},
                    FormCase{"NoUtf8AfterEightAscii", "Settings\xff", "x", std::nullopt},
                    FormCase{"TranslationCutAfterEightAscii", "Settings", "Optionen\xc3", std::nullopt}),
    [](const testing::TestParamInfo<FormCase>& info) { return info.param.name; });

TEST(Utf16, UnpairedHalvesHaveNoUtf8Form) {
    for (const std::string& units : {word(0xD83D), word(0xDE00) + u16(u"a"), u16(u"a") + word(0xD83D) + u16(u"b")}) {
        std::string out;
        EXPECT_FALSE(utf16le_to_utf8(reinterpret_cast<const unsigned char*>(units.data()), units.size() / 2, out));
    }
    std::string units = u16(u"\u00d6a\U0001F600\u20ac");
    std::string out;
    EXPECT_TRUE(utf16le_to_utf8(reinterpret_cast<const unsigned char*>(units.data()), units.size() / 2, out));
    EXPECT_EQ(out, "\xc3\x96" "a\xf0\x9f\x98\x80\xe2\x82\xac");
}

// At an even offset, away from the file's first bytes and its last 98.
std::string inside(const std::string& bytes) { return "\x01\x00"s + bytes + std::string(98, '\0'); }

struct PassCase {
    const char* name;
    std::string dict;
    std::string in;
    int relax;
    std::string want;
    std::vector<std::int64_t> n_trans;
    std::vector<std::int64_t> n_risc;
};

void PrintTo(const PassCase& c, std::ostream* os) { *os << c.name; }

class WidePass : public testing::TestWithParam<PassCase> {};

void in_small_blocks(Trans_Tbl* head, const std::string& in, int relax, std::string& out) {
    std::string copy(in);
    std::FILE* prog = fmemopen(copy.data(), copy.size(), "rb");
    char* buf = nullptr;
    std::size_t len = 0;
    std::FILE* file = open_memstream(&buf, &len);
    EXPECT_EQ(translate_blocks(head, prog, file, relax, 3, true), TranslateStatus::ok);
    std::fclose(prog);
    std::fclose(file);
    out.assign(buf, len);
    std::free(buf);
}

TEST_P(WidePass, ReplacesAndCounts) {
    const PassCase& c = GetParam();
    using Run = void (*)(Trans_Tbl*, const std::string&, int, std::string&);
    for (auto [name, translator] :
         {std::pair<const char*, Run>{"reference",
                                      [](Trans_Tbl* h, const std::string& in, int relax, std::string& out) {
                                          window_translate_bytes(h, in, relax, out);
                                          wide_reference(h, out, relax);
                                      }},
          {"bytes", [](Trans_Tbl* h, const std::string& in, int relax,
                       std::string& out) { translate_bytes(h, in, relax, out, true); }},
          {"blocks", in_small_blocks}}) {
        SCOPED_TRACE(name);
        OwnedList list = dictionary(c.dict);
        std::string out;
        translator(list.get(), c.in, c.relax, out);
        EXPECT_EQ(out, c.want);
        EXPECT_EQ(counts(list.get(), false), c.n_trans);
        EXPECT_EQ(counts(list.get(), true), c.n_risc);
    }
}

// Thousands of originals back to back, as in a large resource section: some
// buckets of the run walk overflow, and a text must still be found whether
// its original sits in a bucket, was left out of a full one, or is short or
// long for the buckets.
TEST(WidePass, FindsEveryOriginalOfALargeDictionary) {
    const auto units_of = [](const std::string& ascii) {
        std::string u;
        for (char c : ascii) u += std::string{c, '\0'};
        return u;
    };
    std::string dict;
    std::string in = word(0);
    std::string want = word(0);
    for (int i = 0; i < 3000; ++i) {
        const std::string n = std::to_string(i);
        const std::string org = std::string(i % 7 == 0 ? 1 : i % 5 == 0 ? 40 : 6, 'w') + n;
        dict += org + " T" + n + "\n";
        in += units_of(org) + word(0);
        want += units_of("T" + n + std::string(org.size() - n.size() - 1, ' ')) + word(0);
    }
    OwnedList list = dictionary(dict);
    for (int relax : {0, 3}) {
        std::string out;
        translate_bytes(list.get(), in + std::string(100, '\0'), relax, out, true);
        EXPECT_EQ(out, want + std::string(100, '\0')) << "level " << relax;
    }
    EXPECT_EQ(counts(list.get(), false), std::vector<std::int64_t>(3000, 2));
}

const std::string kFile = u16(u"&File");
const std::string kBest = u16(u"&Best");
const std::string kNew = u16(u"&New\tCtrl+N");

INSTANTIATE_TEST_SUITE_P(
    Cases, WidePass,
    testing::Values(
        PassCase{"LiteralClean", "Quit Weg\n", inside(wide_literal(u16(u"Quit"))), 0,
                 inside(wide_literal(u16(u"Weg "))), {1}, {0}},
        PassCase{"PopupAfterFlagsStrict", "&File &Bestand\n", inside(menu_popup(kFile)), 0, inside(menu_popup(kFile)),
                 {0}, {0}},
        PassCase{"PopupAfterFlagsRelaxed", "&File &Bestand\n", inside(menu_popup(kFile)), 1, inside(menu_popup(kBest)),
                 {1}, {1}},
        PassCase{"ItemAfterLetterIdRelaxed", "\"&New\tCtrl+N\" \"&Nieuw\tCtrl+N\"\n", inside(menu_item('A', kNew)), 1,
                 inside(menu_item('A', kNew)), {0}, {0}},
        PassCase{"ItemAfterLetterIdAny", "\"&New\tCtrl+N\" \"&Nieuw\tCtrl+N\"\n", inside(menu_item('A', kNew)), 3,
                 inside(menu_item('A', u16(u"&Nieuw\tCtrl"))), {1}, {1}},
        PassCase{"ItemAfterSurrogateHalfRelaxed", "&File &Bestand\n", inside(word(0xD83D) + kFile + word(0)), 1,
                 inside(word(0xD83D) + kBest + word(0)), {1}, {1}},
        PassCase{"ControlAfterClassAny", "OK Goed\n", inside(dialog_control(0x80, u16(u"OK"))), 3,
                 inside(dialog_control(0x80, u16(u"Go"))), {1}, {1}},
        PassCase{"StringTableCountedStrict", "Notepad Kladblok\nHelp Hulp\n",
                 inside(string_table({u16(u"Notepad"), u16(u"Help")})), 0,
                 inside(string_table({u16(u"Kladblo"), u16(u"Hulp")})), {1, 1}, {0, 0}},
        PassCase{"CountedAfterCountedText", "ab xy\nc z\n", inside(string_table({u16(u"ab"), u16(u"c")})), 0,
                 inside(string_table({u16(u"xy"), u16(u"z")})), {1, 1}, {0, 0}},
        // The translation's last unit is a count: the text after it is now a
        // counted one, though its unit before was a letter when read.
        PassCase{"CountedMadeByTranslation", "Quit Weg\nab a\x02\ncd xy\n",
                 inside(wide_literal(u16(u"Quit")) + word(2) + u16(u"abcd") + word(0)), 0,
                 inside(wide_literal(u16(u"Weg ")) + word(2) + u16(u"a\x02xy") + word(0)), {1, 1, 1}, {0, 0, 0}},
        // Five originals alike in the units that the run walk's hash reads
        // share one bucket of four slots and one key: a text must still find
        // the one it equals, also the one left out of the bucket.
        PassCase{"AlikeOriginalsShareABucket",
                 "aaaa0aaaaa0aaaaa A\naaaa1aaaaa0aaaaa B\naaaa2aaaaa0aaaaa C\naaaa3aaaaa0aaaaa D\n"
                 "aaaa4aaaaa0aaaaa E\n",
                 inside(wide_literal(u16(u"aaaa4aaaaa0aaaaa")) + u16(u"aaaa2aaaaa0aaaaa") + word(0) +
                        u16(u"aaaa0aaaaa0aaaaa") + word(0) + u16(u"aaaa5aaaaa0aaaaa") + word(0)),
                 0,
                 inside(wide_literal(u16(u"E               ")) + u16(u"C               ") + word(0) +
                        u16(u"A               ") + word(0) + u16(u"aaaa5aaaaa0aaaaa") + word(0)),
                 {1, 0, 1, 0, 1}, {0, 0, 0, 0, 0}},
        PassCase{"OddOffsetNever", "Quit Weg\n", inside("\x01" + wide_literal(u16(u"Quit"))), 3,
                 inside("\x01" + wide_literal(u16(u"Quit"))), {0}, {0}},
        PassCase{"FirstEntryAloneNoChain", "File Best\nFile Map\nBest Weg\n", inside(wide_literal(u16(u"File"))), 3,
                 inside(wide_literal(u16(u"Best"))), {1, 0, 0}, {0, 0, 0}},
        PassCase{"FirstInListOrderAtOneOffset", "ile Xyz\nile Abc\n", inside(word(3) + u16(u"ile") + word(0)), 3,
                 inside(word(3) + u16(u"Xyz") + word(0)), {1, 0}, {0, 0}},
        PassCase{"ByteReplacementSeenFirst", "F X\nFile Best\n", inside(wide_literal(u16(u"File"))), 0,
                 inside(wide_literal(u16(u"Xile"))), {1, 0}, {0, 0}},
        // The byte pass makes the original the wide pass replaces.
        PassCase{"ByteReplacementMakesWideOriginal", "X F\nFile Best\n", inside(wide_literal(u16(u"Xile"))), 0,
                 inside(wide_literal(u16(u"Best"))), {1, 1}, {0, 0}},
        PassCase{"NoUtf8NotSought", "Quit \xe9t\xe9\n", inside(wide_literal(u16(u"Quit"))), 3,
                 inside(wide_literal(u16(u"Quit"))), {0}, {0}}),
    [](const testing::TestParamInfo<PassCase>& info) { return info.param.name; });

}  // namespace
