#include "edge_job.hpp"

#include "gaussian_blur.hpp"
#include "gradient_stage.hpp"
#include "gray_planes.hpp"
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

struct ReleaseAtEnd {
    ReleaseAtEnd() = default;
    ReleaseAtEnd(const ReleaseAtEnd&) = delete;
    ReleaseAtEnd& operator=(const ReleaseAtEnd&) = delete;
    ~ReleaseAtEnd() { ReleasePlanes(); }
};

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
    failure = {};
    if (LoadGrayPlanes(source, failure) == LoadFailed) {
        return JobResult::SourceFailed;
    }
    const ReleaseAtEnd release;
    DetectEdgesInPlanes(options.Threads);
    // The store starts a failure of its own; what the load found of the source stays.
    const FileFailure loaded = failure;
    const Durability durability = options.Sync ? Durability::Disk : Durability::Process;
    if (!StoreGrayImage(output, durability, failure)) {
        return JobResult::OutputFailed;
    }
    failure = loaded;
    return JobResult::Done;
}

} // namespace dorvane
