#pragma once

#include <cstdint>

namespace dorvane {

// True when value is greater than both neighbours; a tie is no maximum.
bool IsStrictLocalMaximum(std::int32_t value, std::int32_t first, std::int32_t second);

// For every cell but a one-cell frame, sets ImagePlane to 0 (edge) where the magnitude is a strict
// maximum along the quantised direction and to 255 elsewhere. Cells without a direction (-1) keep
// their value. Nothing is touched on planes narrower or shorter than 3 cells, or when no planes
// are allocated.
void NonMaximumSuppressionStage();

} // namespace dorvane
