#pragma once

#include "gaussian_weights.hpp"

#include <cstdint>

namespace dorvane {

// Weighted sum of the n x n window of ImagePlane centred on (x, y), n being 3 or 5. Each tap's
// product is scaled in double and the running sum rounded to float after every tap; that
// rounding is part of the result. The caller keeps the whole window inside the plane.
float ConvolveAt(const Kernel5x5& kernel, std::int32_t n, float scale, std::int32_t x,
                 std::int32_t y);

} // namespace dorvane
