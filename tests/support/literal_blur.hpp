#pragma once

#include "gaussian_blur.hpp"
#include "pipeline_state.hpp"

#include <cstdint>

namespace dorvane::testing {

// The blur as it is defined: every cell at least two cells inside the border, column by column
// and down each column, set at once to the truncated ConvolveAt of its window. The oracle that
// the fast stage must match bit for bit.
inline void LiteralGaussianBlur() {
    for (std::uint32_t x = 2; x + 2 < PlaneWidth; ++x) {
        for (std::uint32_t y = 2; y + 2 < PlaneHeight; ++y) {
            const float v = ConvolveAt(GaussianKernel, 5, GaussianScale,
                                       static_cast<std::int32_t>(x), static_cast<std::int32_t>(y));
            ImagePlane[x][y] = static_cast<std::int32_t>(v);
        }
    }
}

} // namespace dorvane::testing
