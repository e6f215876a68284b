#pragma once

#include <cstdint>

namespace dorvane {

// The hysteresis stage's thresholds on the gradient's magnitude, the values of the edge map, and
// the width of the frame that the stage leaves as it is.
inline constexpr std::int32_t HysteresisLow = 65;
inline constexpr std::int32_t HysteresisHigh = 80;
inline constexpr std::int32_t EdgeCell = 0;
inline constexpr std::int32_t BackgroundCell = 255;
inline constexpr std::int64_t HysteresisFrame = 2;

} // namespace dorvane
