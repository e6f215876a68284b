#include "photo_like_plane.hpp"

#include "pipeline_state.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <random>

namespace dorvane::bench {

std::vector<std::int32_t> PhotoLikePlane(std::uint32_t width, std::uint32_t height) {
    std::vector<std::int32_t> values(std::size_t{width} * height);
    std::mt19937 random(20240607); // raw draws only: the distributions differ between libraries
    const double w = width;
    const double h = height;
    for (std::uint32_t x = 0; x < width; ++x) {
        const double u = x / w;
        for (std::uint32_t y = 0; y < height; ++y) {
            const double v = y / h;
            // Sky and ground: broad gradients, dark at the bottom, bright to clipping at the top.
            double gray = 300.0 - 330.0 * v + 40.0 * std::sin(3.1 * u + 1.7 * v);
            // A disc and a bar with hard edges.
            const double du = u - 0.62;
            const double dv = v - 0.45;
            if (du * du + dv * dv < 0.03) {
                gray = 70.0 + 60.0 * u;
            }
            if (u > 0.15 && u < 0.3 && v > 0.3) {
                gray = 180.0 - 40.0 * v;
            }
            // Texture and noise.
            gray += 6.0 * std::sin(97.0 * u) * std::cos(61.0 * v);
            gray += static_cast<double>(random() % 9) - 4.0;
            values[std::size_t{x} * height + y] =
                static_cast<std::int32_t>(std::clamp(std::floor(gray), 0.0, 255.0));
        }
    }
    return values;
}

bool LoadImagePlane(const std::vector<std::int32_t>& values, std::uint32_t width,
                    std::uint32_t height) {
    ReleasePlanes();
    if (!AllocatePlanes(width, height)) {
        return false;
    }
    CopyIntoImagePlane(values);
    return true;
}

void CopyIntoImagePlane(const std::vector<std::int32_t>& values) {
    for (std::uint32_t x = 0; x < PlaneWidth; ++x) {
        const auto first = values.begin() + static_cast<std::ptrdiff_t>(x) * PlaneHeight;
        std::copy(first, first + PlaneHeight, ImagePlane[x]);
    }
}

} // namespace dorvane::bench
