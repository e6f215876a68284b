#pragma once

#include "byte_blur.hpp"

#include <cstdint>

namespace dorvane {

// The edge stages after the blur on a byte picture, in place: every pixel becomes what
// GradientStage, NonMaximumSuppressionStage and HysteresisStage, with the two-cell frame set to
// BackgroundCell, leave in a plane holding the same values, EdgeCell or BackgroundCell. threads:
// that many threads at most, as the job resolved them. False, the picture unchanged, when memory
// runs out.
bool EdgeMapColumns(const GrayColumns& picture, std::uint32_t threads);

// The same map into rows, a picture of picture's size row after row (pixel (x, y) at
// rows[y * Width + x]), the picture left as it is: a caller that holds rows need not move the
// map's columns back into them. False, rows unchanged, when memory runs out.
bool EdgeMapIntoRows(const GrayColumns& picture, std::uint8_t* rows, std::uint32_t threads);

} // namespace dorvane
