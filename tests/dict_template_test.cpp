// Template lines: every line reads back through the dictionary reader as the
// entry it means, and every comment is ignored by it. The PO template's
// escapes, flags and comments.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "dict_template.h"
#include "dictionary.h"
#include "owned_list.h"
#include "po_template.h"

namespace {

using namespace std::string_literals;

// What the template holds for a text: its line or its comment.
std::string written(const std::string& text) {
    TemplateLine t = template_line(text);
    if (t.problem == LineProblem::none) return std::string(t.line, t.size);
    char* data = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&data, &size);
    write_problem(out, t, text);
    std::fclose(out);
    std::string s(data, size);
    std::free(data);
    return s;
}

struct Read {
    std::vector<std::string> entries;  // org, cut and full translation of each entry
    std::string messages;
};

Read read(const std::string& dict) {
    Read out;
    ReadResult r = read_trans_bytes(dict.data(), dict.size(), collect(out.messages));
    for (const Trans_Tbl* e = r.entries.get(); e != nullptr; e = e->next) {
        out.entries.insert(out.entries.end(), {e->org_name, e->new_name, e->new_name_full});
    }
    return out;
}

std::vector<std::string> lines_of(const std::string& s) {
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < s.size();) {
        std::size_t end = s.find('\n', i);
        end = end == std::string::npos ? s.size() : end + 1;
        lines.push_back(s.substr(i, end - i));
        i = end;
    }
    return lines;
}

// A comment joined again: continuation breaks and the "!# " taken out.
std::string unwrapped(std::string s) {
    for (std::size_t at; (at = s.find("\\\n!# ")) != std::string::npos;) s.erase(at, 5);
    return s.substr(3, s.size() - 4);
}

