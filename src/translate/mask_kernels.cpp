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
// Each text as two halves of up to 64 bytes, each with the mask of its
// bytes: with len 70 the first half's mask has all 64 bits, the second's
// the low 6. A half beyond len has an empty mask, so its loads read nothing
// and its store writes nothing. Every text is compared before any is
// written: a masked load that overlaps an earlier masked store (the 64
// bytes from a text reach into the next) waits for that store to finish.
[[gnu::target("avx512bw,bmi2")]] std::uint64_t swap_texts_avx512bw(const TextSwap* swaps, std::size_t count) {
    assert(count <= 64);
    std::uint64_t made = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const TextSwap& w = swaps[i];
        assert(w.len <= kSwapLongest);
        const __mmask64 lo = _bzhi_u64(~std::uint64_t{0}, std::min<std::uint32_t>(w.len, 64));
        const __mmask64 hi = _bzhi_u64(~std::uint64_t{0}, w.len > 64 ? w.len - 64 : 0);
        const __mmask64 differ =
            _mm512_mask_cmpneq_epi8_mask(lo, _mm512_maskz_loadu_epi8(lo, w.text), _mm512_maskz_loadu_epi8(lo, w.original)) |
            _mm512_mask_cmpneq_epi8_mask(hi, _mm512_maskz_loadu_epi8(hi, w.text + 64),
                                         _mm512_maskz_loadu_epi8(hi, w.original + 64));
        made |= std::uint64_t{differ == 0} << i;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const TextSwap& w = swaps[i];
        const __mmask64 keep = -(made >> i & 1);  // every bit when the text is the original, else none
        const __mmask64 lo = _bzhi_u64(keep, std::min<std::uint32_t>(w.len, 64));
        const __mmask64 hi = _bzhi_u64(keep, w.len > 64 ? w.len - 64 : 0);
        _mm512_mask_storeu_epi8(w.text, lo, _mm512_maskz_loadu_epi8(lo, w.result));
        _mm512_mask_storeu_epi8(w.text + 64, hi, _mm512_maskz_loadu_epi8(hi, w.result + 64));
    }
    return made;
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
