// The entry list, the dictionary reader's line forms and the consistency check.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "dictionary.h"
#include "owned_list.h"

namespace {

struct Entry {
    std::string org;
    std::string cut;
    std::string full;
    bool operator==(const Entry&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Entry& e) {
    return os << "{" << testing::PrintToString(e.org) << ", " << testing::PrintToString(e.cut)
              << ", " << testing::PrintToString(e.full) << "}";
}

std::vector<Entry> entries(const Trans_Tbl* head) {
    std::vector<Entry> list;
    for (const Trans_Tbl* e = head; e != nullptr; e = e->next) {
        list.push_back({e->org_name, e->new_name, e->new_name_full});
    }
    return list;
}

struct Read {
    std::vector<Entry> list;
    ReadStatus status;
    std::string out;
};

Read read(const std::string& text) {
    std::string out;
    ReadResult r = read_trans_bytes(text.data(), text.size(), collect(out));
    return {entries(r.entries.get()), r.status, out};
}

TEST(EntryList, CreateLinksInOrderAndZeroFills) {
    Trans_Tbl* head = nullptr;
    Trans_Tbl* first = Create_Tbl(&head);
    OwnedList list = own(head);
    ASSERT_EQ(head, first);
    EXPECT_EQ(first->prev, nullptr);
    EXPECT_EQ(first->next, nullptr);
    Trans_Tbl* second = Create_Tbl(&head);
    Trans_Tbl* third = Create_Tbl(&head);
    EXPECT_EQ(head, first);
    EXPECT_EQ(first->next, second);
    EXPECT_EQ(second->next, third);
    EXPECT_EQ(third->next, nullptr);
    EXPECT_EQ(third->prev, second);
    EXPECT_EQ(second->prev, first);

    OwnedList loose_list = own(Create_Tbl(nullptr));
    Trans_Tbl* loose = loose_list.get();
    ASSERT_NE(loose, nullptr);
    EXPECT_EQ(loose->n_trans, 0);
    EXPECT_EQ(loose->n_risc, 0);
    for (const char* field : {loose->org_name, loose->new_name, loose->new_name_full}) {
        for (std::size_t i = 0; i < kTextField; ++i) ASSERT_EQ(field[i], 0) << i;
    }
}

struct LineCase {
    const char* name;
    std::string text;
    std::vector<Entry> want;
    std::string out;
};

void PrintTo(const LineCase& c, std::ostream* os) { *os << c.name; }

class ReaderLines : public testing::TestWithParam<LineCase> {};

TEST_P(ReaderLines, GivesExactEntriesAndMessages) {
    const LineCase& c = GetParam();
    Read r = read(c.text);
    EXPECT_EQ(r.list, c.want);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.status, c.want.empty() ? ReadStatus::no_entries : ReadStatus::ok);
}

using namespace std::string_literals;

const std::string k97(97, 'a');

INSTANTIATE_TEST_SUITE_P(
    Forms, ReaderLines,
    testing::Values(
        LineCase{"PlainCut", "Enable Aanzetten\n", {{"Enable", "Aanzet", "Aanzetten"}}, ""},
        LineCase{"MenuPath", "/File       /Bestand\n", {{"/File", "/Best", "/Bestand"}}, ""},
        LineCase{"ShorterKept", "File/Quit   Best/Weg\n", {{"File/Quit", "Best/Weg", "Best/Weg"}}, ""},
        LineCase{"TabsAndRuns", " \t a\t\t b  c\n", {{"a", "b", "b"}}, ""},
        LineCase{"OneWord", "lonely\n", {}, ""},
        LineCase{"BlankLines", "\n   \n\t\n", {}, ""},
        LineCase{"Comment", "!# Enable Aanzetten\n", {}, ""},
        LineCase{"IndentedCommentIsNoComment", " !# Enable Aanzetten\n", {{"!#", "En", "Enable"}}, ""},
        LineCase{"CommentsOnly", "!# one\n!#two three\n", {}, ""},
        LineCase{"Empty", "", {}, ""},
        LineCase{"Quoted", "\"Browse src dir.\"   \"Blader src map.\"\n",
                 {{"Browse src dir.", "Blader src map.", "Blader src map."}}, ""},
        LineCase{"QuotedUnclosedKeepsLf", "\"abc\"  \"de\n", {{"abc", "de\n", "de\n"}}, ""},
        LineCase{"WordThenQuoted", "word \"quoted\"\n", {{"word ", "\n", "\n"}}, ""},
        LineCase{"WordThenQuotedAtEnd", "word \"quoted\"", {}, "ERR: transl. of word  needs \"!\n"},
        LineCase{"QuotedAloneNeedsLf", "\"abc\"\n", {}, "ERR: transl. of abc needs \"!\n"},
        LineCase{"QuotedAloneAtEnd", "\"abc\"", {}, ""},
        LineCase{"AdjacentQuotes", "\"a\"\"b\"\n", {{"a", "\n", "\n"}}, ""},
        LineCase{"IndentedQuoted", "  \"abc\"   \"def\"\n", {{"  ", "  ", "   "}}, ""},
        LineCase{"EmptyQuotesNoPiece", "\"\" \"abc\"\n", {{" ", "\n", "\n"}}, ""},
        LineCase{"QuotedThenPlain", "\"orig\" repl\n", {}, "ERR: transl. of orig needs \"!\n"},
        LineCase{"Protected", "Verkum Foo\n", {}, ""},
        LineCase{"ProtectedInside", "x aVerkumy z\n", {}, ""},
        LineCase{"ProtectedQuoted", "\"Verkum\" \"x\"\n", {}, ""},
        LineCase{"OnlyFirstVCounts", "Vx Verkum\n", {{"Vx", "Ve", "Verkum"}}, ""},
        LineCase{"LowerCaseNotProtected", "verkum x\n", {{"verkum", "x", "x"}}, ""},
        LineCase{"CrLf", "Enable Aan\r\nQuit Weg\r\n", {{"Enable", "Aan", "Aan"}, {"Quit", "Weg", "Weg"}}, ""},
        LineCase{"LoneCrIsAByte", "A\rB C\n", {{"A\rB", "C", "C"}}, ""},
        LineCase{"CrAtEnd", "A B\r", {{"A", "B", "B\r"}}, ""},
        LineCase{"NulEndsLine", "Ab\0c Cd\nE F\n"s, {{"E", "F", "F"}}, ""},
        LineCase{"LongLineInPieces", k97 + " Y" + "Z W\n", {{k97, "Y", "Y"}, {"Z", "W", "W"}}, ""},
        LineCase{"CrLfCountsAsOne", std::string(96, 'q') + " Y\r\nA B\n",
                 {{std::string(96, 'q'), "Y", "Y"}, {"A", "B", "B"}}, ""},
        LineCase{"CrLfEndsFullPiece", std::string(98, 'q') + "\r\nA B\n", {{"A", "B", "B"}}, ""},
        LineCase{"CrBeginsNextPiece", std::string(99, 'q') + "\rX Y\n", {{"\rX", "Y", "Y"}}, ""},
        LineCase{"NoLfAtEnd", "A B", {{"A", "B", "B"}}, ""}),
    [](const testing::TestParamInfo<LineCase>& info) { return info.param.name; });

TEST(Reader, LongestOriginalsFitTheLimits) {
    // Every piece of a long line is at most 99 characters, so no original
    // exceeds 97 and no text field overflows, whatever the line holds.
    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
        std::string text;
        for (int i = 0; i < 2000; ++i) {
            int r = static_cast<int>(rng() % 10);
            text.push_back(r < 2 ? ' ' : r < 3 ? '"' : r < 4 ? '\n' : static_cast<char>('a' + rng() % 26));
        }
        ReadResult res = read_trans_bytes(text.data(), text.size(), {});
        for (const Trans_Tbl* e = res.entries.get(); e != nullptr; e = e->next) {
            ASSERT_GE(std::strlen(e->org_name), 1u);
            ASSERT_LE(std::strlen(e->org_name), 97u);
            ASSERT_LE(std::strlen(e->new_name), std::strlen(e->org_name));
        }
    }
}

