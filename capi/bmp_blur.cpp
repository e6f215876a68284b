// The exported entry of the shared library: its paths convert into buffers of fixed sizes, the
// output's kept in OutputPath until the next call, as callers of BMPBlur have always had them.
#include "DorvaneBMPBlur.h"

#include "file_jobs.hpp"
#include "fork_safety.hpp"
#include "path_conversion.hpp"
#include "pipeline_state.hpp"

#include <algorithm>
#include <iterator>
#include <mutex>
#include <span>
#include <system_error>

namespace {

// Guards OutputPath, which the job itself does not read.
std::mutex OutputPathMutex;
[[maybe_unused]] const bool OutputPathMutexSurvivesFork =
    dorvane::HoldAcrossFork<OutputPathMutex>();

bool Converts(const char16_t* path, std::span<char> destination) {
    return dorvane::ConvertPath(path, destination) == dorvane::PathConversion::Converted;
}

} // namespace

extern "C" int32_t BMPBlur(const char16_t* source, const char16_t* output) {
    char outputPath[dorvane::OutputPathSize];
    char sourcePath[dorvane::SourcePathSize];
    if (!Converts(output, outputPath) || !Converts(source, sourcePath)) {
        return BMPBLUR_INVALID_ARGUMENT;
    }
    try {
        const std::lock_guard lock(OutputPathMutex);
        std::copy(std::begin(outputPath), std::end(outputPath), std::begin(dorvane::OutputPath));
    } catch (const std::system_error&) {
        // Only the record of the path is lost; the call goes on.
    }
    dorvane::FileFailure ignored;
    return dorvane::BlurFiles(sourcePath, outputPath, dorvane::JobOptions{}, ignored);
}
