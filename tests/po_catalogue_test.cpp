// The PO catalogue reader: catalogue snippets and the entries (with their
// msgstr lines), messages, messages left out or the error they give. The
// snippets that read are also handed to gettext's msgfmt -c (label gettext),
// so that they are catalogues gettext accepts, not only ours.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "owned_list.h"
#include "po_catalogue.h"
#include "po_files.h"
#include "run_tool.h"
#include "text_limits.h"

namespace {

using namespace std::string_literals;

struct Entry {
    std::string org;
    std::string full;
    std::uint32_t line;
    bool operator==(const Entry&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Entry& e) {
    return os << "{" << testing::PrintToString(e.org) << ", " << testing::PrintToString(e.full) << ", " << e.line
              << "}";
}

struct PoCase {
    const char* name;
    std::string text;
    std::vector<Entry> want;
    std::string messages = {};  // what the sink gets
    std::string error = {};     // the error for a catalogue that gives no list
    std::size_t untranslated = 0, fuzzy = 0, obsolete = 0;
    std::uint32_t first_left_out = 0;
};

void PrintTo(const PoCase& c, std::ostream* os) { *os << c.name; }

std::string po(const std::string& id, const std::string& str) { return "msgid \"" + id + "\"\nmsgstr \"" + str + "\"\n"; }

const std::string k4096(kLongestCatalogueText, 'a');

const PoCase kCases[] = {
    {"PairAfterHeader", kPoHeader + "\n#: a.c:1\n" + po("Open", "Openen"), {{"Open", "Openen", 15}}},
    {"SimpleEscapes", po(R"(a\n\t\"\\\a\b\f\r\vz)", "x"), {{"a\n\t\"\\\a\b\f\r\vz", "x", 2}}},
    {"OctalAndHex", po(R"(\101\1012\7\x41\x414b\x7)", "y"), {{"AA2\aAK\a", "y", 2}}},
    {"ContinuedStrings",
     "msgid \"\"\n\"Usage: %s\\n\"\n\"  -h\\n\"\nmsgstr \"\"\n\"Gebruik: %s\\n\"\n  \"  -h\\n\"\n",
     {{"Usage: %s\n  -h\n", "Gebruik: %s\n  -h\n", 4}}},
    {"LeftOut",
     "#, fuzzy, c-format\n" + po("Fuzzy %d", "Vaag %d") + po("Untranslated", "") + po("Kept", "Bewaard") +
         "#~ msgid \"Old\"\n#~ msgstr \"Oud\"\n#, fuzzy\n#~| msgid \"Older\"\n#~ msgid \"Gone\"\n#~ msgstr \"Weg\"\n",
     {{"Kept", "Bewaard", 7}}, "", "", 1, 1, 2, 2},
    {"FuzzyHeaderNotCounted", "#, fuzzy\n" + kPoHeader + po("A", "B"), {{"A", "B", 14}}},
    {"PluralRefused",
     po("A", "B") + "msgid \"%d file\"\nmsgid_plural \"%d files\"\nmsgstr[0] \"%d bestand\"\nmsgstr[1] \"%d bestanden\"\n" +
         "msgid \"x\"\nmsgid_plural \"xs\"\nmsgstr[0] \"\"\nmsgstr[1] \"\"\n",
     {{"A", "B", 2}},
     "ERR: t.po:4: the message '%d file' has plural forms (msgid_plural), which a dictionary cannot hold: it gives no "
     "entry\n",
     "", 1, 0, 0, 7},
    {"ContextRefused", "msgctxt \"menu\"\n" + po("Open", "Openen") + po("Open", "Open"), {{"Open", "Open", 5}},
     "ERR: t.po:1: the message 'Open' has a context (msgctxt 'menu'), which a dictionary cannot hold: it gives no "
     "entry\n"},
    {"LongestAndTooLong", po(k4096, "b") + po(k4096 + "a", "c") + po("d", k4096 + "e"), {{k4096, "b", 2}},
     "ERR: t.po:3: the original '" + std::string(57, 'a') + "...' has more than 4096 bytes: it gives no entry\n"
     "ERR: t.po:6: the translation of 'd' has more than 4096 bytes: it gives no entry\n"},
    {"ZeroByteRefused", po("a", R"(b\0c)") + po("e", "f"), {{"e", "f", 4}},
     "ERR: t.po:2: the translation of 'a' holds a zero byte, which would end it: it gives no entry\n"},
    {"CrLf", "msgid \"A\"\r\nmsgstr \"B\"\r\n", {{"A", "B", 2}}},
    {"KeywordAndStringOnTwoLines", "msgid\n\"A\"\nmsgstr\n\"B\"\n", {{"A", "B", 3}}},
    {"NothingTranslated", kPoHeader + po("A", ""), {}, "", "t.po holds no translated message (1 untranslated, 0 fuzzy, 0 obsolete)", 1, 0, 0, 12},
    {"Unterminated", po("A", "B") + "msgid \"C\nmsgstr \"D\"\n", {}, "", "t.po:3: a string does not end on its line"},
    {"InvalidEscape", po(R"(a\qb)", "x"), {}, "", "t.po:1: invalid escape '\\\\q'"},
    {"HexWithoutDigit", po(R"(a\xg)", "x"), {}, "", "t.po:1: \\x is not followed by a hex digit"},
    {"UnknownKeyword", "msgid \"A\"\nmsgtxt \"B\"\n", {}, "", "t.po:2: unknown keyword 'msgtxt'"},
    {"NoMsgstr", po("A", "B") + "msgid \"C\"\n", {}, "", "t.po:3: msgid has no msgstr"},
    {"MsgstrFirst", "msgstr \"B\"\n", {}, "", "t.po:1: msgstr stands before any msgid"},
    {"StrayString", "\"A\"\n", {}, "", "t.po:1: a string stands outside any msgid or msgstr"},
    {"KeywordWithoutString", "msgid\nmsgstr \"B\"\n", {}, "", "t.po:2: a keyword is not followed by a string"},
    {"PartlyObsolete", "#~ msgid \"A\"\nmsgstr \"B\"\n", {}, "", "t.po:2: a message is obsolete (#~) in part only"},
    {"PluralTakesIndex", "msgid \"a\"\nmsgid_plural \"b\"\nmsgstr \"c\"\n", {}, "",
     "t.po:3: a message with msgid_plural takes msgstr[N], not msgstr"},
    {"TwoMsgstr", "msgid \"a\"\nmsgstr \"b\"\nmsgstr \"c\"\n", {}, "", "t.po:3: msgstr stands twice in one message"},
    {"ControlByteOutside", "msgid \"a\" \x01\n", {}, "", "t.po:1: unexpected control byte '\\001'"},
};

class PoReader : public testing::TestWithParam<PoCase> {};

TEST_P(PoReader, GivesEntriesLinesAndWhatIsLeftOut) {
    const PoCase& c = GetParam();
    std::string messages;
    DictionaryLayout layout;
    ReadResult r = read_po_bytes(c.text.data(), c.text.size(), "t.po", collect(messages), &layout);
    std::vector<Entry> got;
    std::size_t i = 0;
    for (const Trans_Tbl* e = r.entries.get(); e != nullptr; e = e->next, ++i) {
        got.push_back({e->org_name, e->new_name_full, i < layout.entry_line.size() ? layout.entry_line[i] : 0});
        // The cut translation is the translator's: the original's length, zero-padded.
        EXPECT_EQ(std::string(e->new_name), std::string(e->new_name_full).substr(0, std::strlen(e->org_name)));
    }
    EXPECT_EQ(got, c.want);
    EXPECT_EQ(messages, c.messages);
    EXPECT_EQ(r.error, c.error);
    EXPECT_EQ(r.status, !c.want.empty()                                  ? ReadStatus::ok
                        : c.error.starts_with("t.po holds no translated") ? ReadStatus::no_entries
                                                                          : ReadStatus::bad_format);
    EXPECT_EQ(layout.left_out.untranslated, c.untranslated);
    EXPECT_EQ(layout.left_out.fuzzy, c.fuzzy);
    EXPECT_EQ(layout.left_out.obsolete, c.obsolete);
    EXPECT_EQ(layout.left_out.first_line, c.first_left_out);
    // Each refusal stands in the layout too, at the line of its message.
    EXPECT_EQ(layout.refused.size(), static_cast<std::size_t>(std::count(c.messages.begin(), c.messages.end(), '\n')));
}

INSTANTIATE_TEST_SUITE_P(Snippets, PoReader, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<PoCase>& info) { return info.param.name; });

// The snippets that read (with a header of their own, which msgfmt wants)
// are catalogues gettext accepts.
TEST(GettextAccepts, TheReadersSnippets) {
    if (std::string(MSGFMT_BIN).empty()) GTEST_SKIP() << "no msgfmt (Debian's gettext) here";
    TempDir dir;
    std::size_t checked = 0;
    for (const PoCase& c : kCases) {
        if (!c.error.empty() && !c.error.starts_with("t.po holds no translated")) continue;
        const bool has_header = c.text.find(kPoHeader) != std::string::npos;
        const bool refused_zero = c.messages.find("zero byte") != std::string::npos;
        if (refused_zero) continue;  // gettext refuses a zero byte too
        dir.write("t.po", (has_header ? "" : kPoHeader + "\n") + c.text);
        RunResult r = msgfmt_check(dir, "t.po");
        EXPECT_EQ(r.status, 0) << c.name << ": " << r.err;
        ++checked;
    }
    EXPECT_GE(checked, 12u);
}

// The other way: what gettext writes (msgcat rewrites a catalogue: its own
// escapes, long strings wrapped over lines) reads back as the texts.
TEST(GettextAccepts, TheTextsGettextWritesReadBack) {
    if (std::string(MSGCAT_BIN).empty()) GTEST_SKIP() << "no msgcat (Debian's gettext) here";
    std::vector<std::pair<std::string, std::string>> pairs = {
        {"Say \"hi\"\\n", "Zeg \"hoi\"\\n"},
        {"tab\there\a\b\f\v\r end", "tab\thier\a\b\f\v\r eind"},
        {"\x01\x02\x03\x05\x1b\x1f\x7f ctl", "ctl \x1f\x1b\x7f"},
        {"Usage: sed [OPTION]... {script-only-if-no-other-script} [input-file]...\n\n", "Gebruik: sed [OPTIE]...\n\n"},
        {std::string(300, 'w') + "\n" + std::string(200, 'v'), "caf\xc3\xa9 " + std::string(250, 'z')},
    };
    std::string catalogue = kPoHeader;
    for (const auto& [org, full] : pairs) catalogue += "\nmsgid " + po_string(org) + "\nmsgstr " + po_string(full) + "\n";
    TempDir dir;
    dir.write("in.po", catalogue);
    RunResult r = run_program(MSGCAT_BIN, dir.path(), {"-o", "out.po", "in.po"});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_NE(dir.read("out.po"), catalogue);  // gettext wrote it its own way
    ReadResult read = read_po_file(dir.file("out.po").c_str(), "out.po", {});
    ASSERT_EQ(read.status, ReadStatus::ok) << read.error;
    std::size_t k = 0;
    for (const Trans_Tbl* e = read.entries.get(); e != nullptr; e = e->next, ++k) {
        ASSERT_LT(k, pairs.size());
        EXPECT_EQ(std::string(e->org_name), pairs[k].first);
        EXPECT_EQ(std::string(e->new_name_full), pairs[k].second);
    }
    EXPECT_EQ(k, pairs.size());
    EXPECT_EQ(msgfmt_check(dir, "out.po").status, 0);
}

TEST(PoReader, MissingFileAndFolderAreNoCatalogue) {
    EXPECT_EQ(read_po_file("/nonexistent/t.po", "t.po", {}).status, ReadStatus::cannot_open);
    EXPECT_EQ(read_po_file("/", "t.po", {}).status, ReadStatus::cannot_open);
}

}  // namespace
