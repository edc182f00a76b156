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

// Bit 2k is set when the unit at b + 2k lies in lo to lo + span; odd bits are 0.
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
    std::uint64_t m = 0;
    for (unsigned k = 0; k < 32; ++k) {
        auto u = static_cast<std::uint16_t>(b[2 * k] | b[2 * k + 1] << 8);
        m |= std::uint64_t{unit_in_range(u, lo, span)} << (2 * k);
    }
    return m;
#endif
}
