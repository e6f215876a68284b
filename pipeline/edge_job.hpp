#pragma once

#include "blur_job.hpp"
#include "file_failure.hpp"

#include <cstdint>

namespace dorvane {

// The edge job: LoadGrayPlanes, GaussianBlurStage, GradientStage, NonMaximumSuppressionStage and
// HysteresisStage on source, then the frame that hysteresis leaves undecided set to
// BackgroundCell, and StoreGrayImage to output. The planes are released at the end, whatever
// happened. options as for RunBlurJob. Unless Done, failure says why; after Done, whether the
// source was cut short.
JobResult RunEdgeJob(const char* source, const char* output, const JobOptions& options,
                     FileFailure& failure);

} // namespace dorvane
