// The lint's conflict findings against a plain count of the pairs: one
// finding per entry, naming its conflicts, however many entries share an
// original.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
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

}  // namespace
