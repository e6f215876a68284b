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

// Kernels::EdgeClasses (kernels.hpp). A chunk of rows at a time: first, for each row, the sum
// of its three grays weighted 1, 2, 1 and the difference of its outer two, which the gradients
// of the rows above and below it share.
[[gnu::always_inline]] inline void EdgeClassesOf(const std::array<const std::uint8_t*, 3>& columns,
                                                 std::size_t count,
                                                 std::uint8_t* __restrict classes) {
    const std::uint8_t* __restrict left = columns[0];
    const std::uint8_t* __restrict centre = columns[1];
    const std::uint8_t* __restrict right = columns[2];
    constexpr std::ptrdiff_t Chunk = 256;
    // Rows first - 1 .. first + Chunk. Sums of three bytes weighted 1, 2, 1 stay within 16 bits,
    // and so do their differences.
    alignas(64) std::array<std::int16_t, Chunk + 2> acrossRows;
    alignas(64) std::array<std::int16_t, Chunk + 2> outerRows;
    std::int16_t* const across = acrossRows.data();
    std::int16_t* const outer = outerRows.data();
    const auto rows = static_cast<std::ptrdiff_t>(count);
    for (std::ptrdiff_t first = 0; first < rows; first += Chunk) {
        const std::ptrdiff_t cells = std::min(Chunk, rows - first);
        for (std::ptrdiff_t j = 0; j < cells + 2; ++j) {
            const std::ptrdiff_t i = first + j - 1;
            across[j] = static_cast<std::int16_t>(left[i] + 2 * centre[i] + right[i]);
            outer[j] = static_cast<std::int16_t>(left[i] - right[i]);
        }
        for (std::ptrdiff_t j = 0; j < cells; ++j) {
            classes[first + j] =
                EdgeClassOf(static_cast<std::int16_t>(outer[j] + 2 * outer[j + 1] + outer[j + 2]),
                            static_cast<std::int16_t>(across[j + 2] - across[j]));
        }
    }
}

// Kernels::EdgeMap (kernels.hpp). A chunk of rows at a time, the classes of each row first
// gathered across the three middle columns and across all five, so that each of the 25 classes
// of a block is read once rather than once for every cell of the map it reaches.
[[gnu::always_inline]] inline void EdgeMapOf(const std::array<const std::uint8_t*, 5>& classes,
                                             std::size_t count, std::uint8_t* __restrict map) {
    const std::uint8_t* __restrict c0 = classes[0];
    const std::uint8_t* __restrict c1 = classes[1];
    const std::uint8_t* __restrict c2 = classes[2];
    const std::uint8_t* __restrict c3 = classes[3];
    const std::uint8_t* __restrict c4 = classes[4];
    constexpr std::ptrdiff_t Chunk = 256;
    // Rows first - 2 .. first + Chunk + 1.
    alignas(64) std::array<std::uint8_t, Chunk + 4> middleRows;
    alignas(64) std::array<std::uint8_t, Chunk + 4> wholeRows;
    std::uint8_t* const middle = middleRows.data();
    std::uint8_t* const whole = wholeRows.data();
    const auto rows = static_cast<std::ptrdiff_t>(count);
    for (std::ptrdiff_t first = 0; first < rows; first += Chunk) {
        const std::ptrdiff_t cells = std::min(Chunk, rows - first);
        for (std::ptrdiff_t j = 0; j < cells + 4; ++j) {
            const std::ptrdiff_t i = first + j - 2;
            middle[j] = static_cast<std::uint8_t>(c1[i] | c2[i] | c3[i]);
            whole[j] = static_cast<std::uint8_t>(middle[j] | c0[i] | c4[i]);
        }
        for (std::ptrdiff_t j = 0; j < cells; ++j) {
            // The strong bits of the 3 x 3 and the 5 x 5 block.
            const auto near =
                static_cast<std::uint8_t>(middle[j + 1] | middle[j + 2] | middle[j + 3]);
            const auto far = static_cast<std::uint8_t>(whole[j] | whole[j + 1] | whole[j + 2] |
                                                       whole[j + 3] | whole[j + 4]);
            const std::uint8_t centre = c2[first + j];
            const auto edge =
                static_cast<std::uint8_t>(((centre / NearClass) & near & StrongClass) |
                                          ((centre / FarClass) & far & StrongClass));
            // 1 (an edge) gives EdgeCell, 0 BackgroundCell.
            map[first + j] = static_cast<std::uint8_t>(edge - 1);
        }
    }
}
static_assert(EdgeCell == 0 && BackgroundCell == 255);

} // namespace dorvane::vectors
