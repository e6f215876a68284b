#include "convolution.hpp"

#include "pipeline_state.hpp"

namespace dorvane {

float ConvolveAt(const Kernel5x5& kernel, std::int32_t n, float scale, std::int32_t x,
                 std::int32_t y) {
    const std::int32_t half = n / 2;
    float acc = 0.0F;
    for (std::int32_t a = 0; a < n; ++a) {
        const std::int32_t* column = ImagePlane[x - half + a];
        for (std::int32_t b = 0; b < n; ++b) {
            // Wrapping product: plane values set by a caller must not make the arithmetic
            // undefined.
            const auto product = static_cast<std::int32_t>(
                static_cast<std::uint32_t>(column[y - half + b]) *
                static_cast<std::uint32_t>(kernel[static_cast<std::size_t>(5 * a + b)]));
            const double tap = static_cast<double>(product) * static_cast<double>(scale);
            acc = static_cast<float>(tap + static_cast<double>(acc));
        }
    }
    return acc;
}

} // namespace dorvane
