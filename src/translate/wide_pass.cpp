#include "wide_pass.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "byte_masks.h"
#include "mask_kernels.h"
#include "wide_shapes.h"
#include "wide_text.h"

namespace {

bool bit_set(const std::vector<std::uint64_t>& bits, std::size_t bit) {
    return (bits[bit >> 6] >> (bit & 63) & 1) != 0;
}

void set_bit(std::vector<std::uint64_t>& bits, std::size_t bit) { bits[bit >> 6] |= std::uint64_t{1} << (bit & 63); }

std::size_t hash_bit(std::uint64_t h) { return static_cast<std::size_t>(h >> (64 - kWideFilterBits)); }

// A text's count, first two units and last unit (a text of one unit: that
// unit thrice), from three loads whatever its length: "File" (46 00 69 00
// 6c 00 65 00) has the key 4, 0x46, 0x69, 0x65, as has "Fire", so both set
// or test the same bit; "Files" (count 5) has another key.
[[gnu::always_inline]] inline std::size_t shape_bit(const unsigned char* s, std::size_t units) {
    std::uint64_t k = std::uint64_t{units} << 48 | std::uint64_t{unit_at(s)} << 32 |
                      std::uint64_t{unit_at(s + 2 * (units > 1))} << 16 | unit_at(s + 2 * units - 2);
    return static_cast<std::size_t>((k * 0x9E3779B97F4A7C15ULL) >> (64 - kWideShapeBits));
}

// The original made of the units at s, or -1. Two filters pass over most
// texts that are none: by their shape_bit, which costs three loads and
// stops about four in five of the texts that reach it in a program rich in
// wide texts (with 10,000 entries), before their hash is made; then by the
// hash of all units, before the table's probe, which is likely to miss the
// cache. Every original has set both of its bits, so a text whose bit is
// clear in either is no original (asserted for the first). Inlined: it is
// called once or twice per candidate, and the call cost a tenth of it.
[[gnu::always_inline]] inline std::int32_t lookup(const WideIndex& x, const unsigned char* s, std::size_t units) {
    if (units < x.min_units || units > x.max_units) return -1;
    if (!bit_set(x.shape, shape_bit(s, units))) {
        assert(find_original(x, s, 2 * units) < 0);
        return -1;
    }
    std::uint64_t h = text_hash(s, 2 * units);
    if (!bit_set(x.filter, hash_bit(h))) return -1;
    return find_original(x, s, 2 * units, h);
}

// Whether a counted text may start at at: the unit before it, its count,
// is an original's length or more and at most room units, the units from
// at to the zero unit that ends its run (no original holds a zero unit).
inline bool counted_fits(const WideIndex& x, const unsigned char* at, std::size_t room) {
    const std::size_t count = counted_units(unit_at(at - 2));
    return count >= x.min_units && count <= room;
}

#ifndef NDEBUG
// The checked build's test of the masks of chunks chunks from b: they hold
// every may offset that the portable test finds, and the zero units.
void check_masks(const WideScan& s, const unsigned char* b, std::size_t chunks, const std::uint32_t* may,
                 const std::uint32_t* zeros) {
    const WideIndex& x = s.index;
    for (std::size_t k = 0; k < chunks; ++k) {
        const unsigned char* chunk = b + 64 * k;
        assert((unit_triples_portable(chunk, largest_before(s.relax, x.max_units), UnitRange{x.first_lo, x.first_span},
                                      UnitRange{x.second_lo, x.second_span}) &
                ~may[k]) == 0);
        assert(zeros[k] == zero_units_portable(chunk));
    }
}
#endif

// The first zero unit at q or after that a text of the longest original
// from q may end at, or -1; no zero unit stands from q to from. Replacements
// never make or unmake a zero unit (no unit of an original or a translation
// is 0), and q only grows, so the search goes on where the last one stopped.
// It reads 32 units at a time while 64 bytes are left before end: with the
// bytes 00 00 46 00 69 00 6c 00 65 00 00 00 from offset 6 ("File" at
// q = 8), the zero_units mask of the 64 bytes from 8 has its lowest bit at
// 4, so the zero unit is at 8 + 2 * 4 = 16. Every unit passed over is
// nonzero, which is what zero_scan promises.
std::int64_t next_zero(WideScan& s, const unsigned char* buf, std::int64_t base, std::int64_t q, std::int64_t end,
                       std::int64_t from) {
    std::int64_t reach = q + 2 * static_cast<std::int64_t>(s.index.max_units);
    if (s.zero_at < q) {
        std::int64_t r = std::max(from, s.zero_scan);
        while (r <= reach && r + 64 <= end) {
            std::uint32_t zeros = zero_units(buf + (r - base));
            if (zeros == 0) {
                r += 64;
                continue;
            }
            r += 2 * std::countr_zero(zeros);
            assert(unit_at(buf + (r - base)) == 0);
            break;
        }
        while (r <= reach && r + 2 <= end && unit_at(buf + (r - base)) != 0) r += 2;
        if (r <= reach && r + 2 <= end) s.zero_at = r;
        s.zero_scan = r;
    }
    return s.zero_at >= q && s.zero_at <= reach ? s.zero_at : -1;
}

// The zero units of the chunk that the walk's masks were made for, and of
// the chunk after it once a text runs past the first: bit k stands for the
// unit at chunk + 2k. They spare the search of next_zero for every text
// that ends within 64 units of its chunk (in a file dense in wide texts,
// nearly all). Replacements never make or unmake a zero unit, so the masks
// hold after them; decide_at asserts that the zero unit found here is the
// one next_zero finds. With "File" at q = 8 in
// 00 00 46 00 69 00 6c 00 65 00 00 00 from offset 6 and the chunk at 8,
// bit 4 is the lowest from bit (8 - 8) / 2 = 0 on: the zero unit at 16.
struct ChunkZeros {
    std::int64_t chunk;
    const unsigned char* bytes;  // the chunk's
    std::int64_t known_to;       // the masks hold the units from chunk up to here
    std::uint64_t zeros;

