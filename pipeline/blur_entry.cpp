#include "blur_entry.hpp"

#include "DorvaneBMPBlur.h"
#include "blur_job.hpp"
#include "path_conversion.hpp"
#include "pipeline_state.hpp"

#include <algorithm>
#include <iterator>
#include <mutex>

namespace dorvane {
namespace {

// The pipeline state is process-wide, so calls take turns.
std::mutex CallMutex;

std::int32_t RunBlur(const char16_t* source, const char16_t* output, std::uint32_t threads) {
    char outputPath[OutputPathSize];
    char sourcePath[SourcePathSize];
    if (ConvertPath(output, outputPath) != PathConversion::Converted ||
        ConvertPath(source, sourcePath) != PathConversion::Converted) {
        return BMPBLUR_INVALID_ARGUMENT;
    }
    std::copy(std::begin(outputPath), std::end(outputPath), std::begin(OutputPath));

    switch (RunBlurJob(sourcePath, OutputPath, threads)) {
    case JobResult::Done:
        return BMPBLUR_OK;
    case JobResult::SourceFailed:
        return BMPBLUR_SOURCE_UNREADABLE;
    case JobResult::OutputFailed:
        break;
    }
    return BMPBLUR_OUTPUT_UNWRITABLE;
}

} // namespace

std::int32_t BlurFiles(const char16_t* source, const char16_t* output,
                       std::uint32_t threads) noexcept {
    try {
        const std::lock_guard lock(CallMutex);
        return RunBlur(source, output, threads);
    } catch (...) {
        // Only taking the lock can throw (a system error): nothing was read.
        return BMPBLUR_SOURCE_UNREADABLE;
    }
}

} // namespace dorvane