struct Case {
    const char* name;
    std::string text;
    std::string want;  // the whole output, or the comment once unwrapped
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class Lines : public testing::TestWithParam<Case> {};

TEST_P(Lines, AreWrittenAsExpected) {
    const Case& c = GetParam();
    std::string out = written(c.text);
    if (out.substr(0, 2) == "!#") {
        EXPECT_EQ(unwrapped(out), c.want);
    } else {
        EXPECT_EQ(out, c.want);
    }
}

const std::string k48(48, 'a');
const std::string k46q = std::string(45, 'a') + " ";

INSTANTIATE_TEST_SUITE_P(
    Forms, Lines,
    testing::Values(
        Case{"Plain", "Enable", "Enable Enable\n"},
        Case{"BlanksAreQuoted", "Browse src dir.", "\"Browse src dir.\" \"Browse src dir.\"\n"},
        Case{"TabsAreQuoted", "a\tb", "\"a\tb\" \"a\tb\"\n"},
        Case{"EdgeBlanksStay", " x ", "\" x \" \" x \"\n"},
        Case{"TrailingCrGetsABlank", "ok\r", "ok\r ok\r \n"},
        Case{"InnerCrAndFormFeedAreWordBytes", "a\rb\fc", "a\rb\fc a\rb\fc\n"},
        Case{"VerkumAfterAnEarlierV", "Vat Verkum", "\"Vat Verkum\" \"Vat Verkum\"\n"},
        Case{"LowerCaseVerkum", "verkum", "verkum verkum\n"},
        Case{"BangHashWithBlankIsQuoted", "!# x", "\"!# x\" \"!# x\"\n"},
        Case{"LongestPlain", k48, k48 + " " + k48 + "\n"},
        Case{"LongestQuoted", k46q, "\"" + k46q + "\" \"" + k46q + "\"\n"},
        Case{"LongestWithCr", std::string(47, 'a') + "\r", std::string(47, 'a') + "\r " + std::string(47, 'a') + "\r \n"},
        Case{"Quote", "say \"hi\"", "holds a double quote, which no dictionary text can: \"say \\\"hi\\\"\""},
        Case{"LineFeed", "Done\n", "holds a line feed, which ends a dictionary line: \"Done\\n\""},
        Case{"Protected", "xVerkumx", "its first capital V begins \"Verkum\", so the line would be ignored: \"xVerkumx\""},
        Case{"CommentStart", "!#abc", "begins with !#, so its line would be a comment: \"!#abc\""},
        Case{"PlainTooLong", std::string(49, 'b'),
             "49 bytes, too long to repeat on a line; a translation of up to 48 fits: \"" + std::string(49, 'b') + "\""},
        Case{"QuotedTooLong", "a\t" + std::string(45, 'c'),
             "47 bytes, too long to repeat on a line; a translation of up to 46 fits: \"a\\t" + std::string(45, 'c') +
                 "\""},
        Case{"NoRoomAtAll", std::string(97, 'd'),
             "97 bytes, too long for a line with a translation: \"" + std::string(97, 'd') + "\""},
        Case{"EscapesStayWhole", "\"" + std::string(90, '\n'),
             "holds a double quote, which no dictionary text can: \"\\\"" + [] {
                 std::string s;
                 for (int i = 0; i < 90; ++i) s += "\\n";
                 return s;
             }() + "\""}),
    [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

// Random texts built from the pieces that the reader treats specially.
std::string random_text(std::mt19937& rng) {
    static const std::vector<std::string> pieces = {
        "a", "Z", "7", "V", "erkum", "Verkum", " ", "\t", "\r", "\n", "\"", "!", "#", "!#",
        "\xc3\xa9", "\xe2\x82\xac", "\f", "\\", "\r\n", "xyz"};
    std::size_t want = std::uniform_int_distribution<std::size_t>(1, 97)(rng);
    // Short texts are the ones that fit a line: make them common.
    if (rng() % 2 == 0) want = std::uniform_int_distribution<std::size_t>(1, 50)(rng);
    std::string text;
    while (text.size() < want) text += pieces[rng() % pieces.size()];
    return text.substr(0, want);
}

std::string naive_plain(const std::string& t) { return t + " " + t + "\n"; }
std::string naive_quoted(const std::string& t) { return "\"" + t + "\" \"" + t + "\"\n"; }

TEST(Lines, ReadBackAsTheirEntryAndCommentsAsNothing) {
    std::mt19937 rng(7);
    std::string dictionary;
    std::vector<std::string> expected;
    int lines = 0;
    int comments = 0;
    for (int round = 0; round < 5000; ++round) {
        std::string text = random_text(rng);
        SCOPED_TRACE(testing::PrintToString(text));
        TemplateLine t = template_line(text);
        std::string out = written(text);
        for (const std::string& line : lines_of(out)) {
            ASSERT_LE(line.size(), kReadPiece);
        }
        Read r = read(out);
        ASSERT_EQ(r.messages, "");
        if (t.problem == LineProblem::none) {
            ASSERT_EQ(r.entries, (std::vector<std::string>{text, text, text}));
            ASSERT_TRUE(reads_back(out, text));
            expected.insert(expected.end(), {text, text, text});
            ++lines;
        } else {
            ASSERT_EQ(r.entries, std::vector<std::string>{});
            for (const std::string& line : lines_of(out)) {
                ASSERT_EQ(line.substr(0, 2), "!#");
            }
            // A text is commented only when no plain line does it.
            if (t.problem != LineProblem::too_long) {
                ASSERT_FALSE(reads_back(naive_plain(text), text));
            }
            if (t.problem != LineProblem::too_long && t.problem != LineProblem::comment_start) {
                ASSERT_FALSE(reads_back(naive_quoted(text), text));
            }
            ++comments;
        }
        dictionary += out;
    }
    // All of it as one dictionary: the lines do not disturb each other.
    EXPECT_EQ(read(dictionary).entries, expected);
    EXPECT_GT(lines, 300);
    EXPECT_GT(comments, 300);
}

struct TextCase {
    const char* name;
    std::string text;
    std::size_t min;
    bool want;
};

void PrintTo(const TextCase& c, std::ostream* os) { *os << c.name; }

class LooksLikeText : public testing::TestWithParam<TextCase> {};

TEST_P(LooksLikeText, Decides) {
    EXPECT_EQ(looks_like_text(GetParam().text, GetParam().min), GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, LooksLikeText,
    testing::Values(TextCase{"Ascii", "Open file", 4, true},
                    TextCase{"ShorterThanMin", "abc", 4, false},
                    TextCase{"MinCountsBytes", "\xc3\xa9\xc3\xa9", 4, true},
                    TextCase{"BlanksAndLineEnds", "a\tb\r\n", 4, true},
                    TextCase{"ControlByte", "ab\x01" "cd", 4, false},
                    TextCase{"Delete", "abc\x7f", 4, false},
                    TextCase{"FormFeed", "abc\f", 4, false},
                    TextCase{"Utf8ThreeAndFour", "\xe2\x82\xac \xf0\x9f\x98\x80", 4, true},
                    TextCase{"LoneContinuation", "abc\x80", 4, false},
                    TextCase{"Overlong", "ab\xc0\xaf", 4, false},
                    TextCase{"OverlongThree", "ab\xe0\x80\xaf", 4, false},
                    TextCase{"Surrogate", "ab\xed\xa0\x80", 4, false},
                    TextCase{"AboveUnicode", "ab\xf4\x90\x80\x80", 4, false},
                    TextCase{"Truncated", "abc\xe2\x82", 4, false}),
    [](const testing::TestParamInfo<TextCase>& info) { return info.param.name; });

// What gettext's tools write between a msgid's quotes, and whether the
// text is flagged c-format.
TEST(PoTemplate, EscapesAndFormatFlag) {
    struct Row {
        std::string text;
        std::string msgid;
        bool c_format;
    };
    const Row rows[] = {
        {"Open file", "Open file", false},
        {"two\nlines\n", "two\\nlines\\n", false},
        {"say \"x\" \\ y", "say \\\"x\\\" \\\\ y", false},
        {"a\tb\rc", "a\\tb\\rc", false},
        {"\a\b\f\v", "\\a\\b\\f\\v", false},
        {"\x01\x1b\x1f\x7f", "\\001\\033\\037\\177", false},
        {"caf\xc3\xa9 \xe2\x82\xac", "caf\xc3\xa9 \xe2\x82\xac", false},  // UTF-8 as it is
        {"\x80\xff", "\x80\xff", false},  // bytes over 0x7f are never escaped
        {"%s files in %d folders", "%s files in %d folders", true},
        {"Line %ld, column %ld", "Line %ld, column %ld", true},
        {"%2$s %1$s", "%2$s %1$s", true},
        {"100%%", "100%%", false},         // reads no argument
        {"50%% of %s", "50%% of %s", true},
        {"50%", "50%", false},             // ends inside a directive
        {"50%!", "50%!", false},           // no directive after all
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(po_escaped(row.text), row.msgid);
        EXPECT_EQ(is_c_format(row.text), row.c_format);
    }
}

// A message per text, each place once in its comments, the rest counted,
// the smallest room as the cut's length; a text with inner line feeds split
// after each one, as gettext writes it.
TEST(PoTemplate, MessagesWithTheirPlaces) {
    PoTemplate po;
    po.add("\xc3\x96" "ffne %s\nnu\n", ".rodata", TextRoom::bytes);
    po.add("Quit", "menu 1, en-US", TextRoom::any);
    po.add("\xc3\x96" "ffne %s\nnu\n", ".data", TextRoom::units);
    po.add("\xc3\x96" "ffne %s\nnu\n", ".rodata", TextRoom::bytes);
    for (int i = 0; i < 10; ++i) po.add("Quit", "dialog " + std::to_string(i), TextRoom::any);
    po.add("caf\xc3\xa9", "", TextRoom::units);
    char* data = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&data, &size);
    po.write(out, {{"a note", "bad \xff name\n"}, "2026-12-09 14:00+0000"});
    std::fclose(out);
    const std::string written(data, size);
    std::free(data);
    EXPECT_EQ(po.size(), 3u);
    EXPECT_NE(written.find("#\n# a note\n# bad \\xff name\\n\n#\n#, fuzzy\nmsgid \"\"\n"), std::string::npos) << written;
    EXPECT_NE(written.find("\"POT-Creation-Date: 2026-12-09 14:00+0000\\n\"\n"), std::string::npos);
    EXPECT_NE(written.find("\"Content-Type: text/plain; charset=UTF-8\\n\"\n"), std::string::npos);
    const std::string body = written.substr(written.find("\n\n#. .rodata"));
    EXPECT_EQ(body,
              "\n\n#. .rodata; room: 13 bytes (UTF-8)\n"
              "#. .data; room: 12 UTF-16 units\n"
              "#, c-format, max-length:12\n"
              "msgid \"\"\n\"\xc3\x96" "ffne %s\\n\"\n\"nu\\n\"\nmsgstr \"\"\n"
              "\n#. menu 1, en-US; any length\n"
              "#. dialog 0; any length\n#. dialog 1; any length\n#. dialog 2; any length\n#. dialog 3; any length\n"
              "#. dialog 4; any length\n#. dialog 5; any length\n#. dialog 6; any length\n"
              "#. and 3 more places\n"
              "msgid \"Quit\"\nmsgstr \"\"\n"
              "\n#. room: 4 UTF-16 units\n"
              "#, max-length:4\n"
              "msgid \"caf\xc3\xa9\"\nmsgstr \"\"\n");
}

}  // namespace
