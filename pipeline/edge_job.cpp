#include "edge_job.hpp"

#include "edge_map.hpp"
#include "gaussian_blur.hpp"
#include "gradient_stage.hpp"
#include "hysteresis.hpp"
#include "non_maximum_suppression.hpp"
#include "pipeline_state.hpp"
#include "work_sharing.hpp"

#include <algorithm>

namespace dorvane {
namespace {

// The cells within HysteresisFrame of an edge keep gray values and suppression marks after the
// stages; a map is two-valued, so they become background.
void ClearUndecidedFrame() {
    const std::uint32_t frame = HysteresisFrame;
    for (std::uint32_t x = 0; x < PlaneWidth; ++x) {
        std::int32_t* const column = ImagePlane[x];
        if (x < frame || x + frame >= PlaneWidth) {
            std::fill(column, column + PlaneHeight, BackgroundCell);
            continue;
        }
        const std::uint32_t top = std::min(frame, PlaneHeight);
        std::fill(column, column + top, BackgroundCell);
        std::fill(column + std::max(top, PlaneHeight - std::min(frame, PlaneHeight)),
                  column + PlaneHeight, BackgroundCell);
    }
}

// The edge job's pass: the blur, then the map.
bool EdgeMap(const GrayColumns& picture, std::uint32_t& threads) {
    if (!BlurGrayColumns(picture, threads)) {
        threads = 1;
    }
    return EdgeMapColumns(picture, threads);
}

} // namespace

void DetectEdgesInPlanes(std::uint32_t threads) {
    // Where both edge jobs, on files and on arrays, settle their threads.
    GaussianBlurStage(
        ResolveThreads(threads, Share::PlaneCells, std::uint64_t{PlaneWidth} * PlaneHeight));
    GradientStage();
    NonMaximumSuppressionStage();
    HysteresisStage();
    ClearUndecidedFrame();
}

JobResult RunEdgeJob(const char* source, const char* output, const JobOptions& options,
                     FileFailure& failure) {
    return RunGrayJob(source, output, options, EdgeMap, failure);
}

JobResult RunEdgeJob(std::span<const std::uint8_t> source, std::vector<std::uint8_t>& output,
                     const JobOptions& options, FileFailure& failure) {
    return RunGrayJob(source, output, options, EdgeMap, failure);
}

} // namespace dorvane
