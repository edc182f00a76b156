// What vorlang-lint finds in a dictionary, and in the places its originals
// have in the program: one finding per line of the dictionary at fault.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dictionary.h"
#include "text_places.h"

enum class Severity { error, warning, note };

struct Finding {
    std::uint32_t line;
    Severity severity;
    std::string message;
};

// A translation found this many places or more is warned about.
constexpr std::int64_t kManyPlaces = 101;

// An original found in more places than this in sections of instructions is
// an error. A text may stand among instructions (a linker that merges
// read-only data into the code section), so a few places there may be
// texts; more are most likely instruction bytes that match by chance, and
// replacing them breaks the program.
constexpr std::int64_t kCodePlaces = 3;

// The findings about the entries themselves: the lines the reader splits or
// ignores, conflicts and repeats, cuts. Throws std::bad_alloc.
void dictionary_findings(const Trans_Tbl* head, const DictionaryLayout& layout, std::vector<Finding>& out);

// The findings about where the originals stand, for a run at level relax;
// places as find_places gives them. Throws std::bad_alloc.
void program_findings(const Trans_Tbl* head, const DictionaryLayout& layout, const std::vector<EntryPlaces>& places,
                      int relax, bool wide, std::vector<Finding>& out);

// Orders the findings by line, keeping the order of those on one line.
void sort_findings(std::vector<Finding>& findings);

// "<dictionary>:<line>: <severity>: <message>", without the LF.
std::string finding_line(const std::string& dictionary, const Finding& f);
