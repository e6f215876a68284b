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
// The job's stages on the installed planes: ImagePlane, which holds a gray picture, becomes its
// edge map, every cell EdgeCell or BackgroundCell. threads as JobOptions::Threads.
void DetectEdgesInPlanes(std::uint32_t threads);

JobResult RunEdgeJob(const char* source, const char* output, const JobOptions& options,
                     FileFailure& failure);

} // namespace dorvane
