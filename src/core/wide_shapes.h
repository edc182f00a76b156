// The shapes of the UTF-16LE texts the wide pass replaces, and where its
// walk goes on after one: the translator's wide pass applies them, and the
// template's scan offers only texts that the walk reaches and applies.
//
// At an even offset q, with before the unit at q - 2, a text is
//  - counted: the before units from q (an entry of a string table), at any
//    level;
//  - terminated: the units from q up to the next zero unit, when before is
//    0 or passes the level's test (a menu text after its flags or id word).
// Both may hold an original at one q (a menu item whose id word is 4 and
// whose text is "Open file": "Open" counted, "Open file" terminated). Of the
// entries that match at q the first in list order is applied, alone, and
// the walk goes on after its text: so at one q only one text ever acts, and
// no text that begins inside it is sought.
#pragma once

#include <cstddef>
#include <cstdint>

#include "relax.h"

// The units of the counted text at q.
inline std::size_t counted_units(std::uint16_t before) { return before; }

// Whether a terminated text may stand after before at level relax.
inline bool terminated_after(std::uint16_t before, int relax) { return before == 0 || passes(before, relax); }

// A terminated text after a unit other than 0 is a risky replacement.
inline bool terminated_is_risky(std::uint16_t before) { return before != 0; }

// Where the walk goes on after a text of units units at q: a terminated
// text's zero unit is passed over too.
inline std::int64_t after_counted(std::int64_t q, std::size_t units) { return q + 2 * static_cast<std::int64_t>(units); }
inline std::int64_t after_terminated(std::int64_t q, std::size_t units) { return after_counted(q, units) + 2; }

// The largest unit before q with which a text of at most max_units units
// has a shape at level relax: at the strict level its count (a terminated
// text needs a 0 before it), at the others any unit.
inline std::uint16_t largest_before(int relax, std::size_t max_units) {
    return relax == kRelaxStrict && max_units < 0xFFFF ? static_cast<std::uint16_t>(max_units) : 0xFFFF;
}
