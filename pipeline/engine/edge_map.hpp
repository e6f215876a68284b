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

} // namespace dorvane
