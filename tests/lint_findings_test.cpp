// The lint's conflict findings against a plain count of the pairs: one
// finding per entry, naming its conflicts, however many entries share an
// original. The findings about line feeds and shortcuts, on entries built
// directly, as a plain dictionary cannot hold a line feed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "dictionary.h"
#include "lint_findings.h"

namespace {

struct Line {
    std::string original;
    std::string translation;
};

std::string in_quotes(const std::string& t) { return "'" + t + "'"; }

// What the finding for entry i says, from every earlier pair, or "".
std::string expected(const std::vector<Line>& lines, std::size_t i) {
    const Line& e = lines[i];
    std::vector<std::size_t> group;  // the entries before i with its original
    for (std::size_t j = 0; j < i; ++j) {
        if (lines[j].original == e.original) group.push_back(j);
    }
    std::vector<std::string> runs;
    std::vector<std::string> others;
    std::size_t count = 0;
    std::size_t named = 0;
    for (std::size_t k = 0; k < group.size();) {
        if (lines[group[k]].translation == e.translation) {
            ++k;
            continue;
        }
        std::size_t end = k;
        while (end < group.size() && lines[group[end]].translation != e.translation) {
            const std::string& t = lines[group[end]].translation;
            if (std::find(others.begin(), others.end(), t) == others.end()) others.push_back(t);
            ++end;
        }
        count += end - k;
        if (runs.size() < 8) {
            std::string run = std::to_string(group[k] + 1);
            if (end - k > 1) run += "-" + std::to_string(group[end - 1] + 1);
            runs.push_back(run);
            named += end - k;
        }
        k = end;
    }
    if (count == 0) return "";
    std::string list;
    for (const std::string& r : runs) list += (list.empty() ? "" : ", ") + r;
    const std::string start = in_quotes(e.original) + " is translated to " + in_quotes(e.translation) + " here and to ";
    const std::string end = "; vorlang refuses the dictionary";
    if (count == 1) return start + in_quotes(others[0]) + " on line " + list + end;
    std::string text = start + (others.size() == 1 ? in_quotes(others[0]) : std::to_string(others.size()) + " other translations") +
                       " in " + std::to_string(count) + " earlier entries: lines " + list;
    if (named < count) text += " and " + std::to_string(count - named) + " more";
    return text + end;
}

// Seeded dictionaries of a few originals with a few translations each, long
// enough that runs pass the bound of those named.
TEST(LintConflicts, EqualThePairsTheyStandFor) {
    std::mt19937 random(20261209);
    for (int seed = 0; seed < 300; ++seed) {
        const std::size_t size = 1 + random() % (seed < 250 ? 12 : 60);
        const unsigned originals = 1 + random() % 3;
        const unsigned translations = 1 + random() % 4;
        std::vector<Line> lines;
        std::string text;
        for (std::size_t i = 0; i < size; ++i) {
            lines.push_back({"Ab" + std::to_string(random() % originals), "T" + std::to_string(random() % translations)});
            text += lines.back().original + " " + lines.back().translation + "\n";
        }
        DictionaryLayout layout;
        ReadResult read = read_trans_bytes(text.data(), text.size(), {}, &layout);
        ASSERT_NE(read.entries.get(), nullptr);
        std::vector<Finding> findings;
        dictionary_findings(read.entries.get(), layout, findings);
        std::vector<std::string> got(size);
        for (const Finding& f : findings) {
            if (f.severity == Severity::error && f.message.ends_with("vorlang refuses the dictionary")) {
                ASSERT_EQ(got[f.line - 1], "") << "two conflict findings on line " << f.line;
                got[f.line - 1] = f.message;
            }
        }
        for (std::size_t i = 0; i < size; ++i) {
            ASSERT_EQ(got[i], expected(lines, i)) << "seed " << seed << ", line " << i + 1 << " of\n" << text;
        }
    }
}

// The pair as the dictionary reader makes an entry of it: the translation
// cut to the original's length.
EntryList entry(std::string_view original, std::string_view translation) {
    Trans_Tbl* e = Create_Tbl(nullptr);
    std::memcpy(e->org_name, original.data(), original.size());
    std::memcpy(e->new_name_full, translation.data(), translation.size());
    std::memcpy(e->new_name, translation.data(), std::min(original.size(), translation.size()));
    return EntryList(e);
}

TEST(LintLayout, LineFeedsAndShortcutsKept) {
    const std::string lost_end = "warning: the translation loses the original's trailing line feed";
    const std::string lost_start = "warning: the translation loses the original's leading line feed";
    const std::string lost_tab = "warning: the translation loses the shortcut '\\tCtrl+N'";
    struct Row {
        std::string original;
        std::string translation;
        std::vector<std::string> findings;  // of these kinds, in order
    };
    const Row rows[] = {
        {"Usage: %s [OPTION]...\n", "Gebruik: %s [OPTIE]\n", {}},
        {"Usage: %s\n", "Gebruik: %s", {lost_end}},
        {"Done.", "Ok.\n", {"warning: the translation adds a trailing line feed, which the original has not"}},
        {"\nError", "\nFout", {}},
        {"\nError", "Fout!", {lost_start}},
        {"Fout", "\nFou", {"warning: the translation adds a leading line feed, which the original has not"}},
        // The cut takes the line feed away.
        {"Usage: %s\n", "Gebruik: %s\n", {lost_end}},
        {"one\ntwo\nthree\n", "een\ntwee drie\n", {"warning: the translation has 2 line feeds, the original 3"}},
        {"one\ntwo", "een twee", {}},  // one line feed alone may go
        {"&New\tCtrl+N", "&Nieuw", {lost_tab}},
        {"&New\tCtrl+N", "&Nieuw\tCtrl+N", {}},  // cut, the tab kept
        {"&New\tCtrl+N", "&Nieuw\tCtrl+Nieuw", {}},
        {"&New\tCtrl+N", "Nieuwe map maken\tCtrl+N", {lost_tab}},  // the cut takes it
        {"same\n", "same\n", {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.original + " -> " + row.translation);
        const EntryList e = entry(row.original, row.translation);
        std::vector<Finding> findings;
        dictionary_findings(e.get(), DictionaryLayout{}, findings);
        std::vector<std::string> got;
        for (const Finding& f : findings) {
            const std::string m = (f.severity == Severity::error ? "error: " : f.severity == Severity::warning ? "warning: " : "note: ") + f.message;
            if (m.find("line feed") != std::string::npos || m.find("shortcut") != std::string::npos) got.push_back(m);
        }
        EXPECT_EQ(got, row.findings);
    }
}

}  // namespace
