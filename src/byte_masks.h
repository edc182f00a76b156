// Bit masks over 64 bytes at a time, bit k standing for byte k: which bytes
// are 0, and which lie in a range of byte values; and over the 32 16-bit
// little-endian units in them, bit 2k standing for unit k. The translator
// builds every test it makes of a block from these.
#pragma once

#include <cstdint>

#if defined(__SSE2__)
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
#if defined(__SSE2__)
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

inline bool unit_in_range(std::uint16_t u, std::uint16_t lo, std::uint16_t span) {
    return static_cast<std::uint16_t>(u - lo) <= span;
}

inline std::uint16_t unit_le(const unsigned char* b) { return static_cast<std::uint16_t>(b[0] | b[1] << 8); }

// Bit 2k is set when the unit at b + 2k lies in lo to lo + span; odd bits are 0.
inline std::uint64_t units_in_range_portable(const unsigned char* b, std::uint16_t lo, std::uint16_t span) {
    std::uint64_t m = 0;
    for (unsigned k = 0; k < 32; ++k) m |= std::uint64_t{unit_in_range(unit_le(b + 2 * k), lo, span)} << (2 * k);
    return m;
}

inline std::uint64_t units_in_range(const unsigned char* b, std::uint16_t lo, std::uint16_t span) {
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i low = _mm_set1_epi16(static_cast<short>(lo));
    const __m128i width = _mm_set1_epi16(static_cast<short>(span));
    std::uint64_t m = 0;
    for (unsigned q = 0; q < 4; ++q) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 16 * q));
        __m128i over = _mm_subs_epu16(_mm_sub_epi16(v, low), width);  // 0 where in range
        auto r = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi16(over, zero)));
        m |= std::uint64_t{r} << (16 * q);
    }
    return m & 0x5555555555555555ULL;
#else
    return units_in_range_portable(b, lo, span);
#endif
}

struct UnitRange {
    std::uint16_t lo;
    std::uint16_t span;
};

// Bit 2k is set when the unit before b + 2k is at most before_max, the unit
// at it lies in at and the unit after it in after; odd bits are 0. Reads
// b - 2 to b + 66.
inline std::uint64_t unit_triples_portable(const unsigned char* b, std::uint16_t before_max, UnitRange at,
                                           UnitRange after) {
    return units_in_range_portable(b - 2, 0, before_max) & units_in_range_portable(b, at.lo, at.span) &
           units_in_range_portable(b + 2, after.lo, after.span);
}

// unit_triples_portable with its constants made once, for a loop over chunks.
class UnitTriples {
public:
    UnitTriples(std::uint16_t before_max, UnitRange at, UnitRange after)
#if defined(__SSE2__)
        : before_max_(_mm_set1_epi16(static_cast<short>(before_max))),
          at_lo_(_mm_set1_epi16(static_cast<short>(at.lo))),
          at_span_(_mm_set1_epi16(static_cast<short>(at.span))),
          after_lo_(_mm_set1_epi16(static_cast<short>(after.lo))),
          after_span_(_mm_set1_epi16(static_cast<short>(after.span))) {}
#else
        : before_max_(before_max), at_(at), after_(after) {}
#endif

    std::uint64_t operator()(const unsigned char* b) const {
#if defined(__SSE2__)
        const __m128i zero = _mm_setzero_si128();
        __m128i hit[4];
        __m128i any = zero;
        for (unsigned q = 0; q < 4; ++q) {
            const unsigned char* v = b + 16 * q;
            // 0 in a unit where all three lie in their ranges.
            __m128i over = _mm_subs_epu16(load(v - 2), before_max_);
            over = _mm_or_si128(over, _mm_subs_epu16(_mm_sub_epi16(load(v), at_lo_), at_span_));
            over = _mm_or_si128(over, _mm_subs_epu16(_mm_sub_epi16(load(v + 2), after_lo_), after_span_));
            hit[q] = _mm_cmpeq_epi16(over, zero);
            any = _mm_or_si128(any, hit[q]);
        }
        if (_mm_movemask_epi8(any) == 0) return 0;  // most chunks
        std::uint64_t m = 0;
        for (unsigned q = 0; q < 4; ++q) {
            m |= std::uint64_t{static_cast<std::uint32_t>(_mm_movemask_epi8(hit[q]))} << (16 * q);
        }
        return m & 0x5555555555555555ULL;
#else
        return unit_triples_portable(b, before_max_, at_, after_);
#endif
    }

    // The first chunk from b on (b, b + 64, ... up to last) whose mask is not
    // 0, with that mask in may; past last when there is none.
    const unsigned char* skip(const unsigned char* b, const unsigned char* last, std::uint64_t& may) const {
        for (; b <= last; b += 64) {
            may = (*this)(b);
            if (may != 0) break;
        }
        return b;
    }

private:
#if defined(__SSE2__)
    static __m128i load(const unsigned char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
    __m128i before_max_, at_lo_, at_span_, after_lo_, after_span_;
#else
    std::uint16_t before_max_;
    UnitRange at_, after_;
#endif
};
