#pragma once

#include "edge_thresholds.hpp"

namespace dorvane {

// For every cell but a two-cell frame, writes the edge map into ImagePlane from MagnitudePlane
// alone: 0 (edge) above the high threshold, 255 below the low one, and in between 0 when a
// magnitude above the high threshold lies near enough. Nothing is touched on planes narrower or
// shorter than 5 cells, or when no planes are allocated.
void HysteresisStage();

} // namespace dorvane
