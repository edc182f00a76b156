// The wide pass: replaces the UTF-16LE texts of the copy that the byte pass
// has made. It walks the even offsets q from low to high and replaces, at
// each, the original that stands there in one of the shapes of
// wide_shapes.h, as that header's rule says.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "mask_kernels.h"
#include "relax.h"
#include "text_index.h"
#include "text_limits.h"

constexpr unsigned kWideFilterBits = 18;
constexpr unsigned kWideShapeBits = 18;

constexpr std::size_t kRunMinUnits = 4;
constexpr std::size_t kRunMaxUnits = 64;
// run_key holds the count in 7 bits, and run_hash reads 8 bytes of a text.
static_assert(kRunMaxUnits < 128 && kRunMinUnits >= 4);

// The distinct wide originals, numbered in the list order of the first entry
// that has each; only that entry is ever applied.
struct WideIndex : OriginalTable {
    std::string bytes;  // the originals and their translations, as wide_bytes gives them
    std::vector<Trans_Tbl*> entry;     // per original: its first entry
    std::vector<std::int64_t> clean;   // hits per original
    std::vector<std::int64_t> risky;
    std::size_t min_units = 0;
    std::size_t max_units = 0;
    // Every original's first unit lies in first_lo to first_lo + first_span.
    std::uint16_t first_lo = 0;
    std::uint16_t first_span = 0;
    // Every original of two units or more has its second unit in second_lo
    // to second_lo + second_span; with an original of one unit, the range
    // holds every unit (a counted text of one unit may have any unit after).
    std::uint16_t second_lo = 0;
    std::uint16_t second_span = 0xFFFF;
    std::vector<std::uint64_t> first_units;  // bit u: an original begins with unit u
    std::vector<std::uint64_t> shape;        // by the shape_bit of each original
    std::vector<std::uint64_t> filter;       // by the text_hash of each original
    std::vector<std::uint64_t> run_filter;   // by the run_hash of each original of the buckets
    // The originals of kRunMinUnits to kRunMaxUnits units, for the run walk;
    // none when the index is too large for the 32-bit places of a bucket.
    std::vector<RunBucket> buckets;
    std::uint64_t bucket_mask = 0;
    // The originals of the buckets that a bucket does not settle: each one
    // whose key another slot of its bucket has, and each one that found its
    // bucket full; head is the original's index. A whole run left unsettled
    // by its bucket can only be one of these, and this small table (the
    // names of a family alike in the hashed words, as "icudt78l/zone/xx.res")
    // decides it without the filters and the large table.
    OriginalTable alike;
};

inline unsigned char* wide_bytes(WideIndex& x) { return reinterpret_cast<unsigned char*>(x.bytes.data()); }
inline const unsigned char* wide_bytes(const WideIndex& x) {
    return reinterpret_cast<const unsigned char*>(x.bytes.data());
}

// Entries without a wide form or with an empty original never act. Throws
// std::bad_alloc.
void build_wide_index(WideIndex& index, Trans_Tbl* head);

// Adds the hits counted in the index to the first entry of each original.
void add_wide_counts(WideIndex& index);

// Where the walk stands, in file offsets.
struct WideScan {
    WideIndex& index;
    int relax;
    std::int64_t next = 2;  // the next even offset to decide; 0 has no unit before it
    // The first zero unit at or after the offset last asked about, when it
    // was found (zero_at); no zero unit stands from that offset to zero_scan.
    std::int64_t zero_at = -1;
    std::int64_t zero_scan = 0;
    // Where hits are counted, per original, when not in the index's own
    // clean and risky: a walk over part of a block run on another thread.
    std::int64_t* clean = nullptr;
    std::int64_t* risky = nullptr;
};

// The hits a walk counts: its own counts when it has them, else the index's.
inline std::int64_t* clean_counts(WideScan& s) { return s.clean != nullptr ? s.clean : s.index.clean.data(); }
inline std::int64_t* risky_counts(WideScan& s) { return s.risky != nullptr ? s.risky : s.index.risky.data(); }

// The walk splits at a zero unit: no original holds one, so no text the
// walk replaces runs across it, and the unit before the offset after it is
// 0 whatever was replaced before. So the offsets up to z + 2 and those from
// z + 2 on can be decided apart, in either order, e.g. on two threads.
// Returns the first even offset z from at on, before to, where buf (holding
// the copy from base) has a zero unit, or -1.
std::int64_t zero_unit_from(const unsigned char* buf, std::int64_t base, std::int64_t at, std::int64_t to);

// Splits the walk s at the zero unit at z (s.next <= z): returns the walk of
// the offsets from s.next up to z + 2, counting into clean and risky, and
// moves s on to z + 2. The part is decided by wide_decide(part, buf, base,
// z + 2, z + 2); it reads no byte from z + 2 on and writes none from z on.
WideScan split_walk(WideScan& s, std::int64_t z, std::int64_t* clean, std::int64_t* risky);

// Decides the even offsets from s.next up to until. buf holds the copy from
// offset base (at most s.next - 2) up to end; a text must lie before end,
// which is the end of the file unless until + reach <= end, reach being
// kWideReach or, with longer originals, 2 * (max_units + 1).
void wide_decide(WideScan& s, unsigned char* buf, std::int64_t base, std::int64_t until, std::int64_t end);
