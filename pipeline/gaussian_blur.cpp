#include "gaussian_blur.hpp"

#include "pipeline_state.hpp"

namespace dorvane {

void GaussianBlurStage() {
    // Unsigned "x + 2 < width" keeps planes narrower than 5 from wrapping around.
    for (std::uint32_t x = 2; x + 2 < PlaneWidth; ++x) {
        for (std::uint32_t y = 2; y + 2 < PlaneHeight; ++y) {
            const float v = ConvolveAt(GaussianKernel, 5, GaussianScale,
                                       static_cast<std::int32_t>(x), static_cast<std::int32_t>(y));
            ImagePlane[x][y] = static_cast<std::int32_t>(v);
        }
    }
}

} // namespace dorvane
