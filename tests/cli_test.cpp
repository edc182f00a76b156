// The built tool end to end: options and names, exit paths, report, usage.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "resource_bytes.h"
#include "run_tool.h"

namespace {

using namespace std::string_literals;
using Files = std::vector<std::pair<std::string, std::string>>;

// A program-like file: texts between zero bytes, away from both ends.
const std::string kProgram = "\x7f" "ELF"s + std::string(20, '\0') + "File\0/File\0Quit\0Enable\0"s +
                             "Browse src dir.\0"s + std::string(120, '\0');
const std::string kTranslated = "\x7f" "ELF"s + std::string(20, '\0') + "Best\0/File\0Weg\0\0Aanzet\0"s +
                                "Blader src map.\0"s + std::string(120, '\0');
const std::string kDict = "File Bestand\nQuit Weg\nEnable Aanzetten\n\"Browse src dir.\" \"Blader src map.\"\n";

std::string names(const std::string& program, const std::string& dict) {
    return "Program   =" + program + "\nDictionary=" + dict + "\n";
}

struct NameCase {
    const char* name;
    std::vector<std::string> args;
    std::string out;
};

void PrintTo(const NameCase& c, std::ostream* os) { *os << c.name; }

class Names : public testing::TestWithParam<NameCase> {};

// With no files present every run stops at the missing dictionary, which
// shows the names it formed.
TEST_P(Names, AreFormedFromTheOptions) {
    const NameCase& c = GetParam();
    TempDir dir;
    RunResult r = run_vorlang(dir.path(), c.args);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(dir.snapshot().empty());
}

std::string missing(const std::string& program, const std::string& dict) {
    return names(program, dict) + "Error: dictionary " + dict + " not found!\n";
}

INSTANTIATE_TEST_SUITE_P(
    Options, Names,
    testing::Values(
        NameCase{"Defaults", {}, missing("dornevo", "dornevo_trans.txt")},
        NameCase{"Language", {"-t", "nl"}, missing("dornevo", "dornevo_trans_nl.txt")},
        NameCase{"DictionaryAndLanguage", {"-d", "mine", "-t", "nl"}, missing("dornevo", "mine_nl.txt")},
        NameCase{"DictionaryAlwaysGetsTxt", {"-d", "mine.txt"}, missing("dornevo", "mine.txt.txt")},
        NameCase{"WIsD", {"-w", "mine"}, missing("dornevo", "mine.txt")},
        NameCase{"LaterWins", {"-d", "one", "-w", "two"}, missing("dornevo", "two.txt")},
        NameCase{"Program", {"-p", "tool.exe"}, missing("tool.exe", "tool.exe_trans.txt")},
        NameCase{"LanguageLastIgnored", {"-t"}, missing("dornevo", "dornevo_trans.txt")},
        NameCase{"ValueIsStillAnOption", {"-d", "-c"}, missing("dornevo", "-c.txt")},
        NameCase{"EmptyDictionary", {"-d", ""}, missing("dornevo", "dornevo_trans.txt")},
        NameCase{"EmptyLanguage", {"-t", ""}, missing("dornevo", "dornevo_trans_.txt")},
        NameCase{"StrayArguments", {"-x", "word", "-H", "-tnl", "-hx"}, missing("dornevo", "dornevo_trans.txt")},
        NameCase{"Catalogue", {"-P", "-t", "nl"}, missing("dornevo", "dornevo_trans_nl.po")},
        NameCase{"CatalogueNamed", {"-d", "mine", "-P"}, missing("dornevo", "mine.po")},
        NameCase{"ProgramWithBlanks", {"-p", "my tool"}, missing("my tool", "my tool_trans.txt")},
        NameCase{"LongName", {"-p", std::string(5000, 'n')},
                 missing(std::string(5000, 'n'), std::string(5000, 'n') + "_trans.txt")}),
    [](const testing::TestParamInfo<NameCase>& info) { return info.param.name; });

struct RunCase {
    const char* name;
    Files files;
    std::vector<std::string> args;
    int status;
    std::string out;
    std::string err;
    Files after;  // files that must exist afterwards, with their content
};

void PrintTo(const RunCase& c, std::ostream* os) { *os << c.name; }

class Runs : public testing::TestWithParam<RunCase> {};

TEST_P(Runs, EndAsDocumented) {
    const RunCase& c = GetParam();
    TempDir dir;
    for (auto& [name, bytes] : c.files) dir.write(name, bytes);
    RunResult r = run_vorlang(dir.path(), c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
    std::map<std::string, std::string> want;
    for (auto& [name, bytes] : c.files) want[name] = bytes;
    for (auto& [name, bytes] : c.after) want[name] = bytes;
    EXPECT_EQ(dir.contents(), want);
}

const std::string kReport =
    "Translated:\n1x  File -> Best\n1x  Quit -> Weg\n1x  Enable -> Aanzet\n"
    "1x  Browse src dir. -> Blader src map.\n";
const std::string kWarn = "Warn: 'File' ->\n      'Bestand': clipped to\n      'Best'\n"
                          "Warn: 'Enable' ->\n      'Aanzetten': clipped to\n      'Aanzet'\n";

INSTANTIATE_TEST_SUITE_P(
    ExitPaths, Runs,
    testing::Values(
        RunCase{"BothMissingReportsDictionary", {}, {}, 1, missing("dornevo", "dornevo_trans.txt"), "", {}},
        RunCase{"ProgramMissing", {{"dornevo_trans.txt", kDict}}, {}, 1,
                names("dornevo", "dornevo_trans.txt") + "Error: program dornevo.exe not found!\n", "", {}},
        RunCase{"NoEntries", {{"dornevo_trans.txt", "!# nothing\n"}, {"dornevo.exe", kProgram}}, {}, -3,
                names("dornevo", "dornevo_trans.txt"),
                "Error: Can't open translate file dornevo_trans.txt (or wrong format).\n", {}},
        RunCase{"DictionaryIsAFolder", {{"dornevo.exe", kProgram}, {"d.txt/x", ""}}, {"-d", "d"}, -3,
                names("dornevo", "d.txt"), "Error: Can't open translate file d.txt (or wrong format).\n", {{"d.txt/", ""}}},
        RunCase{"Inconsistent", {{"dornevo_trans.txt", "A x\nA y\n"}, {"dornevo.exe", kProgram}}, {}, -1,
                names("dornevo", "dornevo_trans.txt") + "ERR: inconsistent translation:\n  A->y\n  A->x\n", "", {}},
        RunCase{"InconsistentWithCheckOnly", {{"dornevo_trans.txt", "A x\nA y\n"}, {"dornevo.exe", kProgram}},
                {"-c"}, -1, names("dornevo", "dornevo_trans.txt") + "ERR: inconsistent translation:\n  A->y\n  A->x\n",
                "", {}},
        RunCase{"CheckOnly", {{"dornevo_trans.txt", kDict}, {"dornevo.exe", kProgram}}, {"-c"}, 0,
                names("dornevo", "dornevo_trans.txt") + kWarn, "", {}},
        RunCase{"CheckOnlyNeedsProgram", {{"dornevo_trans.txt", kDict}}, {"-c"}, 1,
                names("dornevo", "dornevo_trans.txt") + "Error: program dornevo.exe not found!\n", "", {}},
        RunCase{"OutputFolderMissing", {{"dornevo_trans.txt", kDict}, {"dornevo.exe", kProgram}}, {"-o", "no/x"}, -5,
                names("dornevo", "dornevo_trans.txt") + kWarn, "Error: Can't open no/x.exe for write.\n", {}},
        RunCase{"OutputIsTheProgram", {{"a_trans.txt", kDict}, {"a.exe", kProgram}}, {"-p", "a", "-o", "a"}, -5,
                names("a", "a_trans.txt") + kWarn, "Error: output a.exe would overwrite the program to translate.\n",
                {}},
        RunCase{"Complete", {{"dornevo_trans.txt", kDict}, {"dornevo.exe", kProgram}}, {}, 0,
                names("dornevo", "dornevo_trans.txt") + kWarn + kReport + "Translation complete: dornevo_t.exe.\n",
                "", {{"dornevo_t.exe", kTranslated}}},
        RunCase{"OutputNamed", {{"d.txt", kDict}, {"p.exe", kProgram}}, {"-p", "p", "-d", "d", "-o", "out"}, 0,
                names("p", "d.txt") + kWarn + kReport + "Translation complete: out.exe.\n", "",
                {{"out.exe", kTranslated}}},
        RunCase{"EmptyOutputKeepsDefault", {{"dornevo_trans.txt", kDict}, {"dornevo.exe", kProgram}}, {"-o", ""}, 0,
                names("dornevo", "dornevo_trans.txt") + kWarn + kReport + "Translation complete: dornevo_t.exe.\n",
                "", {{"dornevo_t.exe", kTranslated}}},
        RunCase{"ShellCharactersAreJustNames", {{"a;touch x $(touch y) `touch z`_trans.txt", kDict},
                                                {"a;touch x $(touch y) `touch z`.exe", kProgram}},
                {"-p", "a;touch x $(touch y) `touch z`"}, 0,
                names("a;touch x $(touch y) `touch z`", "a;touch x $(touch y) `touch z`_trans.txt") + kWarn + kReport +
                    "Translation complete: a;touch x $(touch y) `touch z`_t.exe.\n",
                "", {{"a;touch x $(touch y) `touch z`_t.exe", kTranslated}}}),
    [](const testing::TestParamInfo<RunCase>& info) { return info.param.name; });

const std::string kDictPart = "File Bestand\nNope Niet\n";

INSTANTIATE_TEST_SUITE_P(
    Report, Runs,
    testing::Values(
        RunCase{"NotTranslatedListedTwice", {{"dornevo_trans.txt", kDictPart}, {"dornevo.exe", kProgram}}, {}, 0,
                names("dornevo", "dornevo_trans.txt") + kWarn.substr(0, kWarn.find("Warn: 'Enable'")) +
                    "Translated:\n1x  File -> Best\n0x  Nope -> Niet\nNot translated:\n0x  Nope -> Niet\n",
                "", {{"dornevo_t.exe", kProgram.substr(0, 24) + "Best" + kProgram.substr(28)}}},
        RunCase{"RiskyHeadingWithoutLines", {{"dornevo_trans.txt", "Quit Weg\n"}, {"dornevo.exe", kProgram}}, {"-r"}, 0,
                names("dornevo", "dornevo_trans.txt") +
                    "Translated:\n1x  Quit -> Weg\nTranslated with risc (text not preceeded by '0'):\n"
                    "Translation complete: dornevo_t.exe.\n",
                "", {{"dornevo_t.exe", kProgram.substr(0, 35) + "Weg\0"s + kProgram.substr(39)}}},
        RunCase{"RiskyLines", {{"dornevo_trans.txt", "File Bestand\n"}, {"dornevo.exe", kProgram}}, {"-r", "-R"}, 0,
                names("dornevo", "dornevo_trans.txt") + kWarn.substr(0, kWarn.find("Warn: 'Enable'")) +
                    "Translated:\n2x  File -> Best\nTranslated with risc (text not preceeded by '0'):\n"
                    "1x  File -> Best\nTranslation complete: dornevo_t.exe.\n",
                "", {{"dornevo_t.exe", kProgram.substr(0, 24) + "Best\0/Best"s + kProgram.substr(34)}}},
        RunCase{"RepeatedEntryNotTranslated", {{"dornevo_trans.txt", "Quit Weg\nQuit Weg\n"}, {"dornevo.exe", kProgram}},
                {}, 0,
                names("dornevo", "dornevo_trans.txt") +
                    "Translated:\n1x  Quit -> Weg\n0x  Quit -> Weg\nNot translated:\n0x  Quit -> Weg\n",
                "", {{"dornevo_t.exe", kProgram.substr(0, 35) + "Weg\0"s + kProgram.substr(39)}}}),
    [](const testing::TestParamInfo<RunCase>& info) { return info.param.name; });

// The program with UTF-16 texts too, at even offsets: a wide literal and a
// string table.
const std::string kEven = kProgram + std::string(kProgram.size() % 2, '\0');
const std::string kWideProgram = kEven + wide_literal(u16(u"File")) + string_table({u16(u"Quit"), u16(u"Stop")}) +
                                 std::string(120, '\0');
const std::string kWideDict = kDict + "Nope \xe9t\xe9\n";
const std::string kNoUtf8 = "Warn: the translation of 'Nope' is no UTF-8 text: not sought as UTF-16.\n";
const std::string kNotTranslated = "0x  Nope -> \xe9t\xe9\nNot translated:\n0x  Nope -> \xe9t\xe9\n";

INSTANTIATE_TEST_SUITE_P(
    Wide, Runs,
    testing::Values(
        RunCase{"WithoutUNothingChanges", {{"dornevo_trans.txt", kWideDict}, {"dornevo.exe", kWideProgram}}, {}, 0,
                names("dornevo", "dornevo_trans.txt") + kWarn + kReport + kNotTranslated, "",
                {{"dornevo_t.exe", kTranslated + kWideProgram.substr(kProgram.size())}}},
        RunCase{"WithU", {{"dornevo_trans.txt", kWideDict}, {"dornevo.exe", kWideProgram}}, {"-u"}, 0,
                names("dornevo", "dornevo_trans.txt") + kWarn + kNoUtf8 +
                    "Translated:\n2x  File -> Best\n2x  Quit -> Weg\n1x  Enable -> Aanzet\n"
                    "1x  Browse src dir. -> Blader src map.\n" + kNotTranslated,
                "",
                {{"dornevo_t.exe", kTranslated + kEven.substr(kProgram.size()) + wide_literal(u16(u"Best")) +
                                       string_table({u16(u"Weg "), u16(u"Stop")}) + std::string(120, '\0')}}},
        RunCase{"WarningAlsoWithCheckOnly", {{"dornevo_trans.txt", kWideDict}, {"dornevo.exe", kWideProgram}},
                {"-c", "-u"}, 0, names("dornevo", "dornevo_trans.txt") + kWarn + kNoUtf8, "", {}},
        RunCase{"WarningAfterTheCheckErrors",
                {{"dornevo_trans.txt", "A x\nA y\n\xff z\n"}, {"dornevo.exe", kWideProgram}}, {"-u"}, -1,
                names("dornevo", "dornevo_trans.txt") + "ERR: inconsistent translation:\n  A->y\n  A->x\n" +
                    "Warn: '\xff' is no UTF-8 text: not sought as UTF-16.\n",
                "", {}}),
    [](const testing::TestParamInfo<RunCase>& info) { return info.param.name; });

TEST(Output, IsMadeExecutableAsChmodPlusXWould) {
    TempDir dir;
    dir.write("dornevo_trans.txt", kDict);
    dir.write("dornevo.exe", kProgram);
    RunResult r = run_vorlang(dir.path(), {}, [] { ::umask(022); });
    ASSERT_EQ(r.status, 0);
    struct stat st {};
    ASSERT_EQ(::stat(dir.file("dornevo_t.exe").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);

    r = run_vorlang(dir.path(), {"-o", "masked"}, [] { ::umask(077); });
    ASSERT_EQ(r.status, 0);
    ASSERT_EQ(::stat(dir.file("masked.exe").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
}

const std::string kUsage =
    "---------------------------------------------------------\n"
    "Usage:\n   vorlang [options]\n"
    "              [options]:\n"
    "                -c                    check only\n"
    "                -r                   relax translation (more translated) \n"
    "                -R                   relax translation (even more translated) \n"
    "                -t <language>        (default: see below)\n"
    "                -p <program>         (default: dornevo)\n"
    "                -d <dictionary>      (default: <prog>_trans)\n"
    "                -o <outputfile>      (default: <prog>_t)\n"
    "\n"
    "Without options dornevo is translated to dornevo_t using dornevo_trans.txt\n"
    "\n"
    "\nContent translate file:\n"
    "<org_name> <spaces, tabs> <new_name>\n\n"
    "E.g.\n"
    "Enable Aanzetten\n\n"
    "If name contains spaces use \", e.g.:\n"
    "\"Browse src dir.\"   \"Blader src map.\"\n\n"
    "Menus contain invisible chars which you need to add:\n\n"
    "/File       /Bestand\n"
    "File/Quit   Best/Weg\n\n"
    "Note: Replacement may not exceed length original.\n\n"
    "      In prev. example 'Bestand' will be cut to 'Best'.\n\n"
    "Spaces in name: Enclose between \"\".\n\n"
    "Note about -r / -R options:\n"
    "  Search is done on text, preceeded and followed by '0'.\n"
    "  With -r check for non-alphanum. preceeding character.\n"
    "  With -R no check on preceeded character at all.\n"
    "  Possibly higher risc in translating something what shouldn't be translated!\n";

TEST(Usage, IsWrittenWholeWhereverHStands) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"-h"}, {"-r", "-h"}, {"-p", "-h"}, {"-c", "-t", "nl", "-h", "-x"}, {"-d", "d", "-h", "-p"},
             {"--help"}, {"-o", "--help"}}) {
        TempDir dir;
        dir.write("dornevo_trans.txt", kDict);
        dir.write("dornevo.exe", kProgram);
        RunResult r = run_vorlang(dir.path(), args);
        EXPECT_EQ(r.err, kUsage);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.status, 0);
        EXPECT_FALSE(dir.exists("dornevo_t.exe"));
    }
}

