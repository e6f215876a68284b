#pragma once

// The Gaussian stage's window sums down a column, in plain C++ that the compiler turns into
// vector code for each path that includes it.
#include "blur_arithmetic.hpp"

#include <array>
#include <cstddef>
#include <cstdint>

namespace dorvane::vectors {

// The cells that the stage sums at once.
inline constexpr std::size_t StageBlockRows = 128;

// Kernels::StageSums (kernels.hpp). Unsigned, so that cells outside 0..255 cannot overflow.
[[gnu::always_inline]] inline bool StageSumsOf(const std::array<const std::int32_t*, 5>& columns,
                                               std::size_t count, std::uint32_t* sums) {
    using blur::Weight;
    std::array<std::uint32_t, StageBlockRows + 4> outer; // columns x - 2 and x + 2
    std::array<std::uint32_t, StageBlockRows + 4> inner; // columns x - 1 and x + 1
    std::uint32_t bits = 0;
    for (std::size_t i = 0; i < count + 4; ++i) {
        const auto l2 = static_cast<std::uint32_t>(columns[0][i]);
        const auto l1 = static_cast<std::uint32_t>(columns[1][i]);
        const auto r1 = static_cast<std::uint32_t>(columns[3][i]);
        const auto r2 = static_cast<std::uint32_t>(columns[4][i]);
        outer[i] = l2 + r2;
        inner[i] = l1 + r1;
        bits |= l2 | l1 | r1 | r2;
    }
    // Rows from the block's first on are not yet smoothed in the centre column.
    const std::int32_t* centre = columns[2];
    bits |= static_cast<std::uint32_t>(centre[0]) | static_cast<std::uint32_t>(centre[1]);
    for (std::size_t i = 0; i < count; ++i) {
        const auto c0 = static_cast<std::uint32_t>(centre[i + 2]);
        const auto c1 = static_cast<std::uint32_t>(centre[i + 3]);
        const auto c2 = static_cast<std::uint32_t>(centre[i + 4]);
        bits |= c0 | c1 | c2;
        sums[i] = (Weight(0, 0) * (outer[i] + outer[i + 4]) +
                   Weight(0, 1) * (outer[i + 1] + outer[i + 3]) + Weight(0, 2) * outer[i + 2] +
                   Weight(1, 0) * (inner[i] + inner[i + 4]) +
                   Weight(1, 1) * (inner[i + 1] + inner[i + 3]) + Weight(1, 2) * inner[i + 2] +
                   Weight(2, 2) * c0 + Weight(2, 3) * c1 + Weight(2, 4) * c2) *
                  blur::Reciprocal;
    }
    return bits <= blur::MaxCell;
}

} // namespace dorvane::vectors
