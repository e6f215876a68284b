#pragma once

#include "convolution.hpp"
#include "gaussian_weights.hpp"

#include <cstdint>

namespace dorvane {

// Smooths ImagePlane in place, column by column and down each column, so that every window sees
// the already smoothed cells before it. A frame two cells wide keeps its values. The first form
// takes the threads that pay for the plane's size (ResolveThreads), the second a job's count;
// the result is the same for any number.
void GaussianBlurStage();
void GaussianBlurStage(std::uint32_t threads);

} // namespace dorvane
