#pragma once

#include <array>
#include <cstdint>

namespace dorvane {

// 25 weights with row stride 5: entry [5a + b] weighs window column a (along x) and window row b
// (along y). A 3 x 3 kernel uses entries 0-2, 5-7 and 10-12.
using Kernel5x5 = std::array<std::int32_t, 25>;

// The 5 x 5 Gaussian whose weights add up to 159, and the float nearest to 1/159.
inline constexpr Kernel5x5 GaussianKernel = {
    2, 4,  5,  4,  2, //
    4, 9,  12, 9,  4, //
    5, 12, 15, 12, 5, //
    4, 9,  12, 9,  4, //
    2, 4,  5,  4,  2,
};
inline constexpr float GaussianScale = 1.0F / 159.0F;

} // namespace dorvane
