#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace dorvane {

// Sixteen runs of sixteen bytes each, by their first bytes.
using ByteRuns = std::array<const std::uint8_t*, 16>;
using ByteRunsOut = std::array<std::uint8_t*, 16>;

// Byte j of out[i] becomes byte i of in[j]: sixteen rows become sixteen columns. The job moves
// pictures between rows (files) and columns (the blur) sixteen by sixteen.
inline void TransposeBytes(const ByteRuns& in, const ByteRunsOut& out) {
#if defined(__SSE2__)
    // Four rounds of interleaving, bytes, then pairs, fours and eights.
    __m128i a[16]; // std::array drops the vector type's alignment attribute
    __m128i b[16];
    for (std::size_t i = 0; i < 16; ++i) {
        a[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in[i]));
    }
    for (std::size_t k = 0; k < 8; ++k) {
        b[2 * k] = _mm_unpacklo_epi8(a[2 * k], a[2 * k + 1]);
        b[2 * k + 1] = _mm_unpackhi_epi8(a[2 * k], a[2 * k + 1]);
    }
    for (std::size_t m = 0; m < 4; ++m) {
        a[4 * m] = _mm_unpacklo_epi16(b[4 * m], b[4 * m + 2]);
        a[4 * m + 1] = _mm_unpackhi_epi16(b[4 * m], b[4 * m + 2]);
        a[4 * m + 2] = _mm_unpacklo_epi16(b[4 * m + 1], b[4 * m + 3]);
        a[4 * m + 3] = _mm_unpackhi_epi16(b[4 * m + 1], b[4 * m + 3]);
    }
    for (std::size_t p = 0; p < 2; ++p) {
        for (std::size_t q = 0; q < 4; ++q) {
            b[8 * p + 2 * q] = _mm_unpacklo_epi32(a[8 * p + q], a[8 * p + 4 + q]);
            b[8 * p + 2 * q + 1] = _mm_unpackhi_epi32(a[8 * p + q], a[8 * p + 4 + q]);
        }
    }
    for (std::size_t c = 0; c < 8; ++c) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out[2 * c]),
                         _mm_unpacklo_epi64(b[c], b[8 + c]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out[2 * c + 1]),
                         _mm_unpackhi_epi64(b[c], b[8 + c]));
    }
#else
    for (std::size_t i = 0; i < 16; ++i) {
        for (std::size_t j = 0; j < 16; ++j) {
            out[i][j] = in[j][i];
        }
    }
#endif
}

} // namespace dorvane
