#pragma once

#include <array>
#include <cstdint>

namespace dorvane {

// 25 weights with row stride 5: entry [5a + b] weighs window column a (along x) and window row b
// (along y). A 3 x 3 kernel uses entries 0-2, 5-7 and 10-12.
using Kernel5x5 = std::array<std::int32_t, 25>;

// Weighted sum of the n x n window of ImagePlane centred on (x, y), n being 3 or 5. Each tap's
// product is scaled in double and the running sum rounded to float after every tap; that
// rounding is part of the result. The caller keeps the whole window inside the plane.
float ConvolveAt(const Kernel5x5& kernel, std::int32_t n, float scale, std::int32_t x,
                 std::int32_t y);

} // namespace dorvane
