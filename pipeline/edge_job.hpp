#pragma once

#include "blur_job.hpp"
#include "file_failure.hpp"

#include <cstdint>
#include <span>
#include <vector>

namespace dorvane {

// The edge job's stages on the installed planes: GaussianBlurStage, GradientStage,
// NonMaximumSuppressionStage and HysteresisStage, then the frame that hysteresis leaves undecided
// set to BackgroundCell. ImagePlane, which holds a gray picture, becomes its edge map, every cell
// EdgeCell or BackgroundCell. threads as JobOptions::Threads.
void DetectEdgesInPlanes(std::uint32_t threads);

// The edge job: writes to output the edge map that LoadGrayPlanes on source, DetectEdgesInPlanes
// and StoreGrayImage would, byte for byte, through one gray picture of a byte per pixel as
// RunBlurJob does (BlurGrayColumns, then EdgeMapColumns), with RunBlurJob's options, globals and
// failures.
JobResult RunEdgeJob(const char* source, const char* output, const JobOptions& options,
                     FileFailure& failure);
// The same from a BMP file's bytes in memory to the bytes of the file, as RunBlurJob on bytes.
JobResult RunEdgeJob(std::span<const std::uint8_t> source, std::vector<std::uint8_t>& output,
                     const JobOptions& options, FileFailure& failure);

} // namespace dorvane
