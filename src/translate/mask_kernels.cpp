#include "mask_kernels.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <cstring>

// The AVX kernels carry the target in their own attribute, never over
// a region or a whole file: an inline function of a shared header compiled
// for AVX-512 might be the copy the linker keeps for the whole program, and
// crash a CPU without it. What they inline from the headers (InRangeRuns)
// is built for every x86-64, which a target may call.
#if defined(VORLANG_SSE2_MASKS) && defined(__x86_64__)
#define VORLANG_AVX_MASKS 1
#include <immintrin.h>
#endif

namespace {

// One chunk's bookkeeping, the same in every kernel: its candidate zeros
// and the last zero so far.
template <int n>
inline void note_chunk(InRangeRuns<n>& runs, std::size_t at, ChunkMasks m, CandidateChunk* out, std::size_t& noted,
                       std::int64_t& last_zero) {
    std::uint64_t ends = m.zero & runs.ends_after(m.in_range);
    if (ends != 0) out[noted++] = CandidateChunk{at, m.zero, ends, last_zero};
    if (m.zero != 0) last_zero = static_cast<std::int64_t>(at) + 63 - std::countl_zero(m.zero);
}

// The bytes a page ahead are asked for in every kernel: the hardware's own
// prefetch stops at page ends, and these loops are fast enough to wait at
// each. On 512 MiB at level 0 the scan's time fell from 0.20 s to 0.10 s
// (mapped) and from 0.09 s to 0.06 s (read into buffers) with SSE2. A
// prefetch past the block is harmless: it never faults.
constexpr std::size_t kPrefetch = 4096;

using Masks = ChunkMasks (*)(const unsigned char*, unsigned char, unsigned char);

template <int n, Masks masks>
std::size_t scan_bytes(ByteScan<n>& s, CandidateChunk* out) {
    // Locals, so that they stay in registers: the stores to out might
    // otherwise change s for all the compiler knows, and the constants
    // would be made again for every chunk.
    const unsigned char* buf = s.buf;
    const unsigned char lo = s.lo;
    const unsigned char span = s.span;
    InRangeRuns<n> runs = s.runs;
    std::int64_t last_zero = s.last_zero;
    std::size_t at = s.at;
    const std::size_t stop = std::min(s.end, at + kScanBytes);
    std::size_t noted = 0;
    for (; at + 64 <= stop && noted < kCandidateChunks; at += 64) {
        __builtin_prefetch(buf + at + kPrefetch);
        note_chunk(runs, at, masks(buf + at, lo, span), out, noted, last_zero);
    }
    s.runs = runs;
    s.last_zero = last_zero;
    s.at = at;
    return noted;
}

const unsigned char* skip_units_portable(const UnitTriples& packed, const unsigned char* b,
                                         const unsigned char* last, std::uint32_t& may, std::uint32_t& zeros) {
    for (; b <= last; b += 64) {
        may = packed.packed(b);
        if (may != 0) {
            zeros = zero_units_portable(b);
            break;
        }
    }
    return b;
}

void unit_masks_portable(const UnitTriples& packed, const unsigned char* b, std::size_t chunks, std::uint32_t* may,
                         std::uint32_t* zeros) {
    for (std::size_t i = 0; i < chunks; ++i, b += 64) {
        may[i] = packed.packed(b);
        zeros[i] = zero_units_portable(b);
    }
}

void unit_masks_sse2(const UnitTriples& packed, const unsigned char* b, std::size_t chunks, std::uint32_t* may,
                     std::uint32_t* zeros) {
    for (std::size_t i = 0; i < chunks; ++i, b += 64) {
        may[i] = packed(b);
        zeros[i] = zero_units(b);
    }
}

#if defined(VORLANG_AVX_MASKS)
[[gnu::target("avx2")]] inline __m256i load256(const unsigned char* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// scan_bytes with two 32-byte loads a chunk, for x86-64 CPUs without
// AVX-512; the tests are the SSE2 ones, 32 bytes at a time.
template <int n>
[[gnu::target("avx2")]] std::size_t scan_bytes_avx2(ByteScan<n>& s, CandidateChunk* out) {
    const __m256i low = _mm256_set1_epi8(static_cast<char>(s.lo));
    const __m256i width = _mm256_set1_epi8(static_cast<char>(s.span));
    const __m256i zero = _mm256_setzero_si256();
    const unsigned char* buf = s.buf;
    InRangeRuns<n> runs = s.runs;
    std::int64_t last_zero = s.last_zero;
    std::size_t at = s.at;
    const std::size_t stop = std::min(s.end, at + kScanBytes);
    std::size_t noted = 0;
    for (; at + 64 <= stop && noted < kCandidateChunks; at += 64) {
        __builtin_prefetch(buf + at + kPrefetch);
        ChunkMasks m{0, 0};
        for (unsigned h = 0; h < 2; ++h) {
            const __m256i v = load256(buf + at + 32 * h);
            const __m256i d = _mm256_sub_epi8(v, low);
            auto z = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v, zero)));
            auto r = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_min_epu8(d, width), d)));
            m.zero |= std::uint64_t{z} << (32 * h);
            m.in_range |= std::uint64_t{r} << (32 * h);
        }
        note_chunk(runs, at, m, out, noted, last_zero);
    }
    s.runs = runs;
    s.last_zero = last_zero;
    s.at = at;
    return noted;
}

