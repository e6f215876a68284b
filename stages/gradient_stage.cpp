#include "gradient_stage.hpp"

#include "pipeline_state.hpp"

#include <array>
#include <cmath>
#include <limits>

namespace dorvane {

namespace {

struct AngleSectors {
    float Low1, High1, Low2, High2;
    std::int32_t Direction;
};

// Boundaries belong to two sectors, so the order of this table decides them.
constexpr std::array<AngleSectors, 5> DirectionSectors = {{
    {-22.5F, 22.5F, -180.0F, -157.5F, 0},
    {157.5F, 180.0F, -22.5F, 0.0F, 0},
    {22.5F, 67.5F, -157.5F, -112.5F, 45},
    {67.5F, 112.5F, -112.5F, -67.5F, 90},
    {112.5F, 157.5F, -67.5F, -22.5F, 135},
}};

constexpr std::int32_t NoDirection = -1;

// Truncation toward zero; only images with values far outside 0..255 reach the saturation.
std::int32_t TruncateMagnitude(float magnitude) {
    constexpr float Limit = 2147483648.0F; // 2^31, the first float beyond std::int32_t
    return magnitude < Limit ? static_cast<std::int32_t>(magnitude)
                             : std::numeric_limits<std::int32_t>::max();
}

} // namespace

bool InAngleSectors(float angle, float low1, float high1, float low2, float high2) {
    return (low1 <= angle && angle <= high1) || (low2 <= angle && angle <= high2);
}

std::int32_t QuantiseDirection(float angle) {
    for (const AngleSectors& sectors : DirectionSectors) {
        if (InAngleSectors(angle, sectors.Low1, sectors.High1, sectors.Low2, sectors.High2)) {
            return sectors.Direction;
        }
    }
    return NoDirection;
}

void GradientStage() {
    // After ReleasePlanes the sizes of the last load remain, but the planes are gone.
    if (ImagePlane == nullptr) {
        return;
    }
    // "x + 1 < width" rather than "x < width - 1", which wraps around for an empty plane.
    for (std::int64_t x = 1; x + 1 < std::int64_t{PlaneWidth}; ++x) {
        for (std::int64_t y = 1; y + 1 < std::int64_t{PlaneHeight}; ++y) {
            const auto cx = static_cast<std::int32_t>(x);
            const auto cy = static_cast<std::int32_t>(y);
            const float gc = ConvolveAt(ColumnGradientKernel, 3, 1.0F, cx, cy);
            const float gr = ConvolveAt(RowGradientKernel, 3, 1.0F, cx, cy);
            // Squares and sum in float, root and angle in double, each rounded back to float.
            const float squares = gr * gr + gc * gc;
            const auto magnitude = static_cast<float>(std::sqrt(static_cast<double>(squares)));
            const auto angle = static_cast<float>(
                std::atan2(static_cast<double>(gr), static_cast<double>(gc)) * RadiansToDegrees);
            DirectionPlane[x][y] = static_cast<float>(QuantiseDirection(angle));
            MagnitudePlane[x][y] = TruncateMagnitude(magnitude);
        }
    }
}

} // namespace dorvane
