// The PO template of vorlang-extract -P in gettext's own tools: msgfmt -c
// accepts it, msgcat writes it back unchanged (every message and comment
// kept), its msgids are the program's texts byte for byte, and a catalogue
// made by msginit is brought to the next version of the program by
// msgmerge. Label gettext: each test skips, saying so, without the tools.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "resource_bytes.h"
#include "run_tool.h"

namespace {

using namespace std::string_literals;

bool have_gettext() {
    for (const char* tool : {MSGFMT_BIN, MSGCAT_BIN, MSGMERGE_BIN, MSGINIT_BIN, MSGATTRIB_BIN, MSGEN_BIN}) {
        if (std::string(tool).empty()) return false;
    }
    return true;
}

#define SKIP_WITHOUT_GETTEXT() \
    if (!have_gettext()) GTEST_SKIP() << "no msgfmt, msgcat, msgmerge, msginit, msgattrib and msgen (Debian: gettext)"

// Texts between zero bytes, away from both ends, in no format the extract
// knows.
std::string program(const std::vector<std::string>& texts) {
    std::string p = "\x7f" "ELF"s + std::string(20, '\0');
    for (const std::string& t : texts) p += t + '\0';
    return p + std::string(120, '\0');
}

// The texts no plain dictionary line can hold, and printf directives.
const std::vector<std::string> kShapes = {
    "say \"x\"",        "two\nlines\n",   "\nleading",       "Line\r\nbreak",  "back\\slash",
    "\tindented",       "caf\xc3\xa9 \xe2\x82\xac", "%s files in %d folders", "100%% done", "50% off",
    std::string(97, 'l'), "say \"x\"",   "Open",            "Verkum",         "!#bang"};

// The texts of the msgids that msgfmt compiled, read from its .mo file.
std::set<std::string> mo_originals(const std::string& mo) {
    std::set<std::string> out;
    auto word = [&mo](std::size_t at) {
        std::uint32_t w = 0;
        if (at + 4 <= mo.size()) std::memcpy(&w, mo.data() + at, 4);
        return static_cast<std::size_t>(w);
    };
    const std::size_t count = word(8);
    const std::size_t table = word(12);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t size = word(table + 8 * i);
        const std::size_t at = word(table + 8 * i + 4);
        if (at + size <= mo.size() && size != 0) out.insert(mo.substr(at, size));
    }
    return out;
}

// The template as gettext keeps it: its tools know no max-length flag.
std::string without_max_length(const std::string& po) {
    return std::regex_replace(std::regex_replace(po, std::regex("#, max-length:[0-9]+\n"), ""),
                              std::regex(", max-length:[0-9]+"), "");
}

struct Row {
    const char* name;
    std::string program;  // its bytes, or "" when it is not here
    std::vector<std::string> args;
    std::set<std::string> texts;  // every msgid, when given
};

void PrintTo(const Row& r, std::ostream* os) { *os << r.name; }

std::string file_or_none(const std::string& path) { return std::filesystem::exists(path) ? read_file(path) : ""; }

class PoTemplateInGettext : public testing::TestWithParam<Row> {};

