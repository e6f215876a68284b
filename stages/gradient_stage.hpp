#pragma once

#include "convolution.hpp"

#include <cstdint>

namespace dorvane {

// 3 x 3 gradients in the top-left corner of a Kernel5x5 (rows along x, columns along y). The
// column gradient is positive when the left column is brighter, the row gradient when the row
// below is brighter.
inline constexpr Kernel5x5 ColumnGradientKernel = {
    1,  2,  1,  0, 0, //
    0,  0,  0,  0, 0, //
    -1, -2, -1, 0, 0, //
    0,  0,  0,  0, 0, //
    0,  0,  0,  0, 0,
};
inline constexpr Kernel5x5 RowGradientKernel = {
    -1, 0, 1, 0, 0, //
    -2, 0, 2, 0, 0, //
    -1, 0, 1, 0, 0, //
    0,  0, 0, 0, 0, //
    0,  0, 0, 0, 0,
};

// Radians to degrees as 180 / 3.14159, not 180 / pi. Stored directions depend on it: a gradient
// pointing straight left comes out just past 180 degrees, in no sector.
inline constexpr double RadiansToDegrees = 57.29582790879778;

// True when low1 <= angle <= high1 or low2 <= angle <= high2.
bool InAngleSectors(float angle, float low1, float high1, float low2, float high2);

// The direction (0, 45, 90 or 135) of the first sector that holds the angle, in degrees, or -1.
std::int32_t QuantiseDirection(float angle);

// For every cell but a one-cell frame, writes the truncated gradient magnitude of ImagePlane into
// MagnitudePlane and its quantised direction into DirectionPlane. Nothing is touched on planes
// narrower or shorter than 3 cells, or when no planes are allocated.
void GradientStage();

} // namespace dorvane
