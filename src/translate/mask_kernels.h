// The scans' loops over chunks of masks, each built for several instruction
// sets, and the fastest one this CPU runs, chosen once: the byte pass's
// search for zeros that may end an original, and the wide pass's skip over
// chunks in which no original can start.
#pragma once

#include "byte_masks.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

// portable: the loops a byte at a time; sse2: the vector masks of
// byte_masks.h, which every x86-64 runs; avx2: 32 bytes a compare;
// avx512bw: 64 bytes a compare, each giving its mask.
enum class MaskIsa : unsigned char { portable, sse2, avx2, avx512bw };

// The sets this build and this CPU run, fastest last.
std::span<const MaskIsa> runnable_mask_isas();
MaskIsa fastest_mask_isa();

// A chunk of 64 bytes with a zero that may end an original, as read. E.g.
// n = 4, bytes 'a'..'z' in range, and the chunk at 128 holding 00 'x' 00 at
// 128 to 130 and "File" 00 at 136 to 140, the last zero before it at 100:
// zero has bits 0, 2 and 12, ends bit 12 only, zero_before is 100, and the
// string of the zero at 140 starts at 131, one past the zero below it in
// zero (or past zero_before when there is none).
struct CandidateChunk {
    std::size_t at;            // the index of its first byte
    std::uint64_t zero;        // chunk_masks' zero
    std::uint64_t ends;        // the zeros with n in-range bytes before them
    std::int64_t zero_before;  // the index of the last zero before the chunk
};

// The most chunks one call notes, and the most it reads: 4 KiB, so that the
// strings it notes are still in the cache when they are decided.
constexpr std::size_t kCandidateChunks = 16;
constexpr std::size_t kScanBytes = 4096;

// Where the byte pass's scan of buf stands between calls. Indices are into
// buf; last_zero is -1 or less when no zero of buf has been seen.
template <int n>
struct ByteScan {
    const unsigned char* buf;
    std::size_t at;   // the next chunk; whole chunks only, up to end
    std::size_t end;
    unsigned char lo;
    unsigned char span;
    InRangeRuns<n> runs;
    std::int64_t last_zero;
};

// Notes in out the candidate chunks from s.at on, in order, until it has
// noted kCandidateChunks, read kScanBytes or reached s.end, and returns
// their count; s is left after the last chunk read.
template <int n>
using ByteScanKernel = std::size_t (*)(ByteScan<n>& s, CandidateChunk* out);

template <int n>
ByteScanKernel<n> byte_scan_kernel(MaskIsa isa);

// UnitTriples::skip with isa's kernel: the first chunk from b on (b, b + 64,
// ... up to last) that holds an offset where the unit before is at most
// before_max and the units at and after lie in at and after, with those
// offsets in may and the chunk's zero_units in zeros; past last when there
// is none. may holds every offset unit_triples_portable finds, and more only
// as UnitTriples allows; with avx2 and avx512bw, whose compares are of 16
// bits, exactly those.
class UnitSkip {
public:
    UnitSkip(std::uint16_t before_max, UnitRange at, UnitRange after, MaskIsa isa = fastest_mask_isa());
    const unsigned char* operator()(const unsigned char* b, const unsigned char* last, std::uint32_t& may,
                                    std::uint32_t& zeros) const;
    // The masks of the chunks b, b + 64, ... (chunks of them), as operator()
    // makes them, whether may is 0 or not: the may offsets and the zero units.
    void masks(const unsigned char* b, std::size_t chunks, std::uint32_t* may, std::uint32_t* zeros) const;

private:
    UnitTriples packed_;
    // The ranges as units, for the kernels that compare units (none in a
    // build without AVX).
    [[maybe_unused]] std::uint16_t before_max_;
    [[maybe_unused]] UnitRange at_;
    [[maybe_unused]] UnitRange after_;
    MaskIsa isa_;
};

// A text the wide pass's run walk has found an original for by its hash: it
// is replaced by result when its len bytes (at most kSwapLongest) equal the
// original's.
struct TextSwap {
    unsigned char* text;
    const unsigned char* original;
    const unsigned char* result;
    std::uint32_t len;
};

constexpr std::size_t kSwapLongest = 128;