TEST(Reader, MissingFileAndFolderAreNoDictionary) {
    EXPECT_EQ(read_trans_file("/nonexistent/dict.txt", {}).status, ReadStatus::cannot_open);
    EXPECT_EQ(read_trans("/nonexistent/dict.txt"), nullptr);
    EXPECT_EQ(read_trans_file("/", {}).status, ReadStatus::cannot_open);
}

struct CheckCase {
    const char* name;
    std::string text;
    int errors;
    std::string out;
};

void PrintTo(const CheckCase& c, std::ostream* os) { *os << c.name; }

class Check : public testing::TestWithParam<CheckCase> {};

TEST_P(Check, ReportsInOrder) {
    const CheckCase& c = GetParam();
    OwnedList list = dictionary(c.text);
    std::string out;
    int errors = check_trans(list.get(), collect(out));
    EXPECT_EQ(out, c.out);
    EXPECT_EQ(errors, c.errors);
}

std::string conflict(const std::string& e, const std::string& p) {
    return "ERR: inconsistent translation:\n  " + e + "\n  " + p + "\n";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Check,
    testing::Values(
        CheckCase{"Consistent", "A B\nC D\n", 0, ""},
        CheckCase{"ConflictAndClip", "/File /Bestand\n/File /Menu\n", 1,
                  "Warn: '/File' ->\n      '/Bestand': clipped to\n      '/Best'\n" +
                      conflict("/File->/Menu", "/File->/Best")},
        CheckCase{"EqualAfterCut", "Enable Aanzetten\nEnable Aanzetje\n", 0,
                  "Warn: 'Enable' ->\n      'Aanzetten': clipped to\n      'Aanzet'\n"
                  "Warn: 'Enable' ->\n      'Aanzetje': clipped to\n      'Aanzet'\n"},
        CheckCase{"ThreeWays", "A x\nA y\nA z\n", 3,
                  conflict("A->y", "A->x") + conflict("A->z", "A->y") + conflict("A->z", "A->x")},
        CheckCase{"ExactRepeats", "A x\nA x\nA x\n", 0, ""},
        CheckCase{"CaseMatters", "File a\nfile b\n", 0, ""},
        CheckCase{"RepeatThenConflict", "A x\nA x\nA y\n", 2,
                  conflict("A->y", "A->x") + conflict("A->y", "A->x")},
        CheckCase{"Alternating", "A x\nA y\nA x\n", 2,
                  conflict("A->y", "A->x") + conflict("A->x", "A->y")},
        CheckCase{"ErrorsBeforeWarning", "AB x\nAB yyy\n", 1,
                  conflict("AB->yy", "AB->x") + "Warn: 'AB' ->\n      'yyy': clipped to\n      'yy'\n"}),
    [](const testing::TestParamInfo<CheckCase>& info) { return info.param.name; });

