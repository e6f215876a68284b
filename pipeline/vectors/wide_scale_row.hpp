#pragma once

// The scaling's row on the wide x86-64 paths, written once over the vector width, included as
// wide_blur_step.hpp is: after DORVANE_WIDE_TARGET, the path's target attribute.
//
// Doubles gives, for vectors of Size doubles and masks of lanes: Splat, Load (Size doubles), Widen
// (Size bytes as doubles), Add, Sub, Mul, BlueLanes(first, blue) (the lanes of a vector of bytes
// first on that hold blue, every third from byte blue), Blend (blue's lanes from the second, the
// others from the first) and StoreLowBytes (each lane truncated toward zero, its low byte stored).
#include "kernels.hpp"

#include <cstddef>
#include <cstdint>

#if !defined(DORVANE_WIDE_TARGET)
#error "define DORVANE_WIDE_TARGET, the path's target attribute, before including this file"
#endif

namespace dorvane::vectors {
namespace {

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
    std::size_t k = 0;
    for (; k + 3 * Size <= count; k += 3 * Size) {
        ScaleLanes<Doubles>(neighbours, fx, y, blues[0], k, out);
        ScaleLanes<Doubles>(neighbours, fx, y, blues[1], k + Size, out);
        ScaleLanes<Doubles>(neighbours, fx, y, blues[2], k + 2 * Size, out);
    }
    return k;
}

} // namespace
} // namespace dorvane::vectors
