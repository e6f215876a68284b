#pragma once

// A set of byte values as 256 bits, which the vector paths look up sixteen lanes at a time: the
// few values where an exact result is one less than the quick one.
#include "avx2_clones.hpp"

#include <array>
#include <cstddef>
#include <cstdint>

#ifdef DORVANE_X86_VECTORS
#include <immintrin.h>
#endif

namespace dorvane {

// Bit v % 8 of byte v / 8 is set where v is in the set.
using ByteSet = std::array<std::uint8_t, 32>;

// The values v of 0..255 for which has(v) holds.
template <class Has> ByteSet ByteSetOf(const Has& has) {
    ByteSet bits{};
    for (std::size_t v = 0; v < 256; ++v) {
        if (has(static_cast<std::uint8_t>(v))) {
            bits[v / 8] = static_cast<std::uint8_t>(bits[v / 8] | 1U << (v % 8));
        }
    }
    return bits;
}

#ifdef DORVANE_X86_VECTORS
// All ones in each 16-bit lane whose value, 0..255, is in set; zero in the others.
__attribute__((target("avx2"))) inline __m256i LanesIn(const ByteSet& set, __m256i values) {
    // Byte v / 8 by two table lookups, the fifth bit of the index choosing the table; then bit
    // v % 8 of it. Only the low byte of each lane counts.
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(set.data()));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(set.data() + 16));
    const __m256i index = _mm256_srli_epi16(values, 3);
    const __m256i bytes = _mm256_blendv_epi8(
        _mm256_shuffle_epi8(_mm256_broadcastsi128_si256(low), index),
        _mm256_shuffle_epi8(_mm256_broadcastsi128_si256(high), index), _mm256_slli_epi16(index, 3));
    const __m256i bit = _mm256_and_si256(
        _mm256_shuffle_epi8(_mm256_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 0, 0, 0, 0, 0, 0, 0, 0,
                                             1, 2, 4, 8, 16, 32, 64, -128, 0, 0, 0, 0, 0, 0, 0, 0),
                            _mm256_and_si256(values, _mm256_set1_epi16(7))),
        _mm256_set1_epi16(0xFF));
    return _mm256_cmpeq_epi16(_mm256_and_si256(bytes, bit), bit);
}
#endif

} // namespace dorvane
