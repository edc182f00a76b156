// The printf directives of texts, the check that a cut translation keeps the
// original's, and the check that a cut does not split a UTF-8 character.
#include <gtest/gtest.h>

#include <string>

#include "format_directives.h"
#include "utf8.h"

// Failures name the mismatch; found by lookup in the enum's namespace.
static void PrintTo(DirectiveMismatch m, std::ostream* os) {
    static const char* const names[] = {"none", "count", "kind", "order", "cut"};
    *os << names[static_cast<int>(m)];
}

namespace {

using namespace std::string_literals;

// Each directive as written, its kind (or "cut" when incomplete) and its
// position: "%1$s:s@1 %5:cut".
std::string shown(const std::string& text) {
    std::string out;
    for (const Directive& d : format_directives(text)) {
        if (!out.empty()) out += ' ';
        out += text.substr(d.at, d.size) + ":" + (d.complete ? d.kind : "cut");
        if (d.position != 0) out += "@" + std::to_string(d.position);
    }
    return out;
}

struct ReadCase {
    const char* name;
    std::string text;
    std::string want;  // as shown()
    std::string list;  // directive_list()
};

void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }

class Reads : public testing::TestWithParam<ReadCase> {};

TEST_P(Reads, DirectivesAndTheirKinds) {
    const ReadCase& c = GetParam();
    EXPECT_EQ(shown(c.text), c.want);
    EXPECT_EQ(directive_list(c.text), c.list);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, Reads,
    testing::Values(
        ReadCase{"None", "File", "", ""},
        ReadCase{"WidthAndPrecision", "%5.2f%% %5%", "%5.2f:f %%:% %5%:%", "%5.2f"},
        ReadCase{"Sizes", "%d %ld %lld %hd %hhd %jd %zu %td", "%d:d %ld:ld %lld:lld %hd:hd %hhd:hhd %jd:jd %zu:zu %td:td",
                 "%d %ld %lld %hd %hhd %jd %zu %td"},
        ReadCase{"SpellingsOfOneSize", "%qd %Ld %Zu %i %X %o %lf %Lg %llG %C %S",
                 "%qd:lld %Ld:lld %Zu:zu %i:d %X:u %o:u %lf:f %Lg:Lf %llG:Lf %C:lc %S:ls",
                 "%qd %Ld %Zu %i %X %o %lf %Lg %llG %C %S"},
        ReadCase{"OthersAndNoArgument", "%c %s %p %n %hhn %m", "%c:c %s:s %p:p %n:n %hhn:hhn %m:m", "%c %s %p %n %hhn %m"},
        ReadCase{"Flags", "%-10s|%'d|%+ #0I5x", "%-10s:s %'d:d %+ #0I5x:u", "%-10s %'d %+ #0I5x"},
        ReadCase{"Stars", "%*d %.*f %-*.*e", "%*d:*d %.*f:*f %-*.*e:**f", "%*d %.*f %-*.*e"},
        ReadCase{"Positions", "%2$s %1$*3$.*4$d %1$0*5$x", "%2$s:s@2 %1$*3$.*4$d:*3$*4$d@1 %1$0*5$x:*5$u@1",
                 "%2$s %1$*3$.*4$d %1$0*5$x"},
        ReadCase{"NoPositionWithoutDollarOrAtZero", "%0$d %*5d", "%0:? %*:?", "%0 %*"},
        ReadCase{"PercentAfterSpace", "50%% off and 50% off", "%%:% % o:u", "% o"},
        ReadCase{"InvalidStopsBeforeItsByte", "%!%d %\xc3\xa9 %\0d"s, "%:? %d:d %:? %:?", "% %d % %"},
        ReadCase{"LonePercentAtTheEnd", "100%", "%:cut", "%"},
        ReadCase{"CutAfterWidth", "%5", "%5:cut", "%5"},
        ReadCase{"CutAfterPosition", "%1$", "%1$:cut@1", "%1$"}),
    [](const testing::TestParamInfo<ReadCase>& info) { return info.param.name; });

struct CompareCase {
    const char* name;
    std::string original;
    std::string translation;  // in full; the test cuts it as the translator does
    DirectiveMismatch want;
    std::size_t original_index = kNoDirective;
    std::size_t translation_index = kNoDirective;
};

void PrintTo(const CompareCase& c, std::ostream* os) { *os << c.name; }

class Compares : public testing::TestWithParam<CompareCase> {};

TEST_P(Compares, FirstMismatch) {
    const CompareCase& c = GetParam();
    DirectiveCheck r = compare_directives(c.original, c.translation.substr(0, c.original.size()));
    EXPECT_EQ(r.mismatch, c.want);
    EXPECT_EQ(r.original, c.original_index);
    EXPECT_EQ(r.translation, c.translation_index);
}

constexpr std::size_t kNone = kNoDirective;
using M = DirectiveMismatch;

