// Bit masks over 64 bytes at a time, bit k standing for byte k: which bytes
// are 0, and which lie in a range of byte values; and over the 32 16-bit
// little-endian units in them, bit k standing for unit k. The translator
// builds every test it makes of a block from these.
#pragma once

#include "utf16_unit.h"

#include <cstdint>

// VORLANG_PORTABLE builds the loops that a machine without SSE2 runs, so
// that they are tested on x86 too.
#if defined(__SSE2__) && !defined(VORLANG_PORTABLE)
#define VORLANG_SSE2_MASKS 1
#include <emmintrin.h>
#endif

struct ChunkMasks {
    std::uint64_t zero;
    std::uint64_t in_range;  // lo <= byte <= lo + span
};

inline bool byte_in_range(unsigned char c, unsigned char lo, unsigned char span) {
    return static_cast<unsigned char>(c - lo) <= span;
}

inline ChunkMasks chunk_masks_portable(const unsigned char* b, unsigned char lo, unsigned char span) {
    ChunkMasks m{0, 0};
    for (unsigned k = 0; k < 64; ++k) {
        m.zero |= std::uint64_t{b[k] == 0} << k;
        m.in_range |= std::uint64_t{byte_in_range(b[k], lo, span)} << k;
    }
    return m;
}

inline ChunkMasks chunk_masks(const unsigned char* b, unsigned char lo, unsigned char span) {
#if defined(VORLANG_SSE2_MASKS)
    const __m128i zero = _mm_setzero_si128();
    const __m128i low = _mm_set1_epi8(static_cast<char>(lo));
    const __m128i width = _mm_set1_epi8(static_cast<char>(span));
    ChunkMasks m{0, 0};
    for (unsigned q = 0; q < 4; ++q) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 16 * q));
        __m128i d = _mm_sub_epi8(v, low);
        auto z = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, zero)));
        auto r = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(d, width), d)));
        m.zero |= std::uint64_t{z} << (16 * q);
        m.in_range |= std::uint64_t{r} << (16 * q);
    }
    return m;
#else
    return chunk_masks_portable(b, lo, span);
#endif
}

// Runs of n in-range bytes (n = 1, 2, 4 or 8), chunk after chunk: bit j of
// ends_after is set when the n bytes before byte j lie in range. A run of 2
// is a run of 1 and the run of 1 a byte before it, a run of 4 two runs of 2,
// so 8 bytes take three steps, not eight; the chunk before gives the bits
// shifted in. E.g. n = 4 and the in-range bits 1 1 1 1 0 1 1 1 of bytes 0 to
// 7 (none before): runs of 2 end at bytes 1 2 3 6 7, runs of 4 at byte 3
// only, so only a zero at byte 4 may end an original.
template <int n>
class InRangeRuns {
public:
    // before: the bytes before the first chunk, the k-th before it in bit
    // 64 - k (n of them, or all there are).
    explicit InRangeRuns(std::uint64_t before) {
        last1_ = before;
        last2_ = last1_ & last1_ << 1;
        last4_ = last2_ & last2_ << 2;
        last8_ = last4_ & last4_ << 4;
    }

    std::uint64_t ends_after(std::uint64_t in_range) {
        std::uint64_t run = in_range;
        std::uint64_t last = last1_;
        last1_ = in_range;
        if constexpr (n >= 2) {
            run &= run << 1 | last >> 63;
            last = last2_;
            last2_ = run;
        }
        if constexpr (n >= 4) {
            run &= run << 2 | last >> 62;
            last = last4_;
            last4_ = run;
        }
        if constexpr (n >= 8) {
            run &= run << 4 | last >> 60;
            last = last8_;
            last8_ = run;
        }
        return run << 1 | last >> 63;
    }

private:
    // The runs that end in the chunk before, in the same bits.
    std::uint64_t last1_, last2_, last4_, last8_;
};

inline bool unit_in_range(std::uint16_t u, std::uint16_t lo, std::uint16_t span) {
    return static_cast<std::uint16_t>(u - lo) <= span;
}

// Bit k is set when the unit at b + 2k is 0, for the 32 units at b.
inline std::uint32_t zero_units_portable(const unsigned char* b) {
    std::uint32_t m = 0;
    for (unsigned k = 0; k < 32; ++k) m |= std::uint32_t{unit_at(b + 2 * k) == 0} << k;
    return m;
}

inline std::uint32_t zero_units(const unsigned char* b) {
#if defined(VORLANG_SSE2_MASKS)
    const __m128i zero = _mm_setzero_si128();
    std::uint32_t m = 0;
    for (unsigned h = 0; h < 2; ++h) {
        const auto* v = reinterpret_cast<const __m128i*>(b + 32 * h);
        // 0xffff per zero unit, packed with signed saturation into 0xff.
        __m128i z = _mm_packs_epi16(_mm_cmpeq_epi16(_mm_loadu_si128(v), zero),
                                    _mm_cmpeq_epi16(_mm_loadu_si128(v + 1), zero));
        m |= static_cast<std::uint32_t>(_mm_movemask_epi8(z)) << (16 * h);
    }
    return m;
#else
    return zero_units_portable(b);
#endif
}

struct UnitRange {
    std::uint16_t lo;
    std::uint16_t span;
};

