// vorlang-extract end to end: options, statuses, and templates that vorlang
// applies in full.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "resource_bytes.h"
#include "run_tool.h"

namespace {

using namespace std::string_literals;
using Files = std::vector<std::pair<std::string, std::string>>;

// A program-like file: the texts between zero bytes, away from both ends.
std::string program(const std::vector<std::string>& texts) {
    std::string p = "\x7f" "ELF"s + std::string(20, '\0');
    for (const std::string& t : texts) p += t + '\0';
    return p + std::string(120, '\0');
}

const std::string kProgram = program({"File", "Quit", "ab", "File", "say \"x\"", "Browse src dir.",
                                      "\x01\x02\x03\x04\x05", "Enable"});

// These test programs have no format that the extract recognises.
std::string header(const std::string& prog, std::size_t min = 4, const std::string& dict = "") {
    return "!# Dictionary template for \"" + prog + "\"\n" +
           (dict.empty() ? "" : "!# Leaving out the texts translated in \"" + dict + "\"\n") + "!# Texts of " +
           std::to_string(min) + " bytes or more, each translated to itself.\n" +
           "!# The format of the program was not recognised (ELF or PE): every text is listed.\n";
}

const std::string kBody = "File File\nQuit Quit\n!# holds a double quote, which no dictionary text can: \"say \\\"x\\\"\"\n"
                          "\"Browse src dir.\" \"Browse src dir.\"\nEnable Enable\n";

// UTF-16 texts only: a menu popup, a string table, a wide literal, a
// control, and an unpaired half that no UTF-8 text can hold.
const std::string kWideProgram = std::string(30, '\0') + menu_popup(u16(u"&Open")) +
                                 string_table({u16(u"Save"), u16(u"Exit")}) + wide_literal(u16(u"File")) +
                                 dialog_control(0x80, u16(u"OK")) + wide_literal(word(0xD83D) + u16(u"Half")) +
                                 std::string(120, '\0');

RunResult run_extract(const std::string& dir, const std::vector<std::string>& args) {
    return run_program(VORLANG_EXTRACT_BIN, dir, args);
}

struct Case {
    const char* name;
    Files files;
    std::vector<std::string> args;
    int status;
    std::string out;
    std::string err;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class Extract : public testing::TestWithParam<Case> {};

TEST_P(Extract, EndsAsDocumentedAndWritesNoFile) {
    const Case& c = GetParam();
    TempDir dir;
    for (auto& [name, bytes] : c.files) dir.write(name, bytes);
    auto before = dir.snapshot();
    RunResult r = run_extract(dir.path(), c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(dir.snapshot(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Runs, Extract,
    testing::Values(
        Case{"Defaults", {{"dornevo.exe", kProgram}}, {}, 0, header("dornevo.exe") + kBody,
             "Texts of dornevo.exe: lines 4, comments 1.\n"},
        Case{"ShorterTexts", {{"p.exe", kProgram}}, {"-p", "p", "-m", "2"}, 0,
             header("p.exe", 2) + "File File\nQuit Quit\nab ab\n" + kBody.substr(20), "Texts of p.exe: lines 5, comments 1.\n"},
        Case{"LeavesOutKnownTexts", {{"dornevo.exe", kProgram}, {"old.txt", "File Bestand\n\"Enable\" \"Aan\"\n"}},
             {"-d", "old"}, 0,
             header("dornevo.exe", 4, "old.txt") + kBody.substr(10, kBody.size() - 24),
             "Texts of dornevo.exe: lines 2, comments 1, left out 2.\n"},
        Case{"LanguageNamesTheDictionary", {{"dornevo.exe", kProgram}, {"dornevo_trans_nl.txt", "Quit Weg\n"}},
             {"-t", "nl"}, 0,
             header("dornevo.exe", 4, "dornevo_trans_nl.txt") + "File File\n" + kBody.substr(20),
             "Texts of dornevo.exe: lines 3, comments 1, left out 1.\n"},
        Case{"NoTexts", {{"dornevo.exe", std::string(500, '\0')}}, {}, 0, header("dornevo.exe"),
             "Texts of dornevo.exe: lines 0, comments 0.\n"},
        Case{"MinWithoutValueKeepsDefault", {{"dornevo.exe", kProgram}}, {"-m"}, 0, header("dornevo.exe") + kBody,
             "Texts of dornevo.exe: lines 4, comments 1.\n"},
        Case{"ProgramMissing", {}, {}, 1, "", "Error: program dornevo.exe not found!\n"},
        Case{"DictionaryMissingIsReportedFirst", {}, {"-d", "old"}, 1, "", "Error: dictionary old.txt not found!\n"},
        Case{"DictionaryWithoutEntries", {{"dornevo.exe", kProgram}, {"old.txt", "!# only\n"}}, {"-d", "old"}, -3, "",
             "Error: Can't open translate file old.txt (or wrong format).\n"},
        Case{"DictionaryMessagesGoToStandardError", {{"dornevo.exe", kProgram}, {"old.txt", "\"Quit\"  Weg\nFile B\n"}},
             {"-d", "old"}, 0,
             header("dornevo.exe", 4, "old.txt") + kBody.substr(10),
             "ERR: transl. of Quit needs \"!\nTexts of dornevo.exe: lines 3, comments 1, left out 1.\n"},
        Case{"WideTextsWithU", {{"p.exe", kWideProgram}}, {"-p", "p", "-u", "-m", "2"}, 0,
             header("p.exe", 2) + "&Open &Open\nSave Save\nExit Exit\nFile File\nOK OK\n",
             "Texts of p.exe: lines 5, comments 0.\n"},
        Case{"WideTextsMergedByOffset", {{"p.exe", program({"File", "Quit"}) + kWideProgram + program({"Zzz9"})}},
             {"-p", "p", "-u"}, 0, header("p.exe") + "File File\nQuit Quit\n&Open &Open\nSave Save\nExit Exit\nZzz9 Zzz9\n",
             "Texts of p.exe: lines 6, comments 0.\n"},
        Case{"NoWideTextsWithoutU", {{"p.exe", kWideProgram}}, {"-p", "p", "-m", "2"}, 0, header("p.exe", 2),
             "Texts of p.exe: lines 0, comments 0.\n"},
        Case{"ProgramIsAFolder", {{"p.exe/x", ""}}, {"-p", "p"}, -2, "", "Error: Can't open file p.exe to extract.\n"},
        Case{"MinZero", {{"dornevo.exe", kProgram}}, {"-m", "0"}, -4, "", "Error: -m 0 is no number from 1 to 97.\n"},
        Case{"MinTooBig", {{"dornevo.exe", kProgram}}, {"-m", "98"}, -4, "", "Error: -m 98 is no number from 1 to 97.\n"},
        Case{"MinNoNumber", {{"dornevo.exe", kProgram}}, {"-m", "4x"}, -4, "", "Error: -m 4x is no number from 1 to 97.\n"},
        Case{"ResourcesOfNoPE", {{"dornevo.exe", kProgram}}, {"-g"}, -7, "",
             "Error: dornevo.exe has no resources that -g can read: it is no PE program.\n"},
        Case{"ResourcesOfNoLanguage", {{"dornevo.exe", kProgram}}, {"-g", "-l", "0x409"}, -4, "",
             "Error: -l 0x409 is no language id (hex, e.g. 0409).\n"},
        Case{"LanguageWithoutResourcesChangesNothing", {{"dornevo.exe", kProgram}}, {"-l", "zz"}, 0,
             header("dornevo.exe") + kBody, "Texts of dornevo.exe: lines 4, comments 1.\n"},
        Case{"ProgramNameInHeaderIsEscaped", {{"a\"b\\.exe", kProgram}}, {"-p", "a\"b\\"}, 0,
             header("a\\\"b\\\\.exe") + kBody, "Texts of a\"b\\.exe: lines 4, comments 1.\n"}),
    [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

TEST(Extract, UsageOnStandardErrorWhereverHStands) {
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"-h"}, {"-p", "-h"}, {"-m", "0", "-h"}, {"-m", "0", "--help"}}) {
        TempDir dir;
        RunResult r = run_extract(dir.path(), args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("Usage:\n   vorlang-extract [options]"), std::string::npos);
        EXPECT_NE(r.err.find("-m <bytes>"), std::string::npos);
    }
}

// A text of a recognised program that no section holds is listed under the
// tool's own words, not under a quoted name.
TEST(Extract, TextOutsideTheSectionsIsLabelled) {
    TempDir dir;
    dir.write("p.exe", read_file(DEMO_BIN) + "\0Trailer\0"s + std::string(120, '\0'));
    RunResult r = run_extract(dir.path(), {"-p", "p"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\n!# (outside the sections)\nTrailer Trailer\n"), std::string::npos) << r.out;
}

// The template as a dictionary: vorlang applies every line at least once,
// no line is shadowed at its places by another, and the copy equals the
// program.
struct RoundTrip {
    const char* name;
    std::string program;
    std::vector<std::string> extract_args;
    std::vector<std::string> vorlang_args;
    std::string extract_err;
};

void PrintTo(const RoundTrip& c, std::ostream* os) { *os << c.name; }

class TemplateRoundTrip : public testing::TestWithParam<RoundTrip> {};

TEST_P(TemplateRoundTrip, IsAppliedInFullByVorlang) {
    const RoundTrip& c = GetParam();
    TempDir dir;
    dir.write("dornevo.exe", c.program);
    RunResult extract = run_extract(dir.path(), c.extract_args);
    ASSERT_EQ(extract.status, 0) << extract.err;
    EXPECT_EQ(extract.err, c.extract_err) << extract.out;
    dir.write("dornevo_trans.txt", extract.out);
    RunResult r = run_vorlang(dir.path(), c.vorlang_args);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("Translation complete: dornevo_t.exe.\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("ERR"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("0x  "), std::string::npos) << extract.out << r.out;
    EXPECT_EQ(dir.read("dornevo_t.exe"), dir.read("dornevo.exe"));
}

const std::vector<std::string> kByteTexts = {
    "Enable", "/File", "File/Quit", "Browse src dir.", "\tindented", " edges ", "ends in CR\r", "cr\r", "a\rb",
    "caf\xc3\xa9 \xe2\x82\xac", "!#bang", "\"q\"", "two\nlines\n", "Verkum", "Vat Verkum", std::string(48, 'w'),
    std::string(60, 'l'), "form\ffeed", "back\\slash", "Enable"};

// Menu items with every small id: below 9 an id word reads as the count
// of a prefix of the text; 9, 10, 13 and 32 up read as a text unit, and
// "Command 9" and "Command 10" are as long as their ids. The id 4 item
// holds "Open file".
std::string menu_with_small_ids() {
    std::string menu = menu_popup(u16(u"&File")) + menu_item(4, u16(u"Open file"));
    for (std::uint16_t id = 1; id <= 127; ++id) {
        std::u16string label = u"Command ";
        for (char d : std::to_string(id)) label += static_cast<char16_t>(d);
        menu += menu_item(id, u16(label));
    }
    return menu + menu_item(2, u16(u"E&xit"), 0x80);
}

// String tables whose counts are text units and whose runs end in a zero
// unit (an empty entry, the table's end): "Hello" and "Open file" (count 9)
// read as one terminated text too.
std::string string_tables() {
    return string_table({u16(u"Hello"), u16(u"Open file")}) + word(0) +
           string_table({u16(u"Ready"), u16(u"A message of exactly thirty-two."), u16(u""), u16(u"Open files"),
                         u16(u"Cancel")}) +
           string_table({u16(u"Line\r\nbreak ok"), u16(u"Done")}) + word(0);
}

std::string dialog() {
    return dialog_caption(u16(u"Find")) + dialog_control(0x82, u16(u"Fi&nd what:")) +
           dialog_control(0x80, u16(u"Find &Next")) + dialog_control(0x80, u16(u"Cancel")) + dialog_caption(u16(u"Go"));
}

// From 2 bytes: each character of a UTF-16 text is also a byte text of 1
// byte, whose line would act first there as a counted text of one unit.
const std::vector<std::string> kWide = {"-u", "-m", "2"};

std::string wide_program(const std::string& resources) { return std::string(30, '\0') + resources + std::string(120, '\0'); }

INSTANTIATE_TEST_SUITE_P(
    Templates, TemplateRoundTrip,
    testing::Values(
        // form\ffeed is no text; "!#bang", the quote, the line feeds, Verkum
        // and the 60 bytes are comments.
        RoundTrip{"ByteTexts", program(kByteTexts), {"-m", "1"}, {}, "Texts of dornevo.exe: lines 13, comments 5.\n"},
        RoundTrip{"MenuItemsWithSmallIds", wide_program(menu_with_small_ids()), kWide, {"-u", "-R"},
                  "Texts of dornevo.exe: lines 129, comments 1.\n"},
        RoundTrip{"StringTables", wide_program(string_tables()), kWide, {"-u", "-R"},
                  "Texts of dornevo.exe: lines 7, comments 1.\n"},
        RoundTrip{"DialogControls", wide_program(dialog()), kWide, {"-u", "-R"},
                  "Texts of dornevo.exe: lines 5, comments 0.\n"},
        RoundTrip{"AllOfThem", wide_program(dialog() + menu_with_small_ids() + string_tables()) + program(kByteTexts),
                  kWide, {"-u", "-R"}, "Texts of dornevo.exe: lines 152, comments 7.\n"}),
    [](const testing::TestParamInfo<RoundTrip>& info) { return info.param.name; });

}  // namespace
