// Where the program holds each dictionary original, as the translator finds
// it at every relax level, and whether those places are ones the program
// shows. The program is read once per level and nothing is written.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "dictionary.h"
#include "program_sections.h"
#include "relax.h"

// The levels, in the order of the counts below: 0, -r and -R.
constexpr std::array<int, 3> kSearchLevels = {kRelaxStrict, kRelaxNonAlnum, kRelaxAny};

// The index in kSearchLevels of the level a run at relax acts as.
inline std::size_t search_level(int relax) {
    return relax == kRelaxStrict ? 0 : passes('A', relax) ? 2 : 1;
}

struct EntryPlaces {
    std::array<std::int64_t, 3> found{};   // replacements at each level
    std::array<std::int64_t, 3> hidden{};  // of those, where the program never shows them
    std::array<std::string, 3> hidden_in;  // the section of the first such place
    std::array<std::int64_t, 3> in_code{};  // of those, in sections that hold instructions
    std::array<std::vector<std::string>, 3> code_in;  // those sections, in the order first found
    // For an entry found at no level that stands in the program when the
    // entries before it found nowhere are left out: the entries (by index
    // in the list) applied at its places, at each level, in the order of
    // its places.
    std::array<std::vector<std::size_t>, 3> shadowed_by;
};

enum class PlacesStatus { ok, read_error, out_of_memory };

// One record per entry, in list order. prog is read from its start for each
// level, and again where an entry found nowhere may stand where another
// acts first; a file that cannot be read again (a FIFO) is a read error.
// Places from skip_begin to skip_end (with -g the resource section, which
// is translated by its structure) are not counted.
PlacesStatus find_places(Trans_Tbl* head, std::FILE* prog, const ProgramMap& map, bool wide,
                         std::vector<EntryPlaces>& places, std::uint64_t skip_begin = 0, std::uint64_t skip_end = 0);