TEST_P(PoTemplateInGettext, IsAcceptedAndKept) {
    SKIP_WITHOUT_GETTEXT();
    const Row& row = GetParam();
    if (row.program.empty()) GTEST_SKIP() << "the program of " << row.name << " is not here";
    TempDir dir;
    dir.write("p.exe", row.program);
    std::vector<std::string> args{"-P", "-p", "p"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    const RunResult extract = run_program(VORLANG_EXTRACT_BIN, dir.path(), args);
    ASSERT_EQ(extract.status, 0) << extract.err;
    EXPECT_TRUE(extract.err.starts_with("Texts of p.exe: messages ")) << extract.err;
    dir.write("p.pot", extract.out);

    const RunResult check = run_program(MSGFMT_BIN, dir.path(), {"-c", "-o", "p.mo", "p.pot"});
    EXPECT_EQ(check.status, 0) << check.err;
    EXPECT_EQ(check.err.find("error"), std::string::npos) << check.err;

    const RunResult cat = run_program(MSGCAT_BIN, dir.path(), {"--no-wrap", "p.pot"});
    ASSERT_EQ(cat.status, 0) << cat.err;
    EXPECT_EQ(cat.out, without_max_length(extract.out));

    if (row.texts.empty()) return;
    // msgen fills each msgstr with its msgid, so that msgfmt compiles them all.
    ASSERT_EQ(run_program(MSGEN_BIN, dir.path(), {"-o", "en.po", "p.pot"}).status, 0);
    ASSERT_EQ(run_program(MSGFMT_BIN, dir.path(), {"-o", "en.mo", "en.po"}).status, 0);
    EXPECT_EQ(mo_originals(dir.read("en.mo")), row.texts);
}

std::set<std::string> shape_texts() {
    std::set<std::string> texts(kShapes.begin(), kShapes.end());
    texts.erase("Open");  // 4 bytes, and -m 5
    return texts;
}

INSTANTIATE_TEST_SUITE_P(
    Programs, PoTemplateInGettext,
    testing::Values(
        Row{"Demo", read_file(DEMO_BIN), {}, {}},
        Row{"Shapes", program(kShapes), {"-m", "5"}, shape_texts()},
        // UTF-16 texts, as bytes too: each once, with both rooms.
        Row{"Wide",
            program({"File", "Save"}) + std::string(30, '\0') + menu_popup(u16(u"&Open")) +
                string_table({u16(u"Save"), u16(u"Exit\r\n")}) + wide_literal(u16(u"File \u00e9")) + std::string(120, '\0'),
            {"-u"}, {"File", "Save", "&Open", "Exit\r\n", "File \xc3\xa9"}},
        Row{"WindowsResources", file_or_none(TINY_WIN_EXE), {"-g"}, {}},
        Row{"Sed", file_or_none("/bin/sed"), {}, {}}),
    [](const testing::TestParamInfo<Row>& info) { return info.param.name; });

// The lines of a catalogue that msgattrib keeps with these options.
std::string messages(const TempDir& dir, std::vector<std::string> options) {
    options.insert(options.end(), {"--no-wrap", "nl.po"});
    const RunResult r = run_program(MSGATTRIB_BIN, dir.path(), options);
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
}

// The next version: a catalogue of version 1, translated in part, merged
// with the template of version 2, in which one text changed and one was
// added, keeps its translations and asks for the new texts.
TEST(PoTemplateInGettext, NextVersionKeepsTheTranslations) {
    SKIP_WITHOUT_GETTEXT();
    TempDir dir;
    dir.write("v1.exe", program({"Open file", "Print the page", "Save %s as...", "Welcome\n", "Untouched"}));
    dir.write("v2.exe", program({"Open file", "Print the pages", "Save %s as...", "Welcome\n", "Untouched",
                                 "Close the window"}));
    RunResult r = run_program(VORLANG_EXTRACT_BIN, dir.path(), {"-P", "-p", "v1"});
    ASSERT_EQ(r.status, 0) << r.err;
    dir.write("v1.pot", r.out);
    r = run_program(MSGINIT_BIN, dir.path(), {"--no-translator", "-l", "nl", "-i", "v1.pot", "-o", "nl.po"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string po = dir.read("nl.po");
    for (const auto& [original, translation] : std::vector<std::pair<std::string, std::string>>{
             {"\"Open file\"", "\"Openen\""},
             {"\"Print the page\"", "\"Afdrukken\""},
             {"\"Save %s as...\"", "\"%s opslaan...\""},
             {"\"Welcome\\n\"", "\"Welkom\\n\""}}) {
        const std::string empty = "msgid " + original + "\nmsgstr \"\"\n";
        const std::size_t at = po.find(empty);
        ASSERT_NE(at, std::string::npos) << original << " in\n" << po;
        po.replace(at, empty.size(), "msgid " + original + "\nmsgstr " + translation + "\n");
    }
    dir.write("nl.po", po);
    r = run_program(MSGFMT_BIN, dir.path(), {"-c", "-o", "/dev/null", "nl.po"});
    ASSERT_EQ(r.status, 0) << r.err;

    r = run_program(VORLANG_EXTRACT_BIN, dir.path(), {"-P", "-p", "v2"});
    ASSERT_EQ(r.status, 0) << r.err;
    dir.write("v2.pot", r.out);
    r = run_program(MSGMERGE_BIN, dir.path(), {"-q", "-U", "--previous", "--backup=off", "nl.po", "v2.pot"});
    ASSERT_EQ(r.status, 0) << r.err;
    r = run_program(MSGFMT_BIN, dir.path(), {"-c", "-o", "/dev/null", "nl.po"});
    EXPECT_EQ(r.status, 0) << r.err;

    const std::string kept = messages(dir, {"--translated", "--no-fuzzy", "--no-obsolete"});
    // msgmerge keeps the comments of the new template, but no flag it does not know.
    for (const char* pair : {"#. room: 9 bytes (UTF-8)\nmsgid \"Open file\"\nmsgstr \"Openen\"\n",
                             "#, c-format\nmsgid \"Save %s as...\"\nmsgstr \"%s opslaan...\"\n",
                             "msgid \"Welcome\\n\"\nmsgstr \"Welkom\\n\"\n"}) {
        EXPECT_NE(kept.find(pair), std::string::npos) << pair << " in\n" << kept;
    }
    EXPECT_EQ(kept.find("Print the page"), std::string::npos) << kept;
    // The changed text: its old translation as a suggestion, to be checked.
    const std::string fuzzy = messages(dir, {"--only-fuzzy"});
    EXPECT_NE(fuzzy.find("#| msgid \"Print the page\"\nmsgid \"Print the pages\"\nmsgstr \"Afdrukken\"\n"),
              std::string::npos) << fuzzy;
    const std::string todo = messages(dir, {"--untranslated", "--no-obsolete"});
    EXPECT_NE(todo.find("#. room: 16 bytes (UTF-8)\nmsgid \"Close the window\"\nmsgstr \"\"\n"), std::string::npos) << todo;
    EXPECT_NE(todo.find("msgid \"Untouched\"\nmsgstr \"\"\n"), std::string::npos) << todo;
}

}  // namespace
