// vorlang-lint end to end: each finding with the exact line it prints, the
// statuses, and real programs: their unedited templates have no error but
// about texts in code, and the names a program links by are refused.
#include <gtest/gtest.h>

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "resource_bytes.h"
#include "run_tool.h"

namespace {

using namespace std::string_literals;

RunResult run_lint(const std::string& dir, const std::vector<std::string>& args,
                   const std::function<void()>& before_exec = {}) {
    return run_program(VORLANG_LINT_BIN, dir, args, before_exec);
}

// Texts between zero bytes, away from both ends; no known format.
std::string program(const std::vector<std::string>& texts) {
    std::string p(20, '\0');
    for (const std::string& t : texts) p += t + '\0';
    return p + std::string(120, '\0');
}

std::string kProgram() {
    std::vector<std::string> texts = {"File", "Quit", "Enable", "%s files in %d folders", "Name: %s", "Size %ld",
                                      "Open", "a/Only", "aXonly", "%d%%", "Done"};
    for (int i = 0; i < 101; ++i) texts.push_back("x");
    std::string p = program(texts);
    p.resize(p.size() + p.size() % 2);  // UTF-16 texts stand at even offsets
    return p + wide_literal(u16(u"Wide")) + std::string(120, '\0');
}

// The demo program built here, its .text overwritten at an even offset with
// texts between zero bytes: 'Qz' 4 times, 'Qy' 3 times, 'Qx' 4 times after a
// '!', and 'Qw' 4 times in UTF-16.
std::string code_program() {
    std::string b = read_file(DEMO_BIN);
    Elf64_Ehdr eh{};
    if (b.size() < sizeof eh) return b;
    std::memcpy(&eh, b.data(), sizeof eh);
    Elf64_Shdr names{};
    std::memcpy(&names, b.data() + eh.e_shoff + eh.e_shstrndx * sizeof names, sizeof names);
    std::string patch = std::string(2, '\0');
    for (const char* t : {"Qz", "Qz", "Qz", "Qz", "Qy", "Qy", "Qy"}) patch += t + "\0"s;
    for (int i = 0; i < 4; ++i) patch += "!Qx"s + '\0';
    patch.resize(patch.size() + patch.size() % 2);
    for (int i = 0; i < 4; ++i) patch += wide_literal(u16(u"Qw"));
    for (unsigned i = 0; i < eh.e_shnum; ++i) {
        Elf64_Shdr sh{};
        std::memcpy(&sh, b.data() + eh.e_shoff + i * sizeof sh, sizeof sh);
        if (std::strcmp(b.data() + names.sh_offset + sh.sh_name, ".text") == 0 && sh.sh_size > patch.size() + 1) {
            b.replace(sh.sh_offset + sh.sh_offset % 2, patch.size(), patch);
        }
    }
    return b;
}

// A menu item whose id word, 4, reads as the count of "Open".
std::string menu_program() { return kProgram() + menu_item(4, u16(u"Open file")) + std::string(120, '\0'); }

struct Case {
    const char* name;
    std::string dictionary;
    std::vector<std::string> args;
    int status;
    std::string out;  // each line after "d.txt:"
    std::string (*program)() = kProgram;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class Lint : public testing::TestWithParam<Case> {};

TEST_P(Lint, PrintsEachFindingAndChangesNothing) {
    const Case& c = GetParam();
    TempDir dir;
    dir.write("p.exe", c.program());
    dir.write("d.txt", c.dictionary);
    auto before = dir.snapshot();
    std::vector<std::string> args = {"-p", "p", "-d", "d"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    RunResult r = run_lint(dir.path(), args);
    std::string want;
    for (std::size_t at = 0; at < c.out.size();) {
        std::size_t end = c.out.find('\n', at);
        want += "d.txt:" + c.out.substr(at, end + 1 - at);
        at = end + 1;
    }
    EXPECT_EQ(r.out, want);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(dir.snapshot(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Findings, Lint,
    testing::Values(
        Case{"Clean", "Quit Stop\n!# a comment\nEnable Aanzet\n", {}, 0, ""},
        Case{"Cut", "File Bestand\n", {}, 1, "1: warning: translation has 7 bytes, room for 4: 'Best'\n"},
        Case{"CutInsideUtf8", "Enable Aanze\xc3\xabten\n", {}, 2,
             "1: error: the cut ends inside the UTF-8 character '\xc3\xab' (C3 AB): AB lost\n"
             "1: warning: translation has 10 bytes, room for 6: 'Aanze\\xc3'\n"},
        Case{"DirectivesReordered", "\"%s files in %d folders\" \"%d bestanden in %s mappen\"\n", {}, 2,
             "1: warning: translation has 25 bytes, room for 22: '%d bestanden in %s map'\n"
             "1: error: printf directives in another order: '%s %d' in the original, '%d %s' in the translation\n"},
        Case{"DirectiveCutAway", "\"Name: %s\" \"Naam van het bestand: %s\"\n", {}, 2,
             "1: warning: translation has 24 bytes, room for 8: 'Naam van'\n"
             "1: error: printf directives differ in number: '%s' in the original, '' in the translation\n"},
        Case{"DirectiveCutInTwo", "\"Size %ld\" \"Maat: %ld\"\n", {}, 2,
             "1: warning: translation has 9 bytes, room for 8: 'Maat: %l'\n"
             "1: error: the cut translation 'Maat: %l' ends inside a printf directive; keep '%ld'\n"},
        Case{"PercentSignKept", "%d%% %d%%\n", {}, 0, ""},
        Case{"SecondTranslation", "Quit Stoppen\nFile Map\nQuit Afsluiten\n", {}, 2,
             "1: warning: translation has 7 bytes, room for 4: 'Stop'\n"
             "3: error: 'Quit' is translated to 'Afsl' here and to 'Stop' on line 1; vorlang refuses the dictionary\n"
             "3: warning: translation has 9 bytes, room for 4: 'Afsl'\n"},
        Case{"ConflictsGrouped", "Quit Stop\nQuit Weg\nQuit Weg\nQuit Stop\nQuit Uit\n", {}, 2,
             "2: error: 'Quit' is translated to 'Weg' here and to 'Stop' on line 1; vorlang refuses the dictionary\n"
             "3: error: 'Quit' is translated to 'Weg' here and to 'Stop' on line 1; vorlang refuses the dictionary\n"
             "3: warning: repeats line 2 exactly; it will never be applied\n"
             "4: error: 'Quit' is translated to 'Stop' here and to 'Weg' in 2 earlier entries: lines 2-3; vorlang "
             "refuses the dictionary\n"
             "4: warning: repeats line 1 exactly; it will never be applied\n"
             "5: error: 'Quit' is translated to 'Uit' here and to 2 other translations in 4 earlier entries: lines 1-4; "
             "vorlang refuses the dictionary\n"},
        Case{"Repeat", "Quit Weg\nQuit Weg\nFile File\nFile File\nEnable Aanzetten\nEnable Aanzetje\n", {}, 1,
             "2: warning: repeats line 1 exactly; it will never be applied\n"
             "4: warning: repeats line 3 exactly\n"
             "5: warning: translation has 9 bytes, room for 6: 'Aanzet'\n"
             "6: warning: repeats line 5, cut to the same translation; it will never be applied\n"
             "6: warning: translation has 8 bytes, room for 6: 'Aanzet'\n"},
        Case{"LongLine", "Open Sluit" + std::string(89, ' ') + "Done Klaar\n", {}, 1,
             "1: warning: the line has 109 characters and is read as lines of at most 99; it gives 'Open' -> 'Sluit', "
             "'Done' -> 'Klaar'\n"
             "1: warning: translation has 5 bytes, room for 4: 'Slui'\n"
             "1: warning: translation has 5 bytes, room for 4: 'Klaa'\n"},
        Case{"QuotedWithoutTranslation", "\"Quit\"\nFile Map\n", {}, 2,
             "1: error: the line gives no entry: ERR: transl. of Quit needs \"!\n"},
        Case{"NotInProgram", "Absent Weg\n", {}, 0, "1: note: 'Absent' is not in the program\n"},
        Case{"NotInProgramWide", "Absent Weg\n", {"-u"}, 0,
             "1: note: 'Absent' is not in the program, as bytes or as UTF-16\n"},
        Case{"WideOnlyWithU", "Wide Weid\n", {"-u"}, 0, ""},
        Case{"WideNotAsBytes", "Wide Weid\n", {}, 0, "1: note: 'Wide' is not in the program\n"},
        Case{"OnlyRelaxed", "Only Een\nXonly Maar1\n", {}, 1,
             "1: warning: 'Only' is found only with -r (1 place), where the byte before it is not 0\n"
             "2: warning: 'Xonly' is found only with -R (1 place), where the byte before it is not 0\n"},
        Case{"OnlyRelaxedAlsoUnderR", "Only Een\n", {"-r"}, 1,
             "1: warning: 'Only' is found only with -r (1 place), where the byte before it is not 0\n"},
        Case{"ManyPlaces", "x y\n", {}, 1,
             "1: warning: 'x' is found in 101 places: make sure each of them is a text to translate\n"},
        Case{"InCode", "Qz Kz\nQy Ky\n", {}, 2,
             "1: error: 'Qz' is found in 4 places in executable sections (.text): a replacement there changes the "
             "program's instructions\n",
             code_program},
        Case{"InCodeRelaxed", "Qx Kx\n", {"-r"}, 2,
             "1: error: 'Qx' is found in 4 places in executable sections (.text): a replacement there changes the "
             "program's instructions\n"
             "1: warning: 'Qx' is found only with -r (4 places), where the byte before it is not 0\n",
             code_program},
        Case{"InCodeWide", "Qw Kw\n", {"-u"}, 2,
             "1: error: 'Qw' is found in 4 places in executable sections (.text): a replacement there changes the "
             "program's instructions\n",
             code_program},
        Case{"NeverApplied", "Open Los\n\"Open file\" \"Open best\"\n", {"-u", "-r"}, 1,
             "2: warning: never applied: line 1 acts first at its places\n", menu_program},
        Case{"NeverAppliedAtAHigherLevel", "Open Los\n\"Open file\" \"Open best\"\n", {"-u"}, 1,
             "2: warning: never applied: line 1 acts first at its places (found only with -r)\n", menu_program},
        Case{"NeverAppliedInsideAnother", "a/Only Xx\nOnly Een\n", {"-r"}, 1,
             "2: warning: never applied: line 1 acts first at its places\n"},
        Case{"ControlBytesEscaped", "\"Tab\there\" \"Tab\there\"\n", {}, 0,
             "1: note: 'Tab\\there' is not in the program\n"}),
    [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

struct Failing {
    const char* name;
    std::vector<std::pair<std::string, std::string>> files;
    int status;
    std::string err;
    std::vector<std::string> fifos = {};  // made with no writer
};

void PrintTo(const Failing& c, std::ostream* os) { *os << c.name; }

class LintFails : public testing::TestWithParam<Failing> {};

TEST_P(LintFails, WithVorlangsStatus) {
    const Failing& c = GetParam();
    TempDir dir;
    for (auto& [name, bytes] : c.files) dir.write(name, bytes);
    for (const std::string& name : c.fifos) ASSERT_EQ(::mkfifo(dir.file(name).c_str(), 0644), 0);
    // A run that waits for ever ends, and fails the row.
    RunResult r = run_lint(dir.path(), {"-p", "p", "-d", "d"}, [] { ::alarm(60); });
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err);
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, LintFails,
    // A missing file has its unreadable case's status: 1 stays for warnings.
    testing::Values(Failing{"NoDictionary", {{"p.exe", "x"}}, -3, "Error: dictionary d.txt not found!\n"},
                    Failing{"NoProgram", {{"d.txt", "a b\n"}}, -2, "Error: program p.exe not found!\n"},
                    Failing{"ProgramIsAFolder", {{"d.txt", "a b\n"}, {"p.exe/x", ""}}, -2,
                            "Error: Can't open file p.exe to check.\n"},
                    Failing{"ProgramIsAFifo", {{"d.txt", "a b\n"}}, -2, "Error: Can't read file p.exe.\n", {"p.exe"}},
                    Failing{"DictionaryWithoutEntries", {{"d.txt", "!# only\n"}, {"p.exe", "x"}}, -3,
                            "Error: Can't open translate file d.txt (or wrong format).\n"}),
    [](const testing::TestParamInfo<Failing>& info) { return info.param.name; });

// Entries with one original, translated in turn two ways: each conflicts
// with half the entries before it. One finding per entry, its runs of lines
// named up to a bound, where a finding per pair made millions of lines.
TEST(Lint, ManyEntriesWithOneOriginal) {
    TempDir dir;
    dir.write("p.exe", kProgram());
    std::string dictionary;
    for (int i = 0; i < 4000; ++i) dictionary += i % 2 == 0 ? "Quit A\n" : "Quit B\n";
    dir.write("d.txt", dictionary);
    RunResult r = run_lint(dir.path(), {"-p", "p", "-d", "d"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "d.txt: 3999 errors, 3998 warnings, 0 notes.\n");
    const std::string last = "d.txt:4000: error: 'Quit' is translated to 'B' here and to 'A' in 2000 earlier entries: "
                             "lines 1, 3, 5, 7, 9, 11, 13, 15 and 1992 more; vorlang refuses the dictionary\n"
                             "d.txt:4000: warning: repeats line 2 exactly; it will never be applied\n";
    ASSERT_GE(r.out.size(), last.size());
    EXPECT_EQ(r.out.substr(r.out.size() - last.size()), last);
}

TEST(Lint, SummaryOnStandardError) {
    TempDir dir;
    dir.write("p.exe", kProgram());
    dir.write("d.txt", "File Bestand\nQuit Stoppen\nQuit Afsluiten\nAbsent Weg\n");
    RunResult r = run_lint(dir.path(), {"-p", "p", "-d", "d"});
    EXPECT_EQ(r.err, "d.txt: 1 error, 3 warnings, 1 note.\n");
}

// "> name" has emptied the dictionary before the run began; each companion
// stops before reading it.
TEST(Lint, StandardOutputIsTheDictionary) {
    for (const char* tool : {VORLANG_LINT_BIN, VORLANG_EXTRACT_BIN}) {
        TempDir dir;
        dir.write("p.exe", kProgram());
        dir.write("p_trans_nl.txt", "");
        const std::string dict = dir.file("p_trans_nl.txt");
        RunResult r = run_program(tool, dir.path(), {"-p", "p", "-t", "nl"}, [&] {
            int fd = ::open(dict.c_str(), O_WRONLY);
            ::dup2(fd, STDOUT_FILENO);
        });
        EXPECT_EQ(r.status, -3) << tool;
        EXPECT_EQ(r.err, "Error: standard output is the dictionary p_trans_nl.txt.\n") << tool;
    }
}

// A program over 1 MiB: the translator reads it in more than one block, so
// an offset it reports is past the first block. CMake built these tests and
// is one; the others stand in for a CMake that is a script.
std::string large_program() {
    for (const char* path : {CMAKE_BIN, "/usr/bin/cmake", "/usr/bin/ctest", "/usr/bin/git", "/usr/bin/perl"}) {
        std::string bytes = read_file(path);
        if (bytes.size() > (std::size_t{1} << 20) && bytes.compare(0, 4, ELFMAG) == 0) return path;
    }
    return "";
}

// The section a template line stands under: the last label before it, a
// comment of one name such as "!# .rodata" (a comment that goes on from the
// line before may start with a dot too, but holds a blank or a quote).
std::string section_of_line(const std::string& text, std::size_t line) {
    std::string section;
    std::size_t at = 0;
    for (std::size_t n = 1; n < line && at < text.size(); ++n) {
        std::size_t end = text.find('\n', at);
        std::string comment = text.substr(at, end - at);
        if (comment.starts_with("!# .") && comment.find_first_of(" \"\\", 3) == std::string::npos) {
            section = comment.substr(3);
        }
        at = end + 1;
    }
    return section;
}

// Real programs: the tool itself and the demo, both built here, sed and one
// over 1 MiB. The template names their sections and leaves out the names
// they link by; vorlang applies it without a change, and a name the program
// links by is refused. The lint's only errors are about texts in code, and
// each names the section its line stands under: a text's offset put in the
// wrong place makes the lint call a shown text hidden or place it in code.
TEST(Lint, RealProgramsTemplateAndNames) {
    std::string large = large_program();
    if (large.empty()) std::fprintf(stderr, "no ELF program over 1 MiB found: only small programs are tried\n");
    for (const std::string& binary : {std::string(VORLANG_BIN), std::string(DEMO_BIN), "/bin/sed"s, large}) {
        SCOPED_TRACE(binary);
        if (binary.empty() || ::access(binary.c_str(), R_OK) != 0) continue;  // the two built here still ran
        TempDir dir;
        dir.write("prog.exe", read_file(binary));
        RunResult all = run_program(VORLANG_EXTRACT_BIN, dir.path(), {"-p", "prog", "-a"});
        RunResult shown = run_program(VORLANG_EXTRACT_BIN, dir.path(), {"-p", "prog"});
        ASSERT_EQ(shown.status, 0) << shown.err;
        EXPECT_NE(shown.out.find("\n!# .rodata\n"), std::string::npos);
        EXPECT_EQ(shown.out.find("GLIBC_"), std::string::npos);
        EXPECT_EQ(shown.out.find("libc.so.6"), std::string::npos);
        EXPECT_NE(all.out.find("\nlibc.so.6 libc.so.6\n"), std::string::npos);
        EXPECT_LT(shown.out.size(), all.out.size());
        dir.write("prog_trans.txt", shown.out);
        RunResult lint = run_lint(dir.path(), {"-p", "prog"});
        int errors = 0;
        for (std::size_t at = 0; (at = lint.out.find(": error: ", at)) != std::string::npos; ++at) {
            std::size_t line_at = lint.out.rfind("prog_trans.txt:", at) + 15;
            std::string error = lint.out.substr(at, lint.out.find('\n', at) - at);
            ++errors;
            std::string section = section_of_line(shown.out, std::stoul(lint.out.substr(line_at, at - line_at)));
            EXPECT_NE(error.find(" in executable sections ("), std::string::npos) << error;
            EXPECT_NE(error.find(section), std::string::npos) << error << " (the line stands under " << section << ")";
        }
        EXPECT_TRUE(errors > 0 ? lint.status == 2 : lint.status <= 1) << lint.status;
        RunResult translated = run_vorlang(dir.path(), {"-p", "prog"});
        EXPECT_EQ(translated.status, 0) << translated.out;
        EXPECT_EQ(dir.read("prog_t.exe"), dir.read("prog.exe"));
        dir.write("names.txt", "libc.so.6 libc.so.7\n");
        lint = run_lint(dir.path(), {"-p", "prog", "-d", "names"});
        EXPECT_EQ(lint.out, "names.txt:1: error: 'libc.so.6' stands only where the program never shows it (.dynstr): "
                            "translating it changes a name the program uses\n");
        EXPECT_EQ(lint.status, 2);
    }
}

}  // namespace
