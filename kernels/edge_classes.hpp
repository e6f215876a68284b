#pragma once

// The edge map's kernels down a column, in plain C++ that the compiler turns into vector code for
// each path that takes them as they are (the 128-bit path and AVX2 make the classes their own way).
//
// Of the edge stages only the magnitudes reach the map: hysteresis overwrites every cell it visits
// from MagnitudePlane alone, and the frame it leaves is background. And of a magnitude only its
// class counts: above the high threshold (strong), at the thresholds or between them (an edge
// beside a strong cell), strictly between them (an edge two cells from one too).
#include "edge_thresholds.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

namespace dorvane::vectors {

// The bits of a cell's class.
inline constexpr std::uint8_t StrongClass = 1; // magnitude above HysteresisHigh
inline constexpr std::uint8_t NearClass = 2;   // HysteresisLow or more: a strong cell in 3 x 3
inline constexpr std::uint8_t FarClass = 4;    // strictly between the thresholds: in 5 x 5 too

// A gradient component beyond this makes a strong cell whatever the other is, so components are
// clamped to it: the squares' sum then stays below 2^14, a 16-bit lane's.
inline constexpr std::int32_t GradientClamp = HysteresisHigh + 1;

// The truncated float root of the sum s of two squares is at least k exactly when s >= k * k,
// for every k up to GradientClamp: a root just below a whole number stays below it in float
// (the tests prove it for every gradient a byte picture has).
constexpr std::int16_t SquareOf(std::int32_t k) {
    return static_cast<std::int16_t>(k * k);
}

// The class of the cell whose column and row gradients are gc and gr. Signed 16-bit lanes
// throughout, which every vector path compares.
[[gnu::always_inline]] inline std::uint8_t EdgeClassOf(std::int16_t gc, std::int16_t gr) {
    constexpr auto clamp = static_cast<std::int16_t>(GradientClamp);
    const auto c = std::min(static_cast<std::int16_t>(gc < 0 ? -gc : gc), clamp);
    const auto r = std::min(static_cast<std::int16_t>(gr < 0 ? -gr : gr), clamp);
    const auto s = static_cast<std::int16_t>(c * c + r * r);
    const bool strong = s >= SquareOf(HysteresisHigh + 1);
    const bool near = s >= SquareOf(HysteresisLow);
    const bool far = s >= SquareOf(HysteresisLow + 1) && s < SquareOf(HysteresisHigh);
    return static_cast<std::uint8_t>((strong ? StrongClass : 0) | (near ? NearClass : 0) |
                                     (far ? FarClass : 0));
}

// Kernels::EdgeClasses (kernels.hpp).
[[gnu::always_inline]] inline void EdgeClassesOf(const std::array<const std::uint8_t*, 3>& columns,
                                                 std::size_t count,
                                                 std::uint8_t* __restrict classes) {
    const std::uint8_t* __restrict left = columns[0];
    const std::uint8_t* __restrict centre = columns[1];
    const std::uint8_t* __restrict right = columns[2];
    const auto rows = static_cast<std::ptrdiff_t>(count);
    for (std::ptrdiff_t i = 0; i < rows; ++i) {
        // Sums of three bytes weighted 1, 2, 1 stay within 16 bits, and so do their differences.
        const auto leftSum = static_cast<std::int16_t>(left[i - 1] + 2 * left[i] + left[i + 1]);
        const auto rightSum = static_cast<std::int16_t>(right[i - 1] + 2 * right[i] + right[i + 1]);
        const auto above =
            static_cast<std::int16_t>(left[i - 1] + 2 * centre[i - 1] + right[i - 1]);
        const auto below =
            static_cast<std::int16_t>(left[i + 1] + 2 * centre[i + 1] + right[i + 1]);
        classes[i] = EdgeClassOf(static_cast<std::int16_t>(leftSum - rightSum),
                                 static_cast<std::int16_t>(below - above));
    }
}

// Kernels::EdgeMap (kernels.hpp).
[[gnu::always_inline]] inline void EdgeMapOf(const std::array<const std::uint8_t*, 5>& classes,
                                             std::size_t count, std::uint8_t* __restrict map) {
    const std::uint8_t* __restrict c0 = classes[0];
    const std::uint8_t* __restrict c1 = classes[1];
    const std::uint8_t* __restrict c2 = classes[2];
    const std::uint8_t* __restrict c3 = classes[3];
    const std::uint8_t* __restrict c4 = classes[4];
    const auto rows = static_cast<std::ptrdiff_t>(count);
    for (std::ptrdiff_t i = 0; i < rows; ++i) {
        // The strong bits of the 3 x 3 and the 5 x 5 block, row by row.
        std::uint8_t near = 0;
        std::uint8_t far = 0;
        for (std::ptrdiff_t d = -2; d <= 2; ++d) {
            const auto middle = static_cast<std::uint8_t>(c1[i + d] | c2[i + d] | c3[i + d]);
            near = static_cast<std::uint8_t>(near | (d == -2 || d == 2 ? 0 : middle));
            far = static_cast<std::uint8_t>(far | middle | c0[i + d] | c4[i + d]);
        }
        const std::uint8_t centre = c2[i];
        const auto edge = static_cast<std::uint8_t>(((centre / NearClass) & near & StrongClass) |
                                                    ((centre / FarClass) & far & StrongClass));
        // 1 (an edge) gives EdgeCell, 0 BackgroundCell.
        map[i] = static_cast<std::uint8_t>(edge - 1);
    }
}
static_assert(EdgeCell == 0 && BackgroundCell == 255);

} // namespace dorvane::vectors
