// -P end to end: a PO catalogue and the plain dictionary with the same pairs
// give the same copy and report (seeded, over random pairs that the plain
// dictionary can hold); what a catalogue alone can hold is found; the lint
// points at the catalogue's lines; a catalogue that does not parse stops
// the run. The catalogues fed in pass gettext's msgfmt -c (label gettext).
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "dictionary.h"
#include "po_files.h"
#include "resource_bytes.h"
#include "run_tool.h"

namespace {

using namespace std::string_literals;

struct Rng {
    std::uint64_t state;
    std::uint64_t next() {  // splitmix64
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    std::size_t below(std::size_t n) { return static_cast<std::size_t>(next() % n); }
};

struct Pair {
    std::string org;
    std::string full;
};

// Texts of few bytes, so that they chain and cut inside a character ('é');
// quoted ones hold blanks and tabs too.
std::string text(Rng& r, std::size_t len, bool quoted) {
    static const std::vector<std::string> kPlain = {"a", "b", "%", "s", "/", "&", "\xc3\xa9"};
    static const std::vector<std::string> kQuoted = {"a", "b", " ", "\t", "%", "s", "\xc3\xa9"};
    const std::vector<std::string>& from = quoted ? kQuoted : kPlain;
    std::string s;
    while (s.size() < len) s += from[r.below(from.size())];
    return s;
}

struct Case {
    std::vector<Pair> pairs;
    std::string dictionary;  // the plain form
    std::string catalogue;   // the PO form
    std::string program;
    std::vector<std::string> options;
};

// Distinct originals (gettext refuses a catalogue that repeats one), each
// line within the plain reader's 99 characters.
Case make_case(std::uint64_t seed) {
    Rng r{seed};
    Case c;
    std::vector<std::string> originals;
    const std::size_t n = 1 + r.below(10);
    while (c.pairs.size() < n) {
        std::string org = text(r, 1 + r.below(r.below(4) == 0 ? 60 : 6), r.below(3) == 0);
        if (std::find(originals.begin(), originals.end(), org) != originals.end()) continue;
        originals.push_back(org);
        std::string full = r.below(4) == 0 && !c.pairs.empty() ? c.pairs[r.below(c.pairs.size())].org  // a chain
                                                                 : text(r, 1 + r.below(org.size() + 4), r.below(3) == 0);
        // Blanks or tabs need the quoted form, whose quotes and blank take
        // 5 of the line's 99 characters (with the LF); the plain form's
        // blank and LF take 2.
        const bool quoted = (org + full).find_first_of(" \t") != std::string::npos;
        const std::size_t room = (quoted ? 93 : 97) - org.size();
        if (full.size() > room) full.resize(room);
        while (!full.empty() && (static_cast<unsigned char>(full.back()) & 0xC0) == 0xC0) full.pop_back();
        if (full.empty()) full = "x";
        c.pairs.push_back({org, full});
        c.dictionary += quoted ? "\"" + org + "\" \"" + full + "\"\n" : org + " " + full + "\n";
        c.catalogue += "\nmsgid " + po_string(org) + "\nmsgstr " + po_string(full) + "\n";
    }
    c.catalogue = kPoHeader + c.catalogue;
    std::string p(20, '\0');
    while (p.size() < 2000) {
        const Pair& pair = c.pairs[r.below(c.pairs.size())];
        static const char kBefore[] = {'\0', '\0', '/', 'x', ' '};
        switch (r.below(4)) {
            case 0: p += u16(std::u16string(pair.org.begin(), pair.org.end())) + std::string(2, '\0'); break;
            case 1: p += text(r, 1 + r.below(8), false); break;
            default: p += kBefore[r.below(sizeof kBefore)] + pair.org + '\0'; break;
        }
    }
    c.program = p + std::string(120, '\0');
    static const std::vector<std::vector<std::string>> kOptions = {{}, {"-r"}, {"-R"}, {"-u"}, {"-R", "-u"}};
    c.options = kOptions[r.below(kOptions.size())];
    return c;
}

constexpr std::uint64_t kSeeds = 40;

RunResult translate(const TempDir& dir, const Case& c, bool po, std::string& copy) {
    std::vector<std::string> args = {"-p", "prog", "-d", "dict"};
    if (po) args.push_back("-P");
    args.insert(args.end(), c.options.begin(), c.options.end());
    RunResult r = run_vorlang(dir.path(), args);
    copy = dir.read("prog_t.exe");
    std::remove(dir.file("prog_t.exe").c_str());
    return r;
}

TEST(PoCatalogue, GivesTheCopyAndReportOfThePlainDictionary) {
    std::size_t translated = 0;
    for (std::uint64_t seed = 1; seed <= kSeeds; ++seed) {
        const Case c = make_case(seed);
        // The plain dictionary gives exactly these pairs, so the two runs
        // read the same entries.
        EntryList plain = read_trans_bytes(c.dictionary.data(), c.dictionary.size(), {}).entries;
        std::size_t k = 0;
        for (const Trans_Tbl* e = plain.get(); e != nullptr; e = e->next, ++k) {
            ASSERT_LT(k, c.pairs.size()) << seed;
            ASSERT_EQ(std::string(e->org_name), c.pairs[k].org) << seed;
            ASSERT_EQ(std::string(e->new_name_full), c.pairs[k].full) << seed;
        }
        ASSERT_EQ(k, c.pairs.size()) << seed;
        TempDir dir;
        dir.write("prog.exe", c.program);
        dir.write("dict.txt", c.dictionary);
        dir.write("dict.po", c.catalogue);
        std::string plain_copy;
        std::string po_copy;
        RunResult want = translate(dir, c, false, plain_copy);
        RunResult got = translate(dir, c, true, po_copy);
        const std::string names_txt = "Dictionary=dict.txt\n";
        const std::string names_po = "Dictionary=dict.po\n";
        ASSERT_NE(got.out.find(names_po), std::string::npos) << seed;
        got.out.replace(got.out.find(names_po), names_po.size(), names_txt);
        EXPECT_EQ(got.out, want.out) << "seed " << seed;
        EXPECT_EQ(got.err, want.err) << "seed " << seed;
        EXPECT_EQ(got.status, want.status) << "seed " << seed;
        EXPECT_TRUE(po_copy == plain_copy) << "seed " << seed;
        if (want.status == 0 && plain_copy != c.program) ++translated;
    }
    EXPECT_GE(translated, kSeeds / 2);  // the cases translate something
}

TEST(GettextAccepts, TheDifferentialCatalogues) {
    if (std::string(MSGFMT_BIN).empty()) GTEST_SKIP() << "no msgfmt (Debian's gettext) here";
    TempDir dir;
    for (std::uint64_t seed = 1; seed <= kSeeds; ++seed) {
        dir.write("dict.po", make_case(seed).catalogue);
        RunResult r = msgfmt_check(dir, "dict.po");
        EXPECT_EQ(r.status, 0) << "seed " << seed << ": " << r.err;
    }
}

// What only a catalogue can hold: line feeds, quotes and originals longer
// than 97 bytes are found as bytes and, with -u, as UTF-16.
const std::string kLong(300, 'L');
const std::string kCatalogue = kPoHeader +
                               "\nmsgid \"Usage: sed [OPTION]\\n\"\n\"  -n  quiet\\n\"\nmsgstr \"Gebruik: sed [OPTIE]\\n\"\n"
                               "\"  -n  stil\\n\"\n"
                               "\nmsgid \"Say \\\"hi\\\"\"\nmsgstr \"Zeg \\\"hoi\\\"\"\n"
                               "\nmsgid \"" + kLong + "\"\nmsgstr \"" + std::string(280, 'K') + "\"\n";

TEST(PoCatalogue, FindsWhatOnlyACatalogueCanHold) {
    TempDir dir;
    const std::string usage = "Usage: sed [OPTION]\n  -n  quiet\n";
    // The UTF-16 text at an even offset, after a zero unit.
    dir.write("prog.exe", std::string(20, '\0') + usage + '\0' + "Say \"hi\"" + '\0' + kLong + std::string(2, '\0') +
                              u16(u"Say \"hi\"") + std::string(2, '\0') + std::string(120, '\0'));
    dir.write("prog_trans_nl.po", kCatalogue);
    RunResult r = run_vorlang(dir.path(), {"-P", "-u", "-p", "prog", "-t", "nl"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("Translation complete: prog_t.exe.\n"), std::string::npos) << r.out;
    EXPECT_EQ(dir.read("prog_t.exe"),
              std::string(20, '\0') + "Gebruik: sed [OPTIE]\n  -n  stil\n" + '\0' + "Zeg \"hoi" + '\0' +
                  std::string(280, 'K') + std::string(22, '\0') + u16(u"Zeg \"hoi") + std::string(2, '\0') +
                  std::string(120, '\0'));
}

TEST(GettextAccepts, TheCatalogueOfLongTexts) {
    if (std::string(MSGFMT_BIN).empty()) GTEST_SKIP() << "no msgfmt (Debian's gettext) here";
    TempDir dir;
    dir.write("t.po", kCatalogue);
    RunResult r = msgfmt_check(dir, "t.po");
    EXPECT_EQ(r.status, 0) << r.err;
}

// The lint's findings stand at the msgstr's line; refusals at the line of
// what is refused, the note at the first message left out.
TEST(PoCatalogue, LintPointsAtTheCataloguesLines) {
    TempDir dir;
    dir.write("prog.exe", std::string(20, '\0') + "Open %s\0Name: %d\0"s + std::string(120, '\0'));
    dir.write("prog_trans.po", kPoHeader +                                       // lines 1-11
                                   "\n#, c-format\nmsgid \"Open %s\"\n"          // 12-14
                                   "msgstr \"\"\n\"Openen van \"\n\"%s\"\n"      // 15-17
                                   "\n#, fuzzy\nmsgid \"Close\"\nmsgstr \"Dicht\"\n"  // 18-21
                                   "\nmsgid \"Name: %d\"\nmsgstr \"Naam:  \\303\\251%d\"\n"  // 22-24
                                   "\nmsgid \"%d file\"\nmsgid_plural \"%d files\"\n"    // 25-27 (27: msgid_plural)
                                   "msgstr[0] \"%d bestand\"\nmsgstr[1] \"%d bestanden\"\n"
                                   "\n#~ msgid \"Gone\"\n#~ msgstr \"Weg\"\n");
    RunResult r = run_program(VORLANG_LINT_BIN, dir.path(), {"-P", "-p", "prog"});
    EXPECT_EQ(r.out,
              "prog_trans.po:15: warning: translation has 13 bytes, room for 7: 'Openen '\n"
              "prog_trans.po:15: error: printf directives differ in number: '%s' in the original, '' in the translation\n"
              "prog_trans.po:20: note: 2 messages give no entry (0 untranslated, 1 fuzzy, 1 obsolete), the first here\n"
              "prog_trans.po:24: error: the cut ends inside the UTF-8 character '\xC3\xA9' (C3 A9): A9 lost\n"
              "prog_trans.po:24: warning: translation has 11 bytes, room for 8: 'Naam:  \\xc3'\n"
              "prog_trans.po:24: error: printf directives differ in number: '%d' in the original, '' in the translation\n"
              "prog_trans.po:27: error: the message '%d file' has plural forms (msgid_plural), which a dictionary "
              "cannot hold: it gives no entry\n");
    EXPECT_EQ(r.status, 2);
}

struct FailCase {
    const char* name;
    std::string catalogue;
    std::string err;
};

void PrintTo(const FailCase& c, std::ostream* os) { *os << c.name; }

class PoFails : public testing::TestWithParam<FailCase> {};

// A catalogue that does not parse, or holds no translation, stops vorlang
// (and the lint) with -3 before anything is written, saying where and why.
TEST_P(PoFails, WithStatusMinus3) {
    const FailCase& c = GetParam();
    for (const char* tool : {VORLANG_BIN, VORLANG_LINT_BIN}) {
        TempDir dir;
        dir.write("prog.exe", std::string(200, '\0'));
        dir.write("prog_trans.po", c.catalogue);
        RunResult r = run_program(tool, dir.path(), {"-P", "-p", "prog"});
        EXPECT_EQ(r.status, -3) << tool;
        EXPECT_EQ(r.err, c.err) << tool;
        EXPECT_FALSE(dir.exists("prog_t.exe"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Catalogues, PoFails,
    testing::Values(FailCase{"Unterminated", "msgid \"a\"\nmsgstr \"b\n",
                             "Error: prog_trans.po:2: a string does not end on its line.\n"},
                    FailCase{"NothingTranslated", kPoHeader + "msgid \"a\"\nmsgstr \"\"\n",
                             "Error: prog_trans.po holds no translated message (1 untranslated, 0 fuzzy, 0 "
                             "obsolete).\n"}),
    [](const testing::TestParamInfo<FailCase>& info) { return info.param.name; });

}  // namespace
