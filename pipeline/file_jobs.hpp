#pragma once

#include "file_failure.hpp"

#include <cstdint>

namespace dorvane {

// The pipeline's jobs from file to file, for C++ callers. Each converts the zero-terminated UTF-16
// paths, records the output path in OutputPath and runs its job, one call at a time in the
// process, and returns one of BMPBlur's results; unless BMPBLUR_OK, failure says why and about
// which file. threads: how many threads the job may use at most; 0 chooses from the cores and the
// picture's size, 1 keeps the call on the calling thread.

// BMPBlur's job: the gray picture of source, smoothed, at the source's bit depth.
std::int32_t BlurFiles(const char16_t* source, const char16_t* output,
                       std::uint32_t threads = 0) noexcept;
std::int32_t BlurFiles(const char16_t* source, const char16_t* output, std::uint32_t threads,
                       FileFailure& failure) noexcept;

// The edge map of source, at the source's bit depth: every pixel EdgeCell or BackgroundCell, the
// frame that the stages do not decide included (as background).
std::int32_t DetectEdgesInFiles(const char16_t* source, const char16_t* output,
                                std::uint32_t threads, FileFailure& failure) noexcept;

} // namespace dorvane