    // The first zero unit at q or after, or -1 when none stands from q to
    // known_to; q lies in the chunk.
    std::int64_t first_from(std::int64_t q, std::int64_t end) {
        const auto k = static_cast<unsigned>(q - chunk) / 2;
        std::uint64_t from_k = zeros >> k;
        if (from_k == 0 && known_to == chunk + 64 && chunk + 128 <= end) {
            zeros |= std::uint64_t{zero_units(bytes + 64)} << 32;
            known_to = chunk + 128;
            from_k = zeros >> k;
        }
        return from_k == 0 ? -1 : q + 2 * std::countr_zero(from_k);
    }
};

// Decides the even offset q: returns the offset after the text replaced
// there, or 0 when none is (the walk then goes on at q + 2). chunk holds
// the zero units of the chunk that q lies in, or is null. Inlined into the
// walk's two loops, which run it once or more per text.
[[gnu::always_inline]] inline std::int64_t decide_at(WideScan& s, unsigned char* buf, std::int64_t base,
                                                     std::int64_t q, std::int64_t end, ChunkZeros* chunk) {
    WideIndex& x = s.index;
    unsigned char* at = buf + (q - base);
    if (q + 2 > end || !bit_set(x.first_units, unit_at(at))) return 0;
    const std::uint16_t before = unit_at(at - 2);
    std::int32_t best = -1;
    std::int64_t after = 0;
    bool risky = false;
    const std::size_t counted = counted_units(before);
    if (counted >= x.min_units && after_counted(q, counted) <= end) {
        best = lookup(x, at, counted);
        after = after_counted(q, counted);
    }
    if (terminated_after(before, s.relax)) {
        // A zero unit in the chunk's masks spares the search; it ends the
        // text when it lies within the longest original's reach.
        std::int64_t zero = chunk != nullptr ? chunk->first_from(q, end) : -1;
        if (zero < 0) {
            zero = next_zero(s, buf, base, q, end, chunk != nullptr ? chunk->known_to : q);
        } else if (zero > q + 2 * static_cast<std::int64_t>(x.max_units)) {
            zero = -1;
        }
        assert(zero == next_zero(s, buf, base, q, end, q));
        const auto units = static_cast<std::size_t>(zero - q) / 2;
        std::int32_t id = zero < 0 ? -1 : lookup(x, at, units);
        // Ids follow the list order, and a counted match of the same
        // original is the clean one.
        if (id >= 0 && (best < 0 || id < best)) {
            best = id;
            after = after_terminated(q, units);
            risky = terminated_is_risky(before);
        }
    }
    if (best < 0) return 0;
    const Original& o = x.originals[static_cast<std::size_t>(best)];
    std::memcpy(at, o.result, o.len);
    ++(risky ? risky_counts(s) : clean_counts(s))[best];
    if (x.observer != nullptr) (*x.observer)(x.entry[static_cast<std::size_t>(best)], q);
    return after;
}

}  // namespace

std::int64_t zero_unit_from(const unsigned char* buf, std::int64_t base, std::int64_t at, std::int64_t to) {
    at += at & 1;
    for (; at + 64 <= to; at += 64) {
        std::uint32_t zeros = zero_units(buf + (at - base));
        if (zeros != 0) return at + 2 * std::countr_zero(zeros);
    }
    for (; at + 2 <= to; at += 2) {
        if (unit_at(buf + (at - base)) == 0) return at;
    }
    return -1;
}

WideScan split_walk(WideScan& s, std::int64_t z, std::int64_t* clean, std::int64_t* risky) {
    assert(s.next <= z && z % 2 == 0);
    WideScan part{s.index, s.relax, s.next};
    part.clean = clean;
    part.risky = risky;
    s.next = z + 2;
    s.zero_at = -1;
    s.zero_scan = 0;
    return part;
}