// Makes the swaps whose texts equal their originals, at most 64 of them;
// bit i of the result is set when swap i was made. The AVX-512 kernel
// compares and copies with masked loads and stores, without a branch on the
// length or the outcome.
using SwapKernel = std::uint64_t (*)(const TextSwap* swaps, std::size_t count);
SwapKernel swap_kernel(MaskIsa isa = fastest_mask_isa());

// The run walk's hash of a text of 4 units or more: its count and four
// words of 8 bytes, at its start, a third and two thirds of the way, and at
// its end, so it costs the same whatever the length. It sees all of a text
// of up to 16 units; longer texts alike in the bytes it reads share a
// hash, and the bytes are compared before any replacement. E.g. "Save as"
// (7 units, 14 bytes): the words at bytes 0, 2, 4 and 6. The run kernel
// makes the same hash eight texts at a time.
constexpr std::uint64_t kRunHashMul[4] = {0x9E3779B97F4A7C15ULL, 0xFF51AFD7ED558CCDULL, 0xC4CEB9FE1A85EC53ULL,
                                          0xD6E8FEB86659FD93ULL};
constexpr unsigned kRunHashTurn = 17;  // b is turned right by this many bits
constexpr unsigned kRunHashFold = 29;  // the last step folds h >> this into h

inline std::uint64_t run_word(const unsigned char* p) {
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    return w;
}

[[gnu::always_inline]] inline std::uint64_t run_hash(const unsigned char* s, std::size_t units) {
    const std::size_t third = (2 * units - 8) / 3;
    const std::uint64_t a = (run_word(s) ^ units) * kRunHashMul[0] ^ run_word(s + third) * kRunHashMul[1];
    const std::uint64_t b = run_word(s + 2 * third) * kRunHashMul[2] ^ run_word(s + 2 * units - 8) * kRunHashMul[3];
    const std::uint64_t h = (a ^ (b >> kRunHashTurn | b << (64 - kRunHashTurn))) * kRunHashMul[0];
    return h ^ (h >> kRunHashFold);
}

// Up to four originals of kRunMinUnits to kRunMaxUnits units whose run_hash
// picks one bucket: one cache line, which the run walk fetches ahead of
// deciding the texts that hash there. An original that finds its bucket
// full is not entered, and the bucket is marked, so that a text that
// hashes there and finds no key is looked up in the index's small table of
// the originals its bucket does not settle (WideIndex::alike).
struct alignas(64) RunBucket {
    std::uint32_t key[4];  // run_key of each original; 0 where none is
    std::uint32_t at[4];   // where it lies in WideIndex::bytes, its result after it
    std::uint32_t id[4];   // its index in WideIndex::originals
    std::uint32_t full;
};

// A bucket's key of a text of units units (at most 127) with run_hash h:
// the hash's low bits with the count in the 7 lowest, so a key is never 0;
// and its bucket among mask + 1.
inline std::uint32_t run_key(std::uint64_t h, std::size_t units) {
    return (static_cast<std::uint32_t>(h) & ~std::uint32_t{127}) | static_cast<std::uint32_t>(units);
}
inline std::size_t run_bucket(std::uint64_t h, std::uint64_t mask) { return static_cast<std::size_t>(h >> 40 & mask); }

// A window of the run walk: up to kRunWindowChunks chunks, their zero units
// and may offsets (UnitSkip::masks), and the runs between the zero units.
// Run r (from 1) lies between the zero units zeros[r - 1] and zeros[r].
constexpr std::size_t kRunWindowChunks = 16;
constexpr std::size_t kRunWindowUnits = 32 * kRunWindowChunks;

struct RunWindow {
    const unsigned char* bytes;
    const std::uint64_t* may;  // bit u: a may offset at unit u of bytes, 512 bits
    // Per zero unit, each with 8 more places that are read: its unit from
    // bytes, ascending, as the zero unit kernel lists them; whether the run
    // it ends needs the may offsets inside it decided (not 0).
    const std::uint16_t* zeros;
    const std::uint16_t* inner;
    std::size_t count;  // of zeros
    std::uint32_t lo;   // the units of the bucketed originals: lo to lo + span
    std::uint32_t span;
    const std::uint64_t* filter;  // a run is looked up when bit h >> filter_shift is set
    unsigned filter_shift;
};