// The unit tests' bounds in every 16-bit lane, made once per loop.
struct UnitLanes256 {
    __m256i most;
    __m256i at_lo;
    __m256i at_span;
    __m256i after_lo;
    __m256i after_span;
};

[[gnu::target("avx2")]] inline UnitLanes256 unit_lanes256(std::uint16_t before_max, UnitRange at, UnitRange after) {
    return UnitLanes256{_mm256_set1_epi16(static_cast<short>(before_max)), _mm256_set1_epi16(static_cast<short>(at.lo)),
                        _mm256_set1_epi16(static_cast<short>(at.span)), _mm256_set1_epi16(static_cast<short>(after.lo)),
                        _mm256_set1_epi16(static_cast<short>(after.span))};
}

// The 16-bit lanes of two halves as one bit per unit: the halves' 0xffff
// per unit pack into 0xff per unit; the pack interleaves 8-unit quarters of
// the halves (0 2 1 3), and the permute puts them back in order before the
// mask is taken.
[[gnu::target("avx2")]] inline std::uint32_t unit_bits_avx2(__m256i lo, __m256i hi) {
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_permute4x64_epi64(_mm256_packs_epi16(lo, hi), 0xd8)));
}

// unit_triples_portable with exact 16-bit tests, as the AVX-512 kernels: a
// <= b is min(a, b) == a.
[[gnu::target("avx2")]] inline std::uint32_t unit_triples_avx2(const unsigned char* b, const UnitLanes256& l) {
    __m256i hit[2];
    for (unsigned h = 0; h < 2; ++h) {
        const unsigned char* v = b + 32 * h;
        const __m256i before = load256(v - 2);
        const __m256i here = _mm256_sub_epi16(load256(v), l.at_lo);
        const __m256i next = _mm256_sub_epi16(load256(v + 2), l.after_lo);
        hit[h] = _mm256_and_si256(_mm256_cmpeq_epi16(_mm256_min_epu16(before, l.most), before),
                                  _mm256_and_si256(_mm256_cmpeq_epi16(_mm256_min_epu16(here, l.at_span), here),
                                                   _mm256_cmpeq_epi16(_mm256_min_epu16(next, l.after_span), next)));
    }
    return unit_bits_avx2(hit[0], hit[1]);
}

[[gnu::target("avx2")]] inline std::uint32_t zero_units_avx2(const unsigned char* b) {
    const __m256i zero = _mm256_setzero_si256();
    return unit_bits_avx2(_mm256_cmpeq_epi16(load256(b), zero), _mm256_cmpeq_epi16(load256(b + 32), zero));
}