void build_wide_index(WideIndex& x, Trans_Tbl* head) {
    // Every form goes into one string, its original and then its
    // translation: one allocation for all, where a form apiece took more
    // than converting them.
    std::string all;
    std::vector<std::size_t> at;  // per form: where it starts in all
    std::vector<Trans_Tbl*> owners;
    // Reserved at once: grown as it went, a thread of its own took twice as
    // long, mostly on fresh pages. A UTF-8 byte is at most one unit, and a
    // form holds its original, then the whole translation until it is cut
    // or padded to the original's length.
    std::size_t count = 0;
    std::size_t most = 0;
    for (const Trans_Tbl* e = head; e != nullptr; e = e->next) {
        const std::size_t original = original_of(e).size();
        ++count;
        most += 2 * (original + std::max(original, full_translation_of(e).size()));
    }
    all.reserve(most);
    at.reserve(count + 1);
    owners.reserve(count);
    for (Trans_Tbl* e = head; e != nullptr; e = e->next) {
        const std::size_t start = all.size();
        if (!append_wide_form(original_of(e), full_translation_of(e), all)) continue;
        if (all.size() == start) continue;  // an empty original
        at.push_back(start);
        owners.push_back(e);
    }
    at.push_back(all.size());
    x.bytes = std::move(all);
    size_table(x, owners.size());
    x.first_units.assign((std::size_t{1} << 16) / 64, 0);
    x.filter.assign((std::size_t{1} << kWideFilterBits) / 64, 0);
    x.shape.assign((std::size_t{1} << kWideShapeBits) / 64, 0);
    x.min_units = kLongestCatalogueText + 1;
    std::uint16_t lo = 0xFFFF;
    std::uint16_t hi = 0;
    std::uint16_t second_lo = 0xFFFF;
    std::uint16_t second_hi = 0;
    bool one_unit = false;
    for (std::size_t i = 0; i < owners.size(); ++i) {
        unsigned char* form = wide_bytes(x) + at[i];
        const std::size_t len = (at[i + 1] - at[i]) / 2;
        std::int32_t id = add_original(x, form, len, static_cast<std::int32_t>(i));
        if (static_cast<std::size_t>(id) == x.entry.size()) {  // a new original
            x.originals.back().result = form + len;
            x.entry.push_back(owners[i]);
            std::size_t units = len / 2;
            x.min_units = std::min(x.min_units, units);
            x.max_units = std::max(x.max_units, units);
            std::uint16_t first = unit_at(form);
            lo = std::min(lo, first);
            hi = std::max(hi, first);
            set_bit(x.first_units, first);
            if (units == 1) {
                one_unit = true;
            } else {
                second_lo = std::min(second_lo, unit_at(form + 2));
                second_hi = std::max(second_hi, unit_at(form + 2));
            }
            set_bit(x.filter, hash_bit(x.originals.back().hash));
            set_bit(x.shape, shape_bit(form, units));
        }
    }
    x.first_lo = lo;
    x.first_span = static_cast<std::uint16_t>(hi >= lo ? hi - lo : 0);
    if (!one_unit && second_hi >= second_lo) {
        x.second_lo = second_lo;
        x.second_span = static_cast<std::uint16_t>(second_hi - second_lo);
    }
    x.clean.assign(x.originals.size(), 0);
    x.risky.assign(x.originals.size(), 0);
    // A bucket per original or more (rounded up to a power of two), so that
    // few overflow; none when a place would not fit in 32 bits.
    x.run_filter.assign((std::size_t{1} << kWideFilterBits) / 64, 0);
    size_table(x.alike, 0);
    if (x.bytes.size() > UINT32_MAX) return;
    std::vector<std::uint32_t> alike;  // the ids of x.alike
    std::size_t buckets = 1;
    while (buckets < x.originals.size()) buckets *= 2;
    x.buckets.assign(buckets, RunBucket{});
    x.bucket_mask = buckets - 1;
    for (std::size_t id = 0; id < x.originals.size(); ++id) {
        const Original& o = x.originals[id];
        const std::size_t units = o.len / 2;
        if (units < kRunMinUnits || units > kRunMaxUnits) continue;
        const std::uint64_t h = run_hash(o.text, units);
        set_bit(x.run_filter, hash_bit(h));
        RunBucket& k = x.buckets[run_bucket(h, x.bucket_mask)];
        unsigned j = 0;
        while (j < 4 && k.key[j] != 0) ++j;
        if (j == 4) {
            k.full = 1;
            alike.push_back(static_cast<std::uint32_t>(id));
            continue;
        }
        k.key[j] = run_key(h, units);
        k.at[j] = static_cast<std::uint32_t>(o.text - wide_bytes(x));
        k.id[j] = static_cast<std::uint32_t>(id);
    }
    for (const RunBucket& k : x.buckets) {
        for (unsigned j = 0; j < 4 && k.key[j] != 0; ++j) {
            bool shared = false;
            for (unsigned m = 0; m < 4; ++m) shared = shared || (m != j && k.key[m] == k.key[j]);
            if (shared) alike.push_back(k.id[j]);
        }
    }
    size_table(x.alike, alike.size());
    for (std::uint32_t id : alike) {
        const Original& o = x.originals[id];
        add_original(x.alike, o.text, o.len, static_cast<std::int32_t>(id));
        x.alike.originals.back().result = o.result;
    }
}

void add_wide_counts(WideIndex& x) {
    for (std::size_t id = 0; id < x.originals.size(); ++id) {
        x.entry[id]->n_trans += x.clean[id] + x.risky[id];
        x.entry[id]->n_risc += x.risky[id];
        x.clean[id] = 0;
        x.risky[id] = 0;
    }
}

