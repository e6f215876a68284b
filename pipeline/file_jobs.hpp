#pragma once

#include "DorvaneBMPBlur.h"
#include "blur_job.hpp"
#include "file_failure.hpp"

#include <cstdint>

namespace dorvane {

// The pipeline's jobs from file to file, for C++ callers. Each runs its job, one call at a time in
// the process, and returns one of BMPBlur's results; unless BMPBLUR_OK, failure says why and about
// which file, and after BMPBLUR_OK, whether the source was cut short (failure.Truncated()). Paths
// are zero-terminated UTF-8, or UTF-16, of any length the system takes.

std::int32_t BlurFiles(const char* source, const char* output, const JobOptions& options,
                       FileFailure& failure) noexcept;
std::int32_t DetectEdgesInFiles(const char* source, const char* output, const JobOptions& options,
                                FileFailure& failure) noexcept;

// The file that SaveBmp writes, at 24 bpp, for the image that LoadBmp reads from source once
// ScaleImage(mode, value) has scaled it. BMPBLUR_INVALID_ARGUMENT, before either file is
// touched, where ScaleImage refuses mode or the new size. Unlike the others, calls run at once.
std::int32_t ScaleFiles(const char* source, const char* output, char mode, std::int32_t value,
                        const JobOptions& options, FileFailure& failure) noexcept;

// The same with UTF-16 paths and threads as JobOptions::Threads.

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