INSTANTIATE_TEST_SUITE_P(
    Translations, Compares,
    testing::Values(
        CompareCase{"Kept", "%s: %5d files", "%s : %d Dateien", M::none},
        CompareCase{"PercentMayBeWritten", "%d%% done", "%d Prozent", M::none},
        CompareCase{"PercentSignLost", "50%% off", "50% off", M::count, kNone, 0},
        CompareCase{"OneDropped", "%s has %d", "%s hat", M::count, 1, kNone},
        CompareCase{"FirstDropped", "%s has %d", "hat %d", M::count, 0, 0},
        CompareCase{"OneAdded", "Open %s now", "%s %s", M::count, kNone, 1},
        CompareCase{"AfterDoubledPercent", "%%%s got %d", "%s %%%ld", M::kind, 2, 2},
        CompareCase{"StarDropped", "%*d", "%d", M::kind, 0, 0},
        CompareCase{"Swapped", "%s out of %d", "%d von %s", M::order, 0, 0},
        CompareCase{"ErrorReasonDropped", "%s: %m", "%s", M::count, 1, kNone},
        CompareCase{"PositionsMove", "%1$s out of %2$d", "%2$d von %1$s", M::none},
        CompareCase{"PositionChangesKind", "%1$s out of %2$d", "%2$s von %1$d", M::kind, 0, 1},
        CompareCase{"PositionChanges", "%1$s out of %2$d", "%1$s von %3$d", M::kind, 1, 1},
        CompareCase{"PositionsOnlyInTheTranslation", "%s out of all %d", "%2$d von %1$s", M::none},
        CompareCase{"PositionsOnlyInTheTranslationSwapKinds", "%s out of all %d", "%2$s von %1$d", M::kind, 0, 1},
        CompareCase{"PositionsOnlyInTheOriginal", "%2$s out of %1$d", "%s von %d", M::kind, 1, 0},
        CompareCase{"StarsTakeArgumentsInTurn", "%2$*1$d items", "%*d Dinge", M::none},
        CompareCase{"CutInsideLength", "File %s: %lu", "Datei %s: %lu", M::cut, 1, 1},
        CompareCase{"CutAfterPercent", "Disk: %s", "Platte %s", M::cut, 0, 0},
        CompareCase{"CutBeforeDirective", "Hi %s!", "Hallo %s", M::count, 0, kNone},
        CompareCase{"BothEndInside", "at 50%", "bei 5%", M::none},
        CompareCase{"CutAfterTheLonePercent", "at 50%", "bei 50%", M::count, 0, kNone},
        CompareCase{"StrayPercent", "100%% !", "100% !", M::count, kNone, 0}),
    [](const testing::TestParamInfo<CompareCase>& info) { return info.param.name; });

struct CutCase {
    const char* name;
    std::string text;
    std::size_t cut;
    std::size_t at;
    std::size_t size;  // 0: no character split
};

void PrintTo(const CutCase& c, std::ostream* os) { *os << c.name; }

class Cuts : public testing::TestWithParam<CutCase> {};

TEST_P(Cuts, SplitCharacter) {
    const CutCase& c = GetParam();
    Utf8Cut r = utf8_cut(c.text, c.cut);
    EXPECT_EQ(r.size, c.size);
    EXPECT_EQ(r.at, c.at);
}

INSTANTIATE_TEST_SUITE_P(
    Utf8, Cuts,
    testing::Values(CutCase{"TwoBytes", "Zur\xc3\xbc" "ck", 4, 3, 2},
                    CutCase{"BeforeTwoBytes", "Zur\xc3\xbc" "ck", 3, 0, 0},
                    CutCase{"AfterTwoBytes", "Zur\xc3\xbc" "ck", 5, 0, 0},
                    CutCase{"ThreeBytesAfterOne", "\xe2\x82\xac!", 1, 0, 3},
                    CutCase{"ThreeBytesAfterTwo", "\xe2\x82\xac!", 2, 0, 3},
                    CutCase{"FourBytesAfterThree", "a\xf0\x9f\x98\x80", 4, 1, 4},
                    CutCase{"AtTheEnd", "\xe2\x82\xac", 3, 0, 0},
                    CutCase{"NothingKept", "\xc3\xab", 0, 0, 0},
                    CutCase{"PastTheEnd", "\xc3\xab", 9, 0, 0},
                    CutCase{"Overlong", "\xc0\xaf!", 1, 0, 0},
                    CutCase{"OverlongThreeBytes", "\xe0\x82\xac!", 1, 0, 0},
                    CutCase{"Surrogate", "\xed\xa0\x80!", 2, 0, 0},
                    CutCase{"LeadWithoutContinuation", "\xc3xy", 1, 0, 0},
                    CutCase{"TruncatedInTheTranslation", "a\xe2\x82", 2, 0, 0},
                    CutCase{"StrayContinuations", "\x82\x82\x82\x82", 2, 0, 0}),
    [](const testing::TestParamInfo<CutCase>& info) { return info.param.name; });

}  // namespace