namespace {

// The texts between two zero units (runs) are decided apart from each other,
// as split_walk says: no text the walk replaces holds a zero unit, and the
// unit before the first offset of a run is 0 whatever was replaced before.
// Where wide texts stand back to back, the run walk takes them a batch at a
// time from the masks of up to 16 chunks made at once. At a run's start,
// after a zero unit, only a terminated text of the whole run can stand
// (a count of 0 is no text), so one lookup decides it: run_hash and
// run_filter pass over most texts that are no original, the rest find
// their bucket, fetched ahead while the next batch is read, and the swap
// kernel compares and replaces the batch's texts in one call. A run whose
// start is no original still has the may offsets inside it decided, as the
// chunk walk would. E.g. 00 00 | 46 00 69 00 6c 00 65 00 | 00 00 with the
// zero units at 0 and 10: the run is "File" at 2, 4 units; its bucket holds
// the key of "File", the kernel finds the 8 bytes equal and writes the
// translation over them; the next run starts at 12.
struct RunWalk {
    WideScan& s;
    unsigned char* buf;
    std::int64_t base;
    std::int64_t end;
    const UnitSkip& may_start;
    SwapKernel swap;
    RunKernels kernels;  // none unless the walk is at the strict level
    RingKernels ring;    // with the run kernels only
    // Runs of lo_units to hi_units units are looked up in the buckets.
    std::size_t lo_units;
    std::size_t hi_units;
};

constexpr std::size_t kBatch = 32;

// What a run needs: nothing; its start looked up in the buckets; the may
// offsets inside it decided, or those and its start (a text too short for
// the buckets, or one whose bucket did not settle it); its start alone,
// which its bucket did not settle (alike); or the chunk walk, for a run of
// 64 units or more, whose offsets one mask cannot hold.
enum class RunKind : unsigned char { none, lookup, inside, start_and_inside, alike, long_run };

struct RunBatch {
    std::int64_t start[kBatch];
    std::uint32_t units[kBatch];
    RunKind kind[kBatch];
    std::uint64_t may[kBatch];  // the run's may offsets, bit i for start + 2i
    std::uint32_t key[kBatch];
    const RunBucket* bucket[kBatch];
    unsigned slot[kBatch];  // the key's slot in the bucket, 4 when none holds it
    std::size_t n = 0;
};

std::int64_t walk_chunks(const RunWalk& w, std::int64_t q, std::int64_t until, bool runs);

// Decides the offsets of may (bit i for q + 2i, i below units) in the run of
// units units at q, as the chunk walk would; the zero unit at q + 2 * units
// ends every terminated text. The masks were made before any replacement:
// after a counted text replaced inside the run, the offset after it is
// decided whatever its bit, as the unit before it is one just written.
void decide_offsets(const RunWalk& w, std::int64_t q, std::size_t units, std::uint64_t may) {
    assert(units < 64);
    ChunkZeros zero{q, w.buf + (q - w.base), q + 128, std::uint64_t{1} << units};
    const std::int64_t z = q + 2 * static_cast<std::int64_t>(units);
    std::int64_t go_on = q;
    std::int64_t forced = -1;
    for (;;) {
        std::int64_t p = forced;
        forced = -1;
        if (p < 0) {
            while (may != 0 && q + 2 * std::countr_zero(may) < go_on) may &= may - 1;
            if (may == 0) return;
            p = q + 2 * std::countr_zero(may);
            may &= may - 1;
        }
        const std::int64_t after = decide_at(w.s, w.buf, w.base, p, w.end, &zero);
        if (after != 0 && after < z) forced = after;
        go_on = after != 0 ? after : p + 2;
    }
}

// Decides a run of units units at q with no may offset inside it: only a
// terminated text of the whole run can stand at its start, after the zero
// unit, so the table's lookup decides it, as decide_at would there (a
// count of 0 is no text, and the text is clean).
void decide_start(const RunWalk& w, std::int64_t q, std::size_t units) {
    WideIndex& x = w.s.index;
    unsigned char* text = w.buf + (q - w.base);
    assert(unit_at(text - 2) == 0 && unit_at(text + 2 * units) == 0 && x.observer == nullptr);
    const std::int32_t id = lookup(x, text, units);
    if (id < 0) return;
    const Original& o = x.originals[static_cast<std::size_t>(id)];
    std::memcpy(text, o.result, o.len);
    ++clean_counts(w.s)[id];
}

// Decides a run as decide_start does, where its bucket did not settle it
// (WideIndex::alike): e.g. "icudt78l/zone/de.res" beside "icudt78l/zone/fr.res",
// whose hashed words are the same, hashes all its bytes and finds "de" in
// the table of the alike originals.
void decide_alike(const RunWalk& w, std::int64_t q, std::size_t units) {
    WideIndex& x = w.s.index;
    unsigned char* text = w.buf + (q - w.base);
    assert(unit_at(text - 2) == 0 && unit_at(text + 2 * units) == 0 && x.observer == nullptr);
    const std::int32_t a = find_original(x.alike, text, 2 * units);
    assert((a < 0 ? -1 : x.alike.originals[static_cast<std::size_t>(a)].head) == lookup(x, text, units));
    if (a < 0) return;
    const Original& o = x.alike.originals[static_cast<std::size_t>(a)];
    std::memcpy(text, o.result, o.len);
    ++clean_counts(w.s)[o.head];
}

// Finds each looked-up run's key in its bucket and fetches the original's
// bytes, which the batch's decision reads once the next batch is read.
void find_slots(const RunWalk& w, RunBatch& b) {
    const WideIndex& x = w.s.index;
    for (std::size_t i = 0; i < b.n; ++i) {
        if (b.kind[i] != RunKind::lookup) continue;
        const RunBucket& k = *b.bucket[i];
        unsigned m = 0;
        for (unsigned j = 0; j < 4; ++j) m |= unsigned{k.key[j] == b.key[i]} << j;
        b.slot[i] = static_cast<unsigned>(std::countr_zero(m | 16u));
        const unsigned char* o = wide_bytes(x) + k.at[b.slot[i] & 3];
        __builtin_prefetch(o);
        __builtin_prefetch(o + 4 * b.units[i] - 1);  // the end of the translation after it
    }
}

// The kind of a looked-up run that its bucket did not settle.
RunKind unsettled(std::uint64_t may) { return may == 1 ? RunKind::alike : RunKind::start_and_inside; }

// Decides the runs of the batch, each apart from the others: first, in one
// call of the swap kernel, every text that its bucket names an original
// for, then the rest in order.
void decide_batch(const RunWalk& w, RunBatch& b) {
    WideScan& s = w.s;
    WideIndex& x = s.index;
    std::int64_t* counts = clean_counts(s);
    TextSwap swaps[kBatch];
    unsigned char swapped[kBatch];
    std::size_t n = 0;
    for (std::size_t i = 0; i < b.n; ++i) {
        if (b.kind[i] != RunKind::lookup) continue;
        if (b.slot[i] < 4) {
            const unsigned char* o = wide_bytes(x) + b.bucket[i]->at[b.slot[i]];
            const std::uint32_t len = 2 * b.units[i];
            swaps[n] = TextSwap{w.buf + (b.start[i] - w.base), o, o + len, len};
            swapped[n++] = static_cast<unsigned char>(i);
        } else {
            // No original of the run's length has its key, unless one did not
            // fit in the bucket.
            assert(b.bucket[i]->full != 0 || lookup(x, w.buf + (b.start[i] - w.base), b.units[i]) < 0);
            b.kind[i] = b.bucket[i]->full != 0 ? unsettled(b.may[i]) : RunKind::inside;
        }
    }
#ifndef NDEBUG
    std::int32_t was[kBatch];  // what the table says each text is, before the swaps
    for (std::size_t j = 0; j < n; ++j) was[j] = lookup(x, swaps[j].text, b.units[swapped[j]]);
#endif
    const std::uint64_t made = n != 0 ? w.swap(swaps, n) : 0;
    for (std::size_t j = 0; j < n; ++j) {
        const std::size_t i = swapped[j];
        assert(((made >> j & 1) != 0) == (was[j] == static_cast<std::int32_t>(b.bucket[i]->id[b.slot[i]])));
        const RunBucket& k = *b.bucket[i];
        if ((made >> j & 1) != 0) {
            ++counts[k.id[b.slot[i]]];
            b.kind[i] = RunKind::none;
            continue;
        }
        // A text alike in the words the hash reads: the run's start can
        // only be an original that another slot keys alike, or one that
        // found the bucket full.
        bool alike = k.full != 0;
        for (unsigned m = b.slot[i] + 1; m < 4; ++m) alike = alike || k.key[m] == b.key[i];
        b.kind[i] = alike ? unsettled(b.may[i]) : RunKind::inside;
        assert(alike || lookup(x, swaps[j].text, b.units[i]) < 0);
    }
    for (std::size_t i = 0; i < b.n; ++i) {
        const std::int64_t q = b.start[i];
        if (b.kind[i] == RunKind::none) continue;
        // The window walk batches the runs it looks up before those it
        // leaves, so they come out of order: the zero unit search starts
        // afresh, as its memory holds only for offsets that grow.
        s.zero_at = -1;
        s.zero_scan = 0;
        switch (b.kind[i]) {
            case RunKind::inside: decide_offsets(w, q, b.units[i], b.may[i] & ~std::uint64_t{1}); break;
            case RunKind::start_and_inside:
                if (b.may[i] == 1) {
                    decide_start(w, q, b.units[i]);
                } else {
                    decide_offsets(w, q, b.units[i], b.may[i]);
                }
                break;
            case RunKind::alike: decide_alike(w, q, b.units[i]); break;
            case RunKind::long_run: walk_chunks(w, q, q + 2 * static_cast<std::int64_t>(b.units[i]) + 2, false); break;
            default: break;
        }
    }
    b.n = 0;
}

// The run walk's two batches: one filling, and one whose slots were found,
// decided once the other is full, so that its buckets and originals have
// been fetched meanwhile.
struct RunBatches {
    RunBatch two[2];
    RunBatch* b = &two[0];
    RunBatch* held = nullptr;