// The wide pass's skip with unit_triples_avx2.
[[gnu::target("avx2")]] const unsigned char* skip_units_avx2(const unsigned char* b, const unsigned char* last,
                                                             std::uint16_t before_max, UnitRange at,
                                                             UnitRange after, std::uint32_t& may,
                                                             std::uint32_t& zeros) {
    const UnitLanes256 l = unit_lanes256(before_max, at, after);
    for (; b <= last; b += 64) {
        const std::uint32_t mask = unit_triples_avx2(b, l);
        if (mask != 0) {
            may = mask;
            zeros = zero_units_avx2(b);
            break;
        }
    }
    return b;
}
#endif

#if defined(VORLANG_AVX_MASKS)
// scan_bytes with one load and two compares a chunk: the in-range test is
// the SSE2 one, byte - lo <= span unsigned, with a compare that gives the
// mask itself.
template <int n>
[[gnu::target("avx512bw")]] std::size_t scan_bytes_avx512bw(ByteScan<n>& s, CandidateChunk* out) {
    const __m512i low = _mm512_set1_epi8(static_cast<char>(s.lo));
    const __m512i width = _mm512_set1_epi8(static_cast<char>(s.span));
    const unsigned char* buf = s.buf;
    InRangeRuns<n> runs = s.runs;
    std::int64_t last_zero = s.last_zero;
    std::size_t at = s.at;
    const std::size_t stop = std::min(s.end, at + kScanBytes);
    std::size_t noted = 0;
    for (; at + 64 <= stop && noted < kCandidateChunks; at += 64) {
        __builtin_prefetch(buf + at + kPrefetch);
        const __m512i v = _mm512_loadu_si512(buf + at);
        ChunkMasks m{_mm512_cmpeq_epi8_mask(v, _mm512_setzero_si512()),
                     _mm512_cmple_epu8_mask(_mm512_sub_epi8(v, low), width)};
        note_chunk(runs, at, m, out, noted, last_zero);
    }
    s.runs = runs;
    s.last_zero = last_zero;
    s.at = at;
    return noted;
}

// The unit tests' bounds in every 16-bit lane, made once per loop.
struct UnitLanes512 {
    __m512i most;
    __m512i at_lo;
    __m512i at_span;
    __m512i after_lo;
    __m512i after_span;
};

[[gnu::target("avx512bw")]] inline UnitLanes512 unit_lanes512(std::uint16_t before_max, UnitRange at,
                                                              UnitRange after) {
    return UnitLanes512{_mm512_set1_epi16(static_cast<short>(before_max)), _mm512_set1_epi16(static_cast<short>(at.lo)),
                        _mm512_set1_epi16(static_cast<short>(at.span)), _mm512_set1_epi16(static_cast<short>(after.lo)),
                        _mm512_set1_epi16(static_cast<short>(after.span))};
}

// unit_triples_portable with the units compared as units, not packed into
// bytes, so its mask is exactly the portable one: e.g. the units
// 00 00 | 46 01 | 69 00 fail at 0x21 to 0x7e because 0x146 - 0x21 > 0x5d,
// as unit_in_range says.
[[gnu::target("avx512bw")]] inline std::uint32_t unit_triples_avx512bw(const unsigned char* b, const UnitLanes512& l) {
    __mmask32 hit = _mm512_cmple_epu16_mask(_mm512_loadu_si512(b - 2), l.most);
    hit = _mm512_mask_cmple_epu16_mask(hit, _mm512_sub_epi16(_mm512_loadu_si512(b), l.at_lo), l.at_span);
    return _mm512_mask_cmple_epu16_mask(hit, _mm512_sub_epi16(_mm512_loadu_si512(b + 2), l.after_lo), l.after_span);
}

[[gnu::target("avx512bw")]] inline std::uint32_t zero_units_avx512bw(const unsigned char* b) {
    return _mm512_cmpeq_epi16_mask(_mm512_loadu_si512(b), _mm512_setzero_si512());
}

// The wide pass's skip with unit_triples_avx512bw.
[[gnu::target("avx512bw")]] const unsigned char* skip_units_avx512bw(const unsigned char* b,
                                                                     const unsigned char* last,
                                                                     std::uint16_t before_max, UnitRange at,
                                                                     UnitRange after, std::uint32_t& may,
                                                                     std::uint32_t& zeros) {
    const UnitLanes512 l = unit_lanes512(before_max, at, after);
    for (; b <= last; b += 64) {
        const std::uint32_t mask = unit_triples_avx512bw(b, l);
        if (mask != 0) {
            may = mask;
            zeros = zero_units_avx512bw(b);
            break;
        }
    }
    return b;
}
#endif

