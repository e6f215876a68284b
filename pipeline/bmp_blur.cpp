// The exported entry of the shared library.
#include "DorvaneBMPBlur.h"

#include "gaussian_blur.hpp"
#include "gray_planes.hpp"
#include "path_conversion.hpp"
#include "pipeline_state.hpp"

#include <algorithm>
#include <iterator>
#include <mutex>

namespace {

// The pipeline state is process-wide, so calls take turns.
std::mutex CallMutex;

// Releases the work planes however the call ends.
struct PlaneRelease {
    PlaneRelease() = default;
    PlaneRelease(const PlaneRelease&) = delete;
    PlaneRelease& operator=(const PlaneRelease&) = delete;
    ~PlaneRelease() { dorvane::ReleasePlanes(); }
};

std::int32_t RunBlur(const char16_t* source, const char16_t* output) {
    using namespace dorvane;
    char outputPath[OutputPathSize];
    char sourcePath[SourcePathSize];
    if (ConvertPath(output, outputPath) != PathConversion::Converted ||
        ConvertPath(source, sourcePath) != PathConversion::Converted) {
        return BMPBLUR_INVALID_ARGUMENT;
    }
    std::copy(std::begin(outputPath), std::end(outputPath), std::begin(OutputPath));

    if (LoadGrayPlanes(sourcePath) == LoadFailed) {
        return BMPBLUR_SOURCE_UNREADABLE;
    }
    const PlaneRelease release;
    GaussianBlurStage();
    return StoreGrayImage() ? BMPBLUR_OK : BMPBLUR_OUTPUT_UNWRITABLE;
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