    void next_if_full(const RunWalk& w) {
        if (b->n < kBatch) return;
        find_slots(w, *b);
        if (held != nullptr) decide_batch(w, *held);
        held = b;
        b = b == &two[0] ? &two[1] : &two[0];
    }
    void finish(const RunWalk& w) {
        find_slots(w, *b);
        if (held != nullptr) decide_batch(w, *held);
        decide_batch(w, *b);
    }
};

// Writes what the run of units units at start needs to the batch, when it
// needs anything, from its may offsets (bit i for start + 2i; none for a
// long run, of 64 units or more); returns whether it is looked up. At the
// strict level a text inside a run is counted by the unit before it, and
// one that would run over the zero unit that ends the run is no original:
// such offsets are dropped.
[[gnu::always_inline]] inline bool add_run(const RunWalk& w, RunBatch& b, std::int64_t start, std::size_t units,
                                           std::uint64_t run_may, bool long_run) {
    const WideIndex& x = w.s.index;
    const unsigned char* text = w.buf + (start - w.base);
    std::uint64_t inner = run_may & ~std::uint64_t{1};
    if (inner != 0 && w.s.relax == kRelaxStrict) {
        for (std::uint64_t m = inner; m != 0; m &= m - 1) {
            const auto i = static_cast<std::size_t>(std::countr_zero(m));
            if (!counted_fits(x, text + 2 * i, units - i)) inner &= ~(std::uint64_t{1} << i);
        }
    }
    RunKind kind = inner != 0 ? RunKind::inside : RunKind::none;
    std::uint64_t h = 0;
    if (long_run) {
        kind = RunKind::long_run;
    } else if ((run_may & 1) != 0) {
        if (units < w.lo_units || units > w.hi_units) {
            kind = RunKind::start_and_inside;
        } else {
            h = run_hash(text, units);
            if (bit_set(x.run_filter, hash_bit(h))) {
                kind = RunKind::lookup;
            } else {
                assert(lookup(x, text, units) < 0);
            }
        }
    }
    if (kind == RunKind::none) return false;
    const std::size_t i = b.n++;
    b.start[i] = start;
    b.units[i] = static_cast<std::uint32_t>(units);
    b.kind[i] = kind;
    b.may[i] = (run_may & 1) | inner;
    if (kind == RunKind::lookup) {
        b.key[i] = run_key(h, units);
        b.bucket[i] = &x.buckets[run_bucket(h, x.bucket_mask)];
        __builtin_prefetch(b.bucket[i]);
    }
    return kind == RunKind::lookup;
}

std::int64_t walk_runs_by_window(const RunWalk& w, std::int64_t q, std::int64_t last);

// The runs the chunk walk looks up before it hands the rest to the window
// walk, when the run kernels are there: in a program's code and data the
// run walk is entered often for a few runs, which the window walk (its
// masks made a window at a time) took a fifth longer over.
constexpr std::size_t kWidenAfter = 2 * kBatch;

// The run walk from q, where the unit before q is 0, over the chunks up to
// last, a run at a time: decides the runs that end in them, a batch at a
// time, until 256 bytes have passed without a run to look up, or goes on
// with the window walk after kWidenAfter runs looked up; returns the start
// of the run it stopped in.
std::int64_t walk_runs_by_chunk(const RunWalk& w, std::int64_t q, std::int64_t last) {
    RunBatches batches;
    std::int64_t start = q;  // the run being read
    // The may offsets of that run from its start, bit i for start + 2i, in
    // the chunks before this one; long when it began 64 units or more
    // before the end of this one.
    std::uint64_t may_before = 0;
    bool long_run = false;
    std::int64_t idle = 0;
    std::uint32_t mays[kRunWindowChunks];
    std::uint32_t zero_masks[kRunWindowChunks];
    std::size_t have = 0;
    std::size_t next = 0;
    std::size_t window = 1;  // chunks whose masks are made at once: 2, 4, 8, then 16
    std::size_t looked_up = 0;
    for (std::int64_t c = q; c <= last && idle <= 256; c += 64) {
        if (next == have) {
            window = std::min(2 * window, kRunWindowChunks);
            have = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(window), (last - c) / 64 + 1));
            w.may_start.masks(w.buf + (c - w.base), have, mays, zero_masks);
            next = 0;
#ifndef NDEBUG
            check_masks(w.s, w.buf + (c - w.base), have, mays, zero_masks);
#endif
        }
        const std::uint64_t may = mays[next];
        // The chunk's may offsets from start, bit i for start + 2i: with the
        // run at c - 10 and bit 0 of may set (an offset at c), bit 5.
        const auto from_start = [&] {
            return start >= c ? may >> ((start - c) / 2) : c - start < 128 ? may << ((c - start) / 2) : 0;
        };
        for (std::uint32_t zeros = zero_masks[next++]; zeros != 0; zeros &= zeros - 1) {
            const std::int64_t z = c + 2 * std::countr_zero(zeros);
            const auto units = static_cast<std::size_t>(z - start) / 2;
            const bool is_long = long_run || units >= 64;
            const std::uint64_t run_may = is_long ? 0 : (may_before | from_start()) & ((std::uint64_t{1} << units) - 1);
            const bool looked = add_run(w, *batches.b, start, units, run_may, is_long);
            batches.next_if_full(w);
            idle = looked ? 0 : idle + (z + 2 - start);
            looked_up += looked;
            start = z + 2;
            may_before = 0;
            long_run = false;
            if (looked_up == kWidenAfter && w.kernels.runs != nullptr) {
                batches.finish(w);
                return walk_runs_by_window(w, start, last);
            }
        }
        if (start < c + 64) {
            may_before |= from_start();
            long_run = long_run || c + 64 - start >= 128;
        }
    }
    batches.finish(w);
    return start;
}