#if defined(VORLANG_AVX_MASKS)
[[gnu::target("avx2")]] void unit_masks_avx2(const unsigned char* b, std::size_t chunks, std::uint16_t before_max,
                                             UnitRange at, UnitRange after, std::uint32_t* may,
                                             std::uint32_t* zeros) {
    const UnitLanes256 l = unit_lanes256(before_max, at, after);
    for (std::size_t i = 0; i < chunks; ++i, b += 64) {
        may[i] = unit_triples_avx2(b, l);
        zeros[i] = zero_units_avx2(b);
    }
}

[[gnu::target("avx512bw")]] void unit_masks_avx512bw(const unsigned char* b, std::size_t chunks,
                                                     std::uint16_t before_max, UnitRange at, UnitRange after,
                                                     std::uint32_t* may, std::uint32_t* zeros) {
    const UnitLanes512 l = unit_lanes512(before_max, at, after);
    for (std::size_t i = 0; i < chunks; ++i, b += 64) {
        may[i] = unit_triples_avx512bw(b, l);
        zeros[i] = zero_units_avx512bw(b);
    }
}
#endif

std::uint64_t swap_texts(const TextSwap* swaps, std::size_t count) {
    std::uint64_t made = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const TextSwap& w = swaps[i];
        if (std::memcmp(w.text, w.original, w.len) != 0) continue;
        std::memcpy(w.text, w.result, w.len);
        made |= std::uint64_t{1} << i;
    }
    return made;
}

#if defined(VORLANG_AVX_MASKS)
// A text as two halves of up to 64 bytes, each with the mask of its bytes
// (among keep): with len 70 the first half's mask has all 64 bits, the
// second's the low 6. A half beyond len has an empty mask, so its loads
// read nothing and its store writes nothing.
struct Halves {
    __mmask64 lo;
    __mmask64 hi;
};

[[gnu::target("avx512bw,bmi2")]] inline Halves halves(std::uint32_t len, std::uint64_t keep = ~std::uint64_t{0}) {
    assert(len <= kSwapLongest);
    return Halves{_bzhi_u64(keep, std::min<std::uint32_t>(len, 64)), _bzhi_u64(keep, len > 64 ? len - 64 : 0)};
}

[[gnu::target("avx512bw,bmi2")]] inline bool same_bytes(const unsigned char* a, const unsigned char* b, Halves h) {
    return (_mm512_mask_cmpneq_epi8_mask(h.lo, _mm512_maskz_loadu_epi8(h.lo, a), _mm512_maskz_loadu_epi8(h.lo, b)) |
            _mm512_mask_cmpneq_epi8_mask(h.hi, _mm512_maskz_loadu_epi8(h.hi, a + 64),
                                         _mm512_maskz_loadu_epi8(h.hi, b + 64))) == 0;
}

[[gnu::target("avx512bw,bmi2")]] inline void copy_bytes(unsigned char* to, const unsigned char* from, Halves h) {
    _mm512_mask_storeu_epi8(to, h.lo, _mm512_maskz_loadu_epi8(h.lo, from));
    _mm512_mask_storeu_epi8(to + 64, h.hi, _mm512_maskz_loadu_epi8(h.hi, from + 64));
}

// Every text is compared before any is written: a masked load that
// overlaps an earlier masked store (the 64 bytes from a text reach into
// the next) waits for that store to finish.
[[gnu::target("avx512bw,bmi2")]] std::uint64_t swap_texts_avx512bw(const TextSwap* swaps, std::size_t count) {
    assert(count <= 64);
    std::uint64_t made = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const TextSwap& w = swaps[i];
        made |= std::uint64_t{same_bytes(w.text, w.original, halves(w.len))} << i;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const TextSwap& w = swaps[i];
        // Every bit when the text is the original, else none.
        copy_bytes(w.text, w.result, halves(w.len, -(made >> i & 1)));
    }
    return made;
}
#endif

