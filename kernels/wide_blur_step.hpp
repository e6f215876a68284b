#pragma once

// The blur's step and the scaling's row of the wide x86-64 paths, each written once over the
// vector width. avx2.cpp and
// avx512.cpp each define DORVANE_WIDE_TARGET, their target attribute, before including it: a
// template cannot take its target from its arguments, and code built for no target may not inline
// the intrinsics. Hence the unnamed namespace, so that each file has a copy of its own.
//
// Width gives, for vectors of Size 16-bit lanes and masks of lanes: Splat, TapLoad (the window
// cells at column a, row b of the lanes from a ring row), Add, Times, Quotients (by 159, as
// blur::Reciprocal and blur::QuotientShift give them), Equal, Tested (the lanes with any of the
// bits set), And, Any, Visit (the lanes whose bit is set, from bit 0), Select, ExactLanes (the
// held lanes set as the chain sets them) and Store (the lanes as bytes).
//
// Doubles gives, for vectors of Size doubles, 4 or 8: Splat, Load (Size doubles), Widen (Size bytes
// as doubles), Add, Sub, Mul and LowBytes (each lane truncated toward zero, the low bytes of the
// lanes the first of 16 bytes).
#include "blur_arithmetic.hpp"
#include "kernels.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <immintrin.h>

#if !defined(DORVANE_WIDE_TARGET)
#error "define DORVANE_WIDE_TARGET, the path's target attribute, before including this file"
#endif

namespace dorvane::vectors {
namespace {

// One step: vectors of lanes, whose window sums gather the 25 taps by weight, each tap a read at
// its fixed place in the ring (the cells smoothed at the two steps before included), then divide
// by 159. Where every lane visits a cell, as in all but the first and last steps of a strip, no
// lane needs masking.
template <class Width, bool AllVisit>
DORVANE_WIDE_TARGET __attribute__((always_inline)) inline void WideStep(std::uint64_t visited,
                                                                        std::uint8_t* row) {
    using Vector = typename Width::Vector;
    constexpr std::size_t Size = Width::Size;
    constexpr std::size_t Vectors = Lanes / Size;
    Vector results[Vectors];
    for (std::size_t j = 0; j < Vectors; ++j) {
        const std::uint8_t* lanes = row + Size * j;
        const Vector corners =
            Width::Add(Width::Add(Width::TapLoad(lanes, 0, 0), Width::TapLoad(lanes, 0, 4)),
                       Width::Add(Width::TapLoad(lanes, 4, 0), Width::TapLoad(lanes, 4, 4)));
        const Vector edges = Width::Add(
            Width::Add(Width::Add(Width::TapLoad(lanes, 0, 1), Width::TapLoad(lanes, 0, 3)),
                       Width::Add(Width::TapLoad(lanes, 1, 0), Width::TapLoad(lanes, 1, 4))),
            Width::Add(Width::Add(Width::TapLoad(lanes, 3, 0), Width::TapLoad(lanes, 3, 4)),
                       Width::Add(Width::TapLoad(lanes, 4, 1), Width::TapLoad(lanes, 4, 3))));
        const Vector middles =
            Width::Add(Width::Add(Width::TapLoad(lanes, 0, 2), Width::TapLoad(lanes, 2, 0)),
                       Width::Add(Width::TapLoad(lanes, 2, 4), Width::TapLoad(lanes, 4, 2)));
        const Vector diagonals =
            Width::Add(Width::Add(Width::TapLoad(lanes, 1, 1), Width::TapLoad(lanes, 1, 3)),
                       Width::Add(Width::TapLoad(lanes, 3, 1), Width::TapLoad(lanes, 3, 3)));
        const Vector crosses =
            Width::Add(Width::Add(Width::TapLoad(lanes, 1, 2), Width::TapLoad(lanes, 2, 1)),
                       Width::Add(Width::TapLoad(lanes, 2, 3), Width::TapLoad(lanes, 3, 2)));
        const Vector centre = Width::TapLoad(lanes, 2, 2);
        const Vector sum =
            Width::Add(Width::Add(Width::Add(Width::Times(corners, blur::Weight(0, 0)),
                                             Width::Times(edges, blur::Weight(0, 1))),
                                  Width::Add(Width::Times(middles, blur::Weight(0, 2)),
                                             Width::Times(diagonals, blur::Weight(1, 1)))),
                       Width::Add(Width::Times(crosses, blur::Weight(1, 2)),
                                  Width::Times(centre, blur::Weight(2, 2))));
        const Vector quotient = Width::Quotients(sum);
        // ChainDecides: (quotient + 1) & 0xFE is 0 only for 0 and 255.
        auto held = Width::And(Width::Equal(sum, Width::Times(quotient, blur::KernelSum)),
                               Width::Tested(Width::Add(quotient, Width::Splat(1)), 0xFE));
        results[j] = quotient;
        if constexpr (!AllVisit) {
            const auto visit = Width::Visit(visited >> (Size * j));
            held = Width::And(held, visit);
            results[j] = Width::Select(visit, quotient, centre);
        }
        if (Width::Any(held)) {
            results[j] = Width::ExactLanes(lanes, held, results[j]);
        }
    }
    Width::Store(results, row + 2);
}

template <class Width>
DORVANE_WIDE_TARGET __attribute__((always_inline)) inline void WideBlurStep(std::uint64_t visited,
                                                                            std::uint8_t* row) {
    if (visited == ~std::uint64_t{0}) {
        WideStep<Width, true>(visited, row);
    } else {
        WideStep<Width, false>(visited, row);
    }
}

// Four doubles a vector: the AVX2 path's scaling, and the blues of the AVX-512 path's groups.
struct FourDoubles {
    using Vector = __m256d;
    static constexpr std::size_t Size = 4;

