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
// Doubles gives, for vectors of Size doubles and masks of lanes: Splat, Load (Size doubles), Widen
// (Size bytes as doubles), Add, Sub, Mul, BlueLanes(first, blue) (the lanes of a vector of bytes
// first on that hold blue, every third from byte blue), Blend (blue's lanes from the second, the
// others from the first) and StoreLowBytes (each lane truncated toward zero, its low byte stored).
#include "blur_arithmetic.hpp"
#include "kernels.hpp"

#include <cstddef>
#include <cstdint>

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

// Size bytes of a scaled row from byte k on, blue in blue's lanes: the plain path's sums, term
// for term in the same order, so the same bits.
template <class Doubles>
DORVANE_WIDE_TARGET __attribute__((always_inline)) inline void
ScaleLanes(const ScaleNeighbours& neighbours, const double* fx, typename Doubles::Vector fy,
           typename Doubles::Mask blue, std::size_t k, std::uint8_t* out) {
    using D = Doubles;
    const auto x = D::Load(fx + k);
    const auto w11 = D::Mul(x, fy);
    const auto w00 = D::Add(D::Sub(D::Sub(D::Splat(1.0), x), fy), w11);
    const auto w01 = D::Sub(fy, w11);
    const auto w10 = D::Sub(x, w11);
    const auto t10 = D::Mul(D::Widen(neighbours.Upper1 + k), w10);
    const auto t01 = D::Mul(D::Widen(neighbours.Lower0 + k), w01);
    const auto t11 = D::Mul(D::Widen(neighbours.Lower1 + k), w11);
    const auto t00 = D::Mul(D::Widen(neighbours.Upper0 + k), w00);
    const auto redGreen = D::Add(D::Add(D::Add(t10, t01), t11), t00);
    const auto blues = D::Add(D::Add(D::Add(t11, t00), t10), t01);
    D::StoreLowBytes(D::Blend(blue, redGreen, blues), out + k);
}

// ScaleRow's vector body: runs of three vectors, which hold Size pixels whose blue lanes are the
// same in every run. Returns how many bytes it made, for the plain tail to go on from.
template <class Doubles>
DORVANE_WIDE_TARGET std::size_t WideScaleBytes(const ScaleNeighbours& neighbours, const double* fx,
                                               double fy, std::size_t blue, std::size_t count,
                                               std::uint8_t* out) {
    constexpr std::size_t Size = Doubles::Size;
    const typename Doubles::Mask blues[3] = {Doubles::BlueLanes(0, blue),
                                             Doubles::BlueLanes(Size, blue),
                                             Doubles::BlueLanes(2 * Size, blue)};
    const auto y = Doubles::Splat(fy);
    // A copy, which the stores to out cannot touch: the pointers stay in registers.
    const ScaleNeighbours rows = neighbours;
    std::size_t k = 0;
    for (; k + 3 * Size <= count; k += 3 * Size) {
        ScaleLanes<Doubles>(rows, fx, y, blues[0], k, out);
        ScaleLanes<Doubles>(rows, fx, y, blues[1], k + Size, out);
        ScaleLanes<Doubles>(rows, fx, y, blues[2], k + 2 * Size, out);
    }
    return k;
}

} // namespace
} // namespace dorvane::vectors