#if defined(VORLANG_AVX_MASKS)
// The run walk's kernels. The zero units of a window come from one
// compress per chunk: with zero units at bits 3 and 20 of chunk 1, the
// lanes 32 + 3 and 32 + 20 of the chunk's unit numbers are stored at the
// next two places. The runs then go eight at a time, in 64-bit lanes: each
// lane gathers the four words of run_hash from the run's start and makes
// the hash as run_hash does, then gathers its word of the filter; the runs
// to look up and those left to the caller are compressed into out. E.g.
// zero units at units 10 and 15 of the window: run 1 is the 4 units from
// 11, its start at byte 22, its words at bytes 22, 22, 22 and 22 (a third
// of 0 is 0), looked up when the may bit 11 is set, 4 lies in lo to lo +
// span, and the filter holds the hash. All masked lanes of ops that may
// leave lanes undefined are written whole (maskz with every bit set). The
// kernels compress into a register and store all of it, past the count
// (a compress to memory took several times as long).
[[gnu::target("avx512f,avx512bw,avx512vbmi2,popcnt")]] std::size_t zero_units_avx512vbmi2(const WindowZeros& z) {
    __m512i unit = _mm512_set_epi16(31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17, 16, 15, 14, 13, 12, 11,
                                    10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
    std::size_t count = 0;
    for (std::size_t k = 0; k < z.chunks; ++k) {
        const __mmask32 zero = z.zero[k];
        _mm512_storeu_si512(z.at + count, _mm512_maskz_compress_epi16(zero, unit));
        count += static_cast<std::size_t>(_mm_popcnt_u32(zero));
        unit = _mm512_add_epi16(unit, _mm512_set1_epi16(32));
    }
    return count;
}

[[gnu::target("avx512f,avx512bw,avx512dq,avx512vl,avx512vbmi2,popcnt")]] void window_runs_avx512(const RunWindow& w,
                                                                                                 RunLookups& out) {
    constexpr __mmask8 all = 0xFF;
    const __m512i zero = _mm512_setzero_si512();
    const __m512i one = _mm512_set1_epi64(1);
    const __m512i low6 = _mm512_set1_epi64(63);
    const __m512i mul0 = _mm512_set1_epi64(static_cast<long long>(kRunHashMul[0]));
    const __m512i mul1 = _mm512_set1_epi64(static_cast<long long>(kRunHashMul[1]));
    const __m512i mul2 = _mm512_set1_epi64(static_cast<long long>(kRunHashMul[2]));
    const __m512i mul3 = _mm512_set1_epi64(static_cast<long long>(kRunHashMul[3]));
    const __m256i lo = _mm256_set1_epi32(static_cast<int>(w.lo));
    const __m256i span = _mm256_set1_epi32(static_cast<int>(w.span));
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m512i may_bits = _mm512_loadu_si512(w.may);
    out.count = 0;
    out.lefts = 0;
    for (std::size_t r = 1; r < w.count; r += 8) {
        const auto valid = static_cast<__mmask8>((1u << std::min<std::size_t>(8, w.count - r)) - 1);
        const __m256i before = _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(w.zeros + r - 1)));
        const __m256i end = _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(w.zeros + r)));
        const __m256i first = _mm256_add_epi32(before, _mm256_set1_epi32(1));  // the run's first unit
        const __m256i units = _mm256_sub_epi32(end, first);
        // The may bit of each run's first unit u: bit u % 16 of the 16-bit
        // word u / 16 of the window's 512 may bits.
        const __m128i first16 = _mm256_maskz_cvtepi32_epi16(all, first);
        const __m128i may_word = _mm512_maskz_extracti32x4_epi32(
            0xF, _mm512_permutexvar_epi16(_mm512_zextsi128_si512(_mm_srli_epi16(first16, 4)), may_bits), 0);
        const __mmask8 may = _mm_mask_test_epi16_mask(
            valid, _mm_srlv_epi16(may_word, _mm_and_si128(first16, _mm_set1_epi16(15))), _mm_set1_epi16(1));
        const __mmask8 long_run = _mm256_mask_cmpge_epu32_mask(valid, units, _mm256_set1_epi32(64));
        const __mmask8 fits = _mm256_mask_cmple_epu32_mask(valid, _mm256_sub_epi32(units, lo), span);
        const __m128i inner_flags = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w.inner + r));
        const __mmask8 inner = _mm_mask_test_epi16_mask(valid, inner_flags, inner_flags);
        const auto left = static_cast<__mmask8>(inner | long_run | (may & ~fits));
        const auto hashed = static_cast<__mmask8>(may & fits & ~left);
        // run_hash: the words at the start, a third (2u - 8 < 2^15, so
        // times 43691 >> 17 is the quotient by 3), two thirds, and the end.
        const __m256i start = _mm256_add_epi32(first, first);
        const __m256i last = _mm256_sub_epi32(_mm256_add_epi32(units, units), _mm256_set1_epi32(8));
        const __m256i third = _mm256_srli_epi32(_mm256_mullo_epi32(last, _mm256_set1_epi32(43691)), 17);
        const __m256i at_third = _mm256_add_epi32(start, third);
        const __m512i w0 = _mm512_mask_i32gather_epi64(zero, hashed, start, w.bytes, 1);
        const __m512i w1 = _mm512_mask_i32gather_epi64(zero, hashed, at_third, w.bytes, 1);
        const __m512i w2 = _mm512_mask_i32gather_epi64(zero, hashed, _mm256_add_epi32(at_third, third), w.bytes, 1);
        const __m512i w3 = _mm512_mask_i32gather_epi64(zero, hashed, _mm256_add_epi32(start, last), w.bytes, 1);
        const __m512i a = _mm512_xor_si512(
            _mm512_mullo_epi64(_mm512_xor_si512(w0, _mm512_maskz_cvtepu32_epi64(all, units)), mul0),
            _mm512_mullo_epi64(w1, mul1));
        const __m512i b = _mm512_xor_si512(_mm512_mullo_epi64(w2, mul2), _mm512_mullo_epi64(w3, mul3));
        __m512i h = _mm512_mullo_epi64(_mm512_xor_si512(a, _mm512_maskz_ror_epi64(all, b, kRunHashTurn)), mul0);
        h = _mm512_xor_si512(h, _mm512_maskz_srli_epi64(all, h, kRunHashFold));
        const __m512i bit = _mm512_maskz_srli_epi64(all, h, w.filter_shift);
        const __m512i filter_word =
            _mm512_mask_i64gather_epi64(zero, hashed, _mm512_maskz_srli_epi64(all, bit, 6), w.filter, 8);
        const __mmask8 look = _mm512_mask_test_epi64_mask(
            hashed, _mm512_maskz_srlv_epi64(all, filter_word, _mm512_and_si512(bit, low6)), one);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out.start + out.count), _mm256_maskz_compress_epi32(look, start));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out.units + out.count), _mm256_maskz_compress_epi32(look, units));
        _mm512_storeu_si512(out.hash + out.count, _mm512_maskz_compress_epi64(look, h));
        out.count += static_cast<std::size_t>(_mm_popcnt_u32(look));
        const __m256i index = _mm256_add_epi32(_mm256_set1_epi32(static_cast<int>(r)), lanes);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out.left + out.lefts),
                         _mm_maskz_compress_epi16(left, _mm256_maskz_cvtepi32_epi16(all, index)));
        out.lefts += static_cast<std::size_t>(_mm_popcnt_u32(left));
    }
}
// The lookup ring's steps (see RunRing), each on the lookup j places back.
// A bucket's keys are compared four at once; a text is compared and written
// in halves, as by the swap kernel.
[[gnu::target("avx512f,avx512bw,avx512vl,bmi,bmi2,popcnt")]] inline void ring_find(RunRing& g, const RunTable& t,
                                                                                 std::size_t j) {
    const std::size_t i = j % RunRing::kSize;
    const RunBucket& k = *g.bucket[i];
    const auto match = static_cast<unsigned>(
        _mm_cmpeq_epi32_mask(_mm_load_si128(reinterpret_cast<const __m128i*>(k.key)), _mm_set1_epi32(static_cast<int>(g.key[i]))));
    const auto slot = static_cast<unsigned>(std::countr_zero(match | 16u));
    g.unsettled[i] = k.full != 0 || _mm_popcnt_u32(match) > 1;
    if (slot == 4) {
        g.original[i] = nullptr;
        return;
    }
    const unsigned char* o = t.bytes + k.at[slot];
    g.original[i] = o;
    g.id[i] = k.id[slot];
    // The original and its translation after it: up to 256 bytes. Without
    // the lines 64 and 128 bytes on, the compare of a longer text waited for
    // them; fetched only for such a text, the branch cost more than it saved.
    __builtin_prefetch(o);
    __builtin_prefetch(o + 64);
    __builtin_prefetch(o + 128);
    __builtin_prefetch(o + 4 * g.units[i] - 1);
}