    DORVANE_WIDE_TARGET static __m256d Splat(double value) { return _mm256_set1_pd(value); }
    DORVANE_WIDE_TARGET static __m256d Load(const double* values) {
        return _mm256_loadu_pd(values);
    }
    // Each byte b under the bits of 2^52, which makes the double 2^52 + b, less 2^52: exact, and
    // fewer operations than a conversion.
    DORVANE_WIDE_TARGET static __m256d Widen(const std::uint8_t* bytes) {
        std::int32_t four = 0;
        std::memcpy(&four, bytes, sizeof four);
        const __m256d twoTo52 = _mm256_set1_pd(0x1p52);
        const __m256i bits = _mm256_or_si256(_mm256_cvtepu8_epi64(_mm_cvtsi32_si128(four)),
                                             _mm256_castpd_si256(twoTo52));
        return _mm256_sub_pd(_mm256_castsi256_pd(bits), twoTo52);
    }
    DORVANE_WIDE_TARGET static __m256d Add(__m256d a, __m256d b) { return _mm256_add_pd(a, b); }
    DORVANE_WIDE_TARGET static __m256d Sub(__m256d a, __m256d b) { return _mm256_sub_pd(a, b); }
    DORVANE_WIDE_TARGET static __m256d Mul(__m256d a, __m256d b) { return _mm256_mul_pd(a, b); }
    DORVANE_WIDE_TARGET static __m128i LowBytes(__m256d sums) {
        return _mm_shuffle_epi8(
            _mm256_cvttpd_epi32(sums),
            _mm_setr_epi8(0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1));
    }
};

// Size gathered bytes of a scaled row from byte k on, all blue or none: the plain path's sums,
// term for term in the same order, so the same bits.
template <class Doubles, bool Blue>
DORVANE_WIDE_TARGET __attribute__((always_inline)) inline typename Doubles::Vector
ScaleSums(const ScaleNeighbours& neighbours, const double* fx, double fy, std::size_t k) {
    using D = Doubles;
    const auto x = D::Load(fx + k);
    const auto y = D::Splat(fy);
    const auto w11 = D::Mul(x, y);
    const auto w00 = D::Add(D::Sub(D::Sub(D::Splat(1.0), x), y), w11);
    const auto w01 = D::Sub(y, w11);
    const auto w10 = D::Sub(x, w11);
    const auto t10 = D::Mul(D::Widen(neighbours.Upper1 + k), w10);
    const auto t01 = D::Mul(D::Widen(neighbours.Lower0 + k), w01);
    const auto t11 = D::Mul(D::Widen(neighbours.Lower1 + k), w11);
    const auto t00 = D::Mul(D::Widen(neighbours.Upper0 + k), w00);
    if constexpr (Blue) {
        return D::Add(D::Add(D::Add(t11, t00), t10), t01);
    } else {
        return D::Add(D::Add(D::Add(t10, t01), t11), t00);
    }
}

// ScaleRow's vector body: whole groups of four pixels, whose eight other bytes Doubles sums and
// whose four blues FourDoubles does, the twelve bytes then put in the pixels' order. Returns how
// many bytes it made, for the plain tail to go on from.
template <class Doubles>
DORVANE_WIDE_TARGET std::size_t WideScaleBytes(const ScaleNeighbours& neighbours, const double* fx,
                                               double fy, std::size_t blue, std::size_t count,
                                               std::uint8_t* out) {
    // From the eight other bytes and then the four blues to the pixels' order.
    std::array<std::uint8_t, 16> order{};
    order.fill(0x80);
    for (std::size_t k = 0; k < 12; ++k) {
        const GatheredByte at = GatheredAt(k, blue);
        order[3 * at.Pixel + at.Channel] = static_cast<std::uint8_t>(k);
    }
    const __m128i toPixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(order.data()));
    // A copy, which the stores to out cannot touch: the pointers stay in registers.
    const ScaleNeighbours rows = neighbours;
    // Sixteen bytes stored a group, the last four made again by the next: the last group is the
    // plain tail's.
    std::size_t k = 0;
    for (; k + 16 <= count; k += 12) {
        __m128i others;
        if constexpr (Doubles::Size == 8) {
            others = Doubles::LowBytes(ScaleSums<Doubles, false>(rows, fx, fy, k));
        } else {
            others = _mm_unpacklo_epi32(
                Doubles::LowBytes(ScaleSums<Doubles, false>(rows, fx, fy, k)),
                Doubles::LowBytes(ScaleSums<Doubles, false>(rows, fx, fy, k + 4)));
        }
        const __m128i blues =
            FourDoubles::LowBytes(ScaleSums<FourDoubles, true>(rows, fx, fy, k + 8));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k),
                         _mm_shuffle_epi8(_mm_unpacklo_epi64(others, blues), toPixels));
    }
    return k;
}

} // namespace
} // namespace dorvane::vectors