// The check's messages, straight from its definition: every earlier entry,
// walking backward.
std::string naive_check(const Trans_Tbl* head, int& errors) {
    std::string out;
    errors = 0;
    for (const Trans_Tbl* e = head; e != nullptr; e = e->next) {
        for (const Trans_Tbl* p = e->prev; p != nullptr; p = p->prev) {
            if (std::strcmp(e->org_name, p->org_name) == 0 && std::strcmp(e->new_name, p->new_name) != 0) {
                out += conflict(std::string(e->org_name) + "->" + e->new_name,
                                std::string(p->org_name) + "->" + p->new_name);
                ++errors;
            }
        }
        if (std::strlen(e->new_name_full) > std::strlen(e->org_name)) {
            out += "Warn: '" + std::string(e->org_name) + "' ->\n      '" + e->new_name_full +
                   "': clipped to\n      '" + e->new_name + "'\n";
        }
    }
    return out;
}

TEST(Check, IndexedCheckEqualsTheBackwardWalk) {
    std::mt19937 rng(11);
    const char* words[] = {"a", "b", "ab", "ba", "abc", "A"};
    for (int round = 0; round < 300; ++round) {
        std::string text;
        // The first round's messages outgrow the pieces they are passed on in.
        const bool large = round == 0;
        int lines = large ? 4000 : 1 + static_cast<int>(rng() % 12);
        for (int i = 0; i < lines; ++i) {
            if (large) {
                text += "w" + std::to_string(rng() % 2000) + (rng() % 2 != 0 ? " abcdefgh\n" : " ab\n");
            } else {
                text += std::string(words[rng() % 6]) + " " + words[rng() % 6] + "\n";
            }
        }
        OwnedList list = dictionary(text);
        int want_errors = 0;
        std::string want = naive_check(list.get(), want_errors);
        std::string out;
        int errors = check_trans(list.get(), collect(out));
        ASSERT_EQ(out, want) << (large ? "the large round" : text);
        ASSERT_EQ(errors, want_errors) << (large ? "the large round" : text);
        if (large) {
            ASSERT_GT(out.size(), std::size_t{3} << 16);
        }
    }
}

}  // namespace