// What the run kernel found: the runs to look up (their start in bytes from
// the window, units and run_hash), and the runs it leaves to the caller:
// those with inner set, of 64 units or more, or whose start is a may offset
// but whose units lie outside lo to lo + span. Every other run needs
// nothing: its start is no may offset, or its hash is not in the filter.
// The kernel stores eight places at a time, so each array has 8 more.
struct RunLookups {
    std::uint32_t start[kRunWindowUnits + 8];
    std::uint32_t units[kRunWindowUnits + 8];
    std::uint64_t hash[kRunWindowUnits + 8];
    std::size_t count = 0;
    std::uint16_t left[kRunWindowUnits + 8];  // run indices, ascending
    std::size_t lefts = 0;
};

// A window's zero unit masks, and the list the zero unit kernel makes of
// its zero units, in units from the first chunk, ascending, with room for
// 32 more places: each chunk's are stored 32 at a time.
struct WindowZeros {
    const std::uint32_t* zero;  // per chunk: its zero units
    std::size_t chunks;
    std::uint16_t* at;
};

// Returns the count of the zero units it lists.
using ZeroUnitsKernel = std::size_t (*)(const WindowZeros& z);
using WindowRunsKernel = void (*)(const RunWindow& w, RunLookups& out);
struct RunKernels {
    ZeroUnitsKernel zero_units = nullptr;
    WindowRunsKernel runs = nullptr;
};

// The AVX-512 kernels (with VBMI2 and DQ), or none: the run walk then
// decides every run itself.
RunKernels run_kernels(MaskIsa isa = fastest_mask_isa());

// The buckets and originals that the lookup ring reads, and the counts it
// adds a hit to.
struct RunTable {
    const RunBucket* buckets;
    std::uint64_t bucket_mask;
    const unsigned char* bytes;  // each original at a bucket's at, its translation after it
    std::int64_t* counts;        // per original id
};

// The run kernel's lookups under way, each in four steps that lie some
// lookups apart, so that what a step reads was fetched by the one before:
// its bucket fetched; its slot found in the bucket and the original
// fetched; its text compared with the original; and, kStore lookups later,
// the translation written and the hit counted. The writes trail the
// compares, as a masked load next to a masked store not yet done waited for
// it. A text that the buckets do not settle (its bucket is full, or another
// slot has its key) and that is not its slot's original is left to the
// caller, which decides it as a whole run (decide_alike). E.g. adding
// lookup 100 fetches its bucket, finds the slot of lookup 84, compares
// lookup 68 and writes lookup 60: the texts are runs apart from each other,
// so the steps of different lookups may come in any order.
struct RunRing {
    static constexpr std::size_t kSize = 64;  // a power of two
    static constexpr std::size_t kFind = 16;
    static constexpr std::size_t kCompare = 32;
    static constexpr std::size_t kStore = 40;
    unsigned char* text[kSize];
    std::uint32_t units[kSize];
    std::uint32_t key[kSize];
    const RunBucket* bucket[kSize];
    const unsigned char* original[kSize];  // null when no slot has the key
    std::uint32_t id[kSize];
    bool unsettled[kSize];  // the bucket is full, or more than one slot has the key
    bool same[kSize];       // the text is its original
    std::size_t added = 0;
    // Left to the caller since it last took them.
    unsigned char* left_text[kRunWindowUnits + kSize];
    std::uint32_t left_units[kRunWindowUnits + kSize];
    std::size_t lefts = 0;
};

// Adds the lookups of found (their starts from window) to the ring and takes
// each lookup in it as far as its place allows; the drain takes every
// lookup in it to its end.
using RingKernel = void (*)(RunRing& ring, const RunTable& t, unsigned char* window, const RunLookups& found);
using RingDrainKernel = void (*)(RunRing& ring, const RunTable& t);
struct RingKernels {
    RingKernel add = nullptr;
    RingDrainKernel drain = nullptr;
};

// The AVX-512 ring, or none (then the run kernels are not used either).
RingKernels ring_kernels(MaskIsa isa = fastest_mask_isa());