// Bit k is set when the unit before b + 2k is at most before_max, the unit
// at it lies in at and the unit after it in after. Reads b - 2 to b + 66.
inline std::uint32_t unit_triples_portable(const unsigned char* b, std::uint16_t before_max, UnitRange at,
                                           UnitRange after) {
    std::uint32_t m = 0;
    for (unsigned k = 0; k < 32; ++k) {
        const unsigned char* u = b + 2 * k;
        bool hit = unit_at(u - 2) <= before_max && unit_in_range(unit_at(u), at.lo, at.span) &&
                   unit_in_range(unit_at(u + 2), after.lo, after.span);
        m |= std::uint32_t{hit} << k;
    }
    return m;
}

// A byte test that every unit passes that passes the unit test lo to
// lo + span (unit_byte gives the unit's byte): exact when the range lies in
// 1 to 254, all bytes otherwise.
inline UnitRange byte_range(UnitRange r) {
    if (r.lo >= 1 && r.lo + r.span <= 254) return r;
    return UnitRange{0, 255};
}

// A unit as the vector test below packs it into a byte: units up to 255 are
// themselves, 256 to 0x7fff become 255 and 0x8000 and up 0 (a signed
// saturation).
inline unsigned char unit_byte(std::uint16_t u) {
    return u < 256 ? static_cast<unsigned char>(u) : u < 0x8000 ? 255 : 0;
}

// unit_triples_portable with the units packed into bytes and its constants
// made once, for a loop over chunks. Its mask holds every bit of
// unit_triples_portable's; more only where a unit outside its range packs
// into a byte inside it (a unit before of 0x8000 or more packs into 0), and
// none more when before_max is 0xffff and the ranges lie in 1 to 254 or
// hold every unit. Example: with before_max 40, at and after 0x21 to 0x7e,
// the units 00 00 | 46 00 | 69 00 at b - 2 pack into the bytes 00, 46, 69:
// 00 <= 40, and 46 and 69 lie in 0x21 to 0x7e, so bit 0 is set; the units
// 00 00 | 46 01 | 69 00 pack into 00, ff, 69 and 0xff fails.
class UnitTriples {
public:
    UnitTriples(std::uint16_t before_max, UnitRange at, UnitRange after)
        : before_max_(static_cast<unsigned char>(before_max < 255 ? before_max : 255)),
          at_(byte_range(at)),
          after_(byte_range(after))
#if defined(VORLANG_SSE2_MASKS)
          ,
          v_before_max_(set(before_max_)),
          v_at_lo_(set(at_.lo)),
          v_at_span_(set(at_.span)),
          v_after_lo_(set(after_.lo)),
          v_after_span_(set(after_.span))
#endif
    {
    }

    std::uint32_t operator()(const unsigned char* b) const {
#if defined(VORLANG_SSE2_MASKS)
        const __m128i zero = _mm_setzero_si128();
        __m128i hit[2];
        for (unsigned h = 0; h < 2; ++h) {
            const unsigned char* v = b + 32 * h;  // units 16h to 16h + 15
            __m128i before = _mm_packus_epi16(load(v - 2), load(v + 14));
            __m128i at = _mm_packus_epi16(load(v), load(v + 16));
            __m128i after = _mm_packus_epi16(load(v + 2), load(v + 18));
            // 0 in a byte where all three lie in their ranges.
            __m128i over = _mm_subs_epu8(before, v_before_max_);
            over = _mm_or_si128(over, _mm_subs_epu8(_mm_sub_epi8(at, v_at_lo_), v_at_span_));
            over = _mm_or_si128(over, _mm_subs_epu8(_mm_sub_epi8(after, v_after_lo_), v_after_span_));
            hit[h] = _mm_cmpeq_epi8(over, zero);
        }
        auto lo = static_cast<std::uint32_t>(_mm_movemask_epi8(hit[0]));
        auto hi = static_cast<std::uint32_t>(_mm_movemask_epi8(hit[1]));
        return lo | hi << 16;
#else
        return packed(b);
#endif
    }

    // The same test a unit at a time, which a machine without SSE2 runs.
    std::uint32_t packed(const unsigned char* b) const {
        std::uint32_t m = 0;
        for (unsigned k = 0; k < 32; ++k) {
            const unsigned char* u = b + 2 * k;
            bool hit = unit_byte(unit_at(u - 2)) <= before_max_ &&
                       byte_in_range(unit_byte(unit_at(u)), static_cast<unsigned char>(at_.lo),
                                     static_cast<unsigned char>(at_.span)) &&
                       byte_in_range(unit_byte(unit_at(u + 2)), static_cast<unsigned char>(after_.lo),
                                     static_cast<unsigned char>(after_.span));
            m |= std::uint32_t{hit} << k;
        }
        return m;
    }

    // The first chunk from b on (b, b + 64, ... up to last) whose mask is not
    // 0, with that mask in may and its zero_units in zeros (made only for
    // that chunk, from the units just loaded); past last when there is none.
    // Not inlined, so that the loop keeps the constants in registers.
    [[gnu::noinline]] const unsigned char* skip(const unsigned char* b, const unsigned char* last, std::uint32_t& may,
                                                std::uint32_t& zeros) const {
        for (; b <= last; b += 64) {
            may = (*this)(b);
            if (may != 0) {
                zeros = zero_units(b);
                break;
            }
        }
        return b;
    }

private:
    unsigned char before_max_;
    UnitRange at_;
    UnitRange after_;
#if defined(VORLANG_SSE2_MASKS)
    static __m128i set(std::uint16_t byte) { return _mm_set1_epi8(static_cast<char>(byte)); }
    static __m128i load(const unsigned char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
    __m128i v_before_max_, v_at_lo_, v_at_span_, v_after_lo_, v_after_span_;
#endif
};