// The run walk with the run kernels, at the strict level, a window of 16
// chunks at a time, each from the zero unit before the run being read: the
// kernels find the window's zero units, and of the runs between them the
// ones to look up, with their hashes, eight runs at a time, and the ones
// they leave (see RunLookups) are decided here as the chunk walk does. The
// next window starts at the zero unit that ends the window's last run.
// Stops after 256 bytes without a run to look up, or at a run that no
// window holds whole (the chunk walk goes on there), and returns the start
// of the run it stopped in. E.g. a run from q and zero units at q + 8 and
// q + 18: the window starts at q - 2 (unit 0, a zero unit), its zero units
// are at units 0, 5 and 10, and its runs 1 and 2 are the 4 units from q and
// the 4 units from q + 10; the next window starts at q + 18.
std::int64_t walk_runs_by_window(const RunWalk& w, std::int64_t q, std::int64_t last) {
    const WideIndex& x = w.s.index;
    assert(w.s.relax == kRelaxStrict && q - 4 >= w.base);
    RunBatches batches;
    std::int64_t start = q;  // the run being read; the unit before it is 0
    std::int64_t idle = 0;
    std::uint32_t mays[kRunWindowChunks];
    std::uint32_t zero_masks[kRunWindowChunks];
    // Bit u for the unit u of the window, and two words of 0 after it.
    constexpr std::size_t kWords = kRunWindowChunks / 2 + 2;
    std::uint64_t may_words[kWords];
    std::uint64_t zero_words[kWords];
    // The lists of RunWindow.
    std::uint16_t zeros[kRunWindowUnits + 32] = {};
    std::uint16_t inner_before[kRunWindowUnits + 32];
    RunLookups found;
    RunRing ring;
    const RunTable table{x.buckets.data(), x.bucket_mask, wide_bytes(x), clean_counts(w.s)};
    // The texts the ring leaves are whole runs, after a zero unit.
    const auto decide_left = [&](RunRing& g) {
        for (std::size_t j = 0; j < g.lefts; ++j) decide_alike(w, w.base + (g.left_text[j] - w.buf), g.left_units[j]);
        g.lefts = 0;
    };
#ifndef NDEBUG
    struct Expected {
        unsigned char* text;
        std::int32_t id;  // the original the text was, or -1
        std::string was;
    };
    std::vector<Expected> looked_up;
#endif
    RunWindow kw{nullptr,
                 may_words,
                 zeros,
                 inner_before,
                 0,
                 static_cast<std::uint32_t>(w.lo_units),
                 static_cast<std::uint32_t>(w.hi_units - w.lo_units),
                 x.run_filter.data(),
                 64 - kWideFilterBits};
    while (start - 2 <= last && idle <= 256) {
        const std::int64_t c = start - 2;  // the window, unit u at c + 2u
        const auto have = static_cast<std::size_t>(
            std::min<std::int64_t>(static_cast<std::int64_t>(kRunWindowChunks), (last - c) / 64 + 1));
        unsigned char* bytes = w.buf + (c - w.base);
        w.may_start.masks(bytes, have, mays, zero_masks);
        std::fill(std::begin(may_words), std::end(may_words), 0);
        std::fill(std::begin(zero_words), std::end(zero_words), 0);
        for (std::size_t k = 0; k < have; ++k) {
            may_words[k / 2] |= std::uint64_t{mays[k]} << (32 * (k % 2));
            zero_words[k / 2] |= std::uint64_t{zero_masks[k]} << (32 * (k % 2));
        }
        assert((zero_words[0] & 1) != 0);
        // The may offsets from unit u of the window on, bit i for u + i.
        const auto may_from = [&](std::size_t u) {
            return may_words[u / 64] >> (u % 64) | (may_words[u / 64 + 1] << 1) << (63 - u % 64);
        };
        const std::size_t count = w.kernels.zero_units(WindowZeros{zero_masks, have, zeros});
        if (count < 2) break;  // no run ends in the window
        // The may offsets that start no run, each in the run r that the first
        // zero unit after it ends: inner_before[r] is set when a counted
        // text may start there.
        std::fill(inner_before, inner_before + count + 8, std::uint16_t{0});
        std::uint64_t carry = 0;
        std::size_t r = 0;
        for (std::size_t k = 0; k < (have + 1) / 2; ++k) {
            const std::uint64_t starts = zero_words[k] << 1 | carry;
            carry = zero_words[k] >> 63;
            for (std::uint64_t m = may_words[k] & ~starts & ~zero_words[k]; m != 0; m &= m - 1) {
                const std::size_t u = 64 * k + static_cast<std::size_t>(std::countr_zero(m));
                while (r < count && zeros[r] < u) ++r;
                if (r == count) break;  // the last run goes on past the window
                if (counted_fits(x, bytes + 2 * u, zeros[r] - u)) inner_before[r] = 1;
            }
        }
#ifndef NDEBUG
        check_masks(w.s, bytes, have, mays, zero_masks);
        for (std::size_t r = 0; r < count; ++r) {
            assert(unit_at(bytes + 2 * zeros[r]) == 0 && (r == 0 ? zeros[r] == 0 : zeros[r] > zeros[r - 1]));
        }
#endif
        kw.bytes = bytes;
        kw.count = count;
        w.kernels.runs(kw, found);
#ifndef NDEBUG
        {
            // Every run the kernel neither looks up nor leaves needs nothing.
            std::vector<bool> listed(count, false);
            for (std::size_t j = 0; j < found.count; ++j) {
                const std::size_t end = (found.start[j] + 2 * found.units[j]) / 2;
                listed[static_cast<std::size_t>(std::find(zeros, zeros + count, end) - zeros)] = true;
            }
            for (std::size_t j = 0; j < found.lefts; ++j) listed[found.left[j]] = true;
            for (std::size_t r = 1; r < count; ++r) {
                const std::size_t from = zeros[r - 1] + 1u;
                const std::size_t units = zeros[r] - from;
                const bool first = (may_from(from) & 1) != 0;
                const bool fits = units >= w.lo_units && units <= w.hi_units;
                std::uint64_t inner = units < 64 ? may_from(from) & ((std::uint64_t{1} << units) - 1) & ~std::uint64_t{1} : 0;
                for (std::uint64_t m = inner; m != 0; m &= m - 1) {
                    const auto i = static_cast<std::size_t>(std::countr_zero(m));
                    if (!counted_fits(x, bytes + 2 * (from + i), units - i)) inner &= ~(std::uint64_t{1} << i);
                }
                assert(units >= 64 || (inner != 0) == (inner_before[r] != 0));
                assert(listed[r] || (units < 64 && inner == 0 && (!first || fits) &&
                                     (!first || !bit_set(x.run_filter, hash_bit(run_hash(bytes + 2 * from, units))))));
            }
        }
#endif
#ifndef NDEBUG
        for (std::size_t j = 0; j < found.count; ++j) {
            unsigned char* text = bytes + found.start[j];
            assert(found.hash[j] == run_hash(text, found.units[j]) && bit_set(x.run_filter, hash_bit(found.hash[j])));
            looked_up.push_back(Expected{text, lookup(x, text, found.units[j]),
                                         std::string(reinterpret_cast<const char*>(text), 2 * found.units[j])});
        }
#endif
        w.ring.add(ring, table, bytes, found);
        decide_left(ring);
        for (std::size_t j = 0; j < found.lefts; ++j) {
            const std::size_t r = found.left[j];
            const std::size_t from = zeros[r - 1] + 1u;
            const std::size_t units = zeros[r] - from;
            const bool is_long = units >= 64;
            add_run(w, *batches.b, c + 2 * static_cast<std::int64_t>(from), units,
                    is_long ? 0 : may_from(from) & ((std::uint64_t{1} << units) - 1), is_long);
            batches.next_if_full(w);
        }
        const std::int64_t next = c + 2 * static_cast<std::int64_t>(zeros[count - 1]) + 2;
        idle = found.count != 0 ? 0 : idle + (next - start);
        start = next;
    }
    w.ring.drain(ring, table);
    decide_left(ring);
    batches.finish(w);
#ifndef NDEBUG
    // Each text the ring took is its original's translation now, or as it was.
    for (const Expected& e : looked_up) {
        const std::string now(reinterpret_cast<const char*>(e.text), e.was.size());
        if (e.id < 0) {
            assert(now == e.was);
        } else {
            const Original& o = x.originals[static_cast<std::size_t>(e.id)];
            assert(now == std::string(reinterpret_cast<const char*>(o.result), o.len));
        }
    }
#endif
    return start;
}

