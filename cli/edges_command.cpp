#include "edges_command.hpp"

#include "failure_reasons.hpp"
#include "gaussian_blur.hpp"
#include "gradient_stage.hpp"
#include "gray_planes.hpp"
#include "hysteresis.hpp"
#include "non_maximum_suppression.hpp"
#include "pipeline_state.hpp"
#include "report.hpp"

#include <algorithm>

namespace dorvane::cli {

ExitCode DetectEdges(const std::string& source, const std::string& output, std::uint32_t threads) {
    if (output.size() >= OutputPathSize) {
        Report(output, "path too long (at most 207 bytes for an output)");
        return ExitInvalidArgument;
    }
    std::fill(std::begin(OutputPath), std::end(OutputPath), '\0');
    std::copy(output.begin(), output.end(), std::begin(OutputPath));

    if (LoadGrayPlanes(source.c_str()) == LoadFailed) {
        Report(source, SourceFailureReason(source));
        return ExitSourceUnreadable;
    }
    if (threads == 0) {
        GaussianBlurStage();
    } else {
        GaussianBlurStage(threads);
    }
    GradientStage();
    NonMaximumSuppressionStage();
    HysteresisStage();
    const bool stored = StoreGrayImage();
    ReleasePlanes();
    if (!stored) {
        Report(output, OutputFailureReason(output));
        return ExitOutputUnwritable;
    }
    return ExitOk;
}

} // namespace dorvane::cli
