// What vorlang-lint finds in a dictionary, and in the places its originals
// have in the program: one finding per line of the dictionary at fault.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dictionary.h"
#include "resource_places.h"
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
// ignores (a PO catalogue's refused messages, and a note that counts the
// messages left out), conflicts and repeats, cuts, line feeds and shortcuts lost. An entry marked in full_length (by
// list index; with -g, one that lands only in resources) is written whole:
// it has no cut, and its full translation keeps the printf directives.
// Throws std::bad_alloc.
void dictionary_findings(const Trans_Tbl* head, const DictionaryLayout& layout, std::vector<Finding>& out,
                         const std::vector<bool>& full_length = {});

// The findings about where the originals stand, for a run at level relax;
// places as find_places gives them; an entry with places in_resources (by
// list index, with -g) is in the program even when found nowhere else.
// Throws std::bad_alloc.
void program_findings(const Trans_Tbl* head, const DictionaryLayout& layout, const std::vector<EntryPlaces>& places,
                      int relax, bool wide, std::vector<Finding>& out, const std::vector<std::int64_t>& in_resources = {});

// A translation is much longer than its dialog control's text when it has
// more than this many halves of the original's characters...
constexpr std::size_t kLongerHalves = 3;
// ...and at least this many characters more.
constexpr std::size_t kLongerBy = 5;

// With -g, the findings about the entries that land in menus and dialogs:
// hotkeys lost, doubled or shared in a group, shortcuts after a tab
// changed, dialog texts that may not fit. Throws std::bad_alloc.
void resource_findings(const Trans_Tbl* head, const DictionaryLayout& layout, const ResourcePlaces& places,
                       std::vector<Finding>& out);

// Orders the findings by line, keeping the order of those on one line.
void sort_findings(std::vector<Finding>& findings);

// "<dictionary>:<line>: <severity>: <message>", without the LF.
std::string finding_line(const std::string& dictionary, const Finding& f);
