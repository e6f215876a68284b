#pragma once

#include <cstdint>

namespace dorvane {

inline constexpr std::int32_t HysteresisLow = 65;
inline constexpr std::int32_t HysteresisHigh = 80;
// The values of the map, and the width of the frame that the stage leaves as it is.
inline constexpr std::int32_t EdgeCell = 0;
inline constexpr std::int32_t BackgroundCell = 255;
inline constexpr std::int64_t HysteresisFrame = 2;

// For every cell but a two-cell frame, writes the edge map into ImagePlane from MagnitudePlane
// alone: 0 (edge) above the high threshold, 255 below the low one, and in between 0 when a
// magnitude above the high threshold lies near enough. Nothing is touched on planes narrower or
// shorter than 5 cells, or when no planes are allocated.
void HysteresisStage();

} // namespace dorvane