[[gnu::target("avx512f,avx512bw,avx512vl,bmi,bmi2,popcnt")]] inline void ring_compare(RunRing& g, std::size_t j) {
    const std::size_t i = j % RunRing::kSize;
    const unsigned char* o = g.original[i];
    if (o == nullptr) return;
    g.same[i] = same_bytes(g.text[i], o, halves(2 * g.units[i]));
}

[[gnu::target("avx512f,avx512bw,avx512vl,bmi,bmi2,popcnt")]] inline void ring_store(RunRing& g, const RunTable& t,
                                                                                  std::size_t j) {
    const std::size_t i = j % RunRing::kSize;
    const unsigned char* o = g.original[i];
    if (o != nullptr && g.same[i]) {
        const std::uint32_t len = 2 * g.units[i];
        copy_bytes(g.text[i], o + len, halves(len));
        ++t.counts[g.id[i]];
    } else if (g.unsettled[i]) {
        g.left_text[g.lefts] = g.text[i];
        g.left_units[g.lefts++] = g.units[i];
    }
}

[[gnu::target("avx512f,avx512bw,avx512vl,bmi,bmi2,popcnt")]] void ring_add_avx512(RunRing& g, const RunTable& t,
                                                                                unsigned char* window,
                                                                                const RunLookups& found) {
    for (std::size_t n = 0; n < found.count; ++n) {
        const std::size_t j = g.added++;
        const std::size_t i = j % RunRing::kSize;
        const std::uint64_t h = found.hash[n];
        g.text[i] = window + found.start[n];
        g.units[i] = found.units[n];
        g.key[i] = run_key(h, found.units[n]);
        g.bucket[i] = t.buckets + run_bucket(h, t.bucket_mask);
        __builtin_prefetch(g.bucket[i]);
        if (j >= RunRing::kFind) ring_find(g, t, j - RunRing::kFind);
        if (j >= RunRing::kCompare) ring_compare(g, j - RunRing::kCompare);
        if (j >= RunRing::kStore) ring_store(g, t, j - RunRing::kStore);
    }
}