// In every program --help is -h and --version one line on standard output,
// wherever they stand; the first of the three wins, and none starts a run.
TEST(Usage, HelpAndVersionInEveryProgram) {
    struct Asked {
        std::vector<std::string> args;
        bool version;
    };
    const std::vector<Asked> rows = {{{"--version"}, true},       {{"-p", "--version"}, true},
                                     {{"--version", "-h"}, true}, {{"--help"}, false},
                                     {{"-d", "--help"}, false},   {{"-u", "--help", "--version"}, false}};
    for (auto [tool, name] : {std::pair<const char*, std::string>{VORLANG_BIN, "vorlang"},
                              {VORLANG_EXTRACT_BIN, "vorlang-extract"},
                              {VORLANG_LINT_BIN, "vorlang-lint"}}) {
        TempDir dir;
        dir.write("dornevo_trans.txt", kDict);
        dir.write("dornevo.exe", kProgram);
        const auto before = dir.snapshot();
        const RunResult h = run_program(tool, dir.path(), {"-h"});
        ASSERT_NE(h.err.find("Usage:\n   " + name + " [options]"), std::string::npos) << name;
        for (const Asked& row : rows) {
            SCOPED_TRACE(name + " " + testing::PrintToString(row.args));
            RunResult r = run_program(tool, dir.path(), row.args);
            EXPECT_EQ(r.status, 0);
            EXPECT_EQ(r.out, row.version ? name + " " + PACKAGE_VERSION + "\n" : "");
            EXPECT_EQ(r.err, row.version ? "" : h.err);
            EXPECT_EQ(dir.snapshot(), before);
        }
    }
}

}  // namespace