std::int64_t walk_runs(const RunWalk& w, std::int64_t q, std::int64_t last) { return walk_runs_by_chunk(w, q, last); }

// The chunk walk: decides the offsets from q up to until; returns where it
// stopped (until, or the offset after a text replaced past it). With runs,
// where a chunk holds a zero unit and after it a run that the buckets may
// hold, the offsets up to that zero unit are decided from the chunk's
// masks, and the run walk goes on from it.
//
// Most offsets are passed over 32 units at a time: a match needs an
// original's first unit at q, its second unit (or any unit, when an original
// has one unit) at q + 2, and at level 0 a unit before q that is 0 or a
// count, at most max_units. With "File" (46 00 69 00 6c 00 65 00) the only
// original, a 64-byte chunk of UTF-16 text masks only the units 0x0046
// followed by 0x0069; in a chunk of zero bytes or of byte strings, none.
// The mask may hold more offsets than these tests pass (see UnitTriples),
// never fewer, as asserted: every offset that it passes over fails
// decide_at's own tests, so skipping it changes nothing. After a
// replacement the masks are made again from the bytes as they are now: the
// unit before the next offset may be a unit just written.
std::int64_t walk_chunks(const RunWalk& w, std::int64_t q, std::int64_t until, bool runs) {
    WideScan& s = w.s;
    const WideIndex& x = s.index;
    // In locals: a write through buf may alias w's fields.
    unsigned char* const buf = w.buf;
    const std::int64_t base = w.base;
    const std::int64_t end = w.end;
    const UnitSkip& may_start = w.may_start;
    // The masks read the unit after the chunk.
    const std::int64_t last_chunk = std::min(until - 64, end - 66);
    while (q <= last_chunk) {
        std::uint32_t may = 0;
        std::uint32_t zeros = 0;
        const unsigned char* at = may_start(buf + (q - base), buf + (last_chunk - base), may, zeros);
        q = base + (at - buf);
        if (q > last_chunk) break;
#ifndef NDEBUG
        check_masks(s, at, 1, &may, &zeros);
#endif
        if (runs && zeros != 0) {
            const auto j = static_cast<unsigned>(std::countr_zero(zeros));
            const std::uint32_t next_zeros = j < 31 ? zeros >> (j + 1) : 0;
            const auto units = static_cast<std::size_t>(std::countr_zero(next_zeros));
            if (next_zeros != 0 && (may >> (j + 1) & 1) != 0 && units >= w.lo_units && units <= w.hi_units &&
                bit_set(x.shape, shape_bit(at + 2 * j + 2, units))) {
                decide_offsets(w, q, j, may & ((std::uint32_t{1} << j) - 1));
                q = walk_runs(w, q + 2 * j + 2, last_chunk);
                continue;
            }
        }
        ChunkZeros chunk{q, at, q + 64, zeros};
        std::int64_t go_on = q + 64;
        for (; may != 0; may &= may - 1) {
            const std::int64_t after = decide_at(s, buf, base, q + 2 * std::countr_zero(may), end, &chunk);
            if (after != 0) {
                go_on = after;
                break;
            }
        }
        q = go_on;
    }
    while (q < until) {
        const std::int64_t after = decide_at(s, buf, base, q, end, nullptr);
        q = after != 0 ? after : q + 2;
    }
    return q;
}

}  // namespace

void wide_decide(WideScan& s, unsigned char* buf, std::int64_t base, std::int64_t until, std::int64_t end) {
    WideIndex& x = s.index;
    assert(s.next % 2 == 0 && s.next - 2 >= base);
    if (x.originals.empty()) {
        s.next = std::max(s.next, until + (until & 1));
        return;
    }
    const UnitSkip may_start(largest_before(s.relax, x.max_units), UnitRange{x.first_lo, x.first_span},
                             UnitRange{x.second_lo, x.second_span});
    const RunWalk w{s,
                    buf,
                    base,
                    end,
                    may_start,
                    swap_kernel(),
                    s.relax == kRelaxStrict && ring_kernels().add != nullptr ? run_kernels() : RunKernels{},
                    s.relax == kRelaxStrict ? ring_kernels() : RingKernels{},
                    std::max(x.min_units, kRunMinUnits),
                    std::min(x.max_units, kRunMaxUnits)};
    // The search's observer wants the hits in order, which the batches do
    // not keep.
    s.next = walk_chunks(w, s.next, until, x.observer == nullptr && !x.buckets.empty());
}