[[gnu::target("avx512f,avx512bw,avx512vl,bmi,bmi2,popcnt")]] void ring_drain_avx512(RunRing& g, const RunTable& t) {
    const std::size_t n = g.added;
    for (std::size_t j = n > RunRing::kFind ? n - RunRing::kFind : 0; j < n; ++j) ring_find(g, t, j);
    for (std::size_t j = n > RunRing::kCompare ? n - RunRing::kCompare : 0; j < n; ++j) ring_compare(g, j);
    for (std::size_t j = n > RunRing::kStore ? n - RunRing::kStore : 0; j < n; ++j) ring_store(g, t, j);
    g.added = 0;
}
#endif

struct Runnable {
    std::array<MaskIsa, 4> isas;
    std::size_t count;
};

Runnable find_runnable() {
    Runnable r{{MaskIsa::portable}, 1};
#if defined(VORLANG_SSE2_MASKS)
    r.isas[r.count++] = MaskIsa::sse2;
#endif
#if defined(VORLANG_AVX_MASKS)
    // The test also asks whether the system saves the registers. valgrind
    // runs no AVX-512 and reports a CPU without it, so under valgrind the
    // scans run (and count the instructions of) the AVX2 kernels, or SSE2's
    // on a CPU without AVX2, not the ones a plain run takes.
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) r.isas[r.count++] = MaskIsa::avx2;
    if (__builtin_cpu_supports("avx512bw")) r.isas[r.count++] = MaskIsa::avx512bw;
