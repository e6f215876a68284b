// The exported entry of the shared library.
#include "DorvaneBMPBlur.h"

#include "blur_job.hpp"
#include "path_conversion.hpp"
#include "pipeline_state.hpp"

#include <algorithm>
#include <iterator>
#include <mutex>

namespace {

// The pipeline state is process-wide, so calls take turns.
std::mutex CallMutex;

std::int32_t RunBlur(const char16_t* source, const char16_t* output) {
    using namespace dorvane;
    char outputPath[OutputPathSize];
    char sourcePath[SourcePathSize];
    if (ConvertPath(output, outputPath) != PathConversion::Converted ||
        ConvertPath(source, sourcePath) != PathConversion::Converted) {
        return BMPBLUR_INVALID_ARGUMENT;
    }
    std::copy(std::begin(outputPath), std::end(outputPath), std::begin(OutputPath));

    switch (RunBlurJob(sourcePath, OutputPath)) {
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

extern "C" int32_t BMPBlur(const char16_t* source, const char16_t* output) {
    try {
        const std::lock_guard lock(CallMutex);
        return RunBlur(source, output);
    } catch (...) {
        // Only taking the lock can throw (a system error): nothing was read.
        return BMPBLUR_SOURCE_UNREADABLE;
    }
}
