#pragma once

#include "convolution.hpp"

#include <cstdint>

namespace dorvane {

// The 5 x 5 Gaussian whose weights add up to 159, and the float nearest to 1/159.
inline constexpr Kernel5x5 GaussianKernel = {
    2, 4,  5,  4,  2, //
    4, 9,  12, 9,  4, //
    5, 12, 15, 12, 5, //
    4, 9,  12, 9,  4, //
    2, 4,  5,  4,  2,
};
inline constexpr float GaussianScale = 1.0F / 159.0F;

// Smooths ImagePlane in place, column by column and down each column, so that every window sees
// the already smoothed cells before it. A frame two cells wide keeps its values. The first form
// takes the threads that pay for the plane's size (ResolveThreads), the second a job's count;
// the result is the same for any number.
void GaussianBlurStage();
void GaussianBlurStage(std::uint32_t threads);

} // namespace dorvane