#endif
    return r;
}

const Runnable& runnable() {
    static const Runnable r = find_runnable();
    return r;
}

}  // namespace

std::span<const MaskIsa> runnable_mask_isas() { return std::span(runnable().isas.data(), runnable().count); }

MaskIsa fastest_mask_isa() { return runnable().isas[runnable().count - 1]; }

template <int n>
ByteScanKernel<n> byte_scan_kernel(MaskIsa isa) {
#if defined(VORLANG_AVX_MASKS)
    if (isa == MaskIsa::avx512bw) return scan_bytes_avx512bw<n>;
    if (isa == MaskIsa::avx2) return scan_bytes_avx2<n>;
#endif
    if (isa == MaskIsa::portable) return scan_bytes<n, chunk_masks_portable>;
    return scan_bytes<n, chunk_masks>;
}

template ByteScanKernel<1> byte_scan_kernel<1>(MaskIsa);
template ByteScanKernel<2> byte_scan_kernel<2>(MaskIsa);
template ByteScanKernel<4> byte_scan_kernel<4>(MaskIsa);
template ByteScanKernel<8> byte_scan_kernel<8>(MaskIsa);

UnitSkip::UnitSkip(std::uint16_t before_max, UnitRange at, UnitRange after, MaskIsa isa)
    : packed_(before_max, at, after), before_max_(before_max), at_(at), after_(after), isa_(isa) {}

SwapKernel swap_kernel(MaskIsa isa) {
#if defined(VORLANG_AVX_MASKS)
    if (isa == MaskIsa::avx512bw && __builtin_cpu_supports("bmi2")) return swap_texts_avx512bw;
#endif
    (void)isa;
    return swap_texts;
}

void UnitSkip::masks(const unsigned char* b, std::size_t chunks, std::uint32_t* may, std::uint32_t* zeros) const {
#if defined(VORLANG_AVX_MASKS)
    if (isa_ == MaskIsa::avx512bw) return unit_masks_avx512bw(b, chunks, before_max_, at_, after_, may, zeros);
    if (isa_ == MaskIsa::avx2) return unit_masks_avx2(b, chunks, before_max_, at_, after_, may, zeros);
#endif
    if (isa_ == MaskIsa::portable) return unit_masks_portable(packed_, b, chunks, may, zeros);
    unit_masks_sse2(packed_, b, chunks, may, zeros);
}

const unsigned char* UnitSkip::operator()(const unsigned char* b, const unsigned char* last, std::uint32_t& may,
                                          std::uint32_t& zeros) const {
#if defined(VORLANG_AVX_MASKS)
    if (isa_ == MaskIsa::avx512bw) return skip_units_avx512bw(b, last, before_max_, at_, after_, may, zeros);
    if (isa_ == MaskIsa::avx2) return skip_units_avx2(b, last, before_max_, at_, after_, may, zeros);
#endif
    if (isa_ == MaskIsa::portable) return skip_units_portable(packed_, b, last, may, zeros);
    return packed_.skip(b, last, may, zeros);
}

RunKernels run_kernels(MaskIsa isa) {
#if defined(VORLANG_AVX_MASKS)
    if (isa == MaskIsa::avx512bw && __builtin_cpu_supports("avx512vbmi2") && __builtin_cpu_supports("avx512dq") &&
        __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("popcnt")) {
        return RunKernels{zero_units_avx512vbmi2, window_runs_avx512};
    }
#endif
    (void)isa;
    return {};
}

RingKernels ring_kernels(MaskIsa isa) {
#if defined(VORLANG_AVX_MASKS)
    if (run_kernels(isa).runs != nullptr && __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2")) {
        return RingKernels{ring_add_avx512, ring_drain_avx512};
    }
#endif
    (void)isa;
    return {};
}
