#pragma once

#include "blur_job.hpp"
#include "file_failure.hpp"

#include <cstdint>

namespace dorvane {

// The edge job: LoadGrayPlanes, GaussianBlurStage, GradientStage, NonMaximumSuppressionStage and
// HysteresisStage on source, then the frame that hysteresis leaves undecided set to
// BackgroundCell, and StoreGrayImage to OutputPath. The planes are released at the end, whatever
// happened. threads as for RunBlurJob. Unless Done, failure says why.
JobResult RunEdgeJob(const char* source, std::uint32_t threads, FileFailure& failure);

} // namespace dorvane
