#pragma once

#include "blur_job.hpp"
#include "file_failure.hpp"

#include <cstdint>
#include <span>
#include <vector>

namespace dorvane {

// The jobs of BlurFiles, DetectEdgesInFiles and ScaleFiles from a BMP file's bytes in memory to
// the bytes of the file that those would write, in place of output's: the same bytes, results,
// and failures of the source (a cut file included); output is empty unless BMPBLUR_OK. The only
// failure of the output is memory running out (FailureKind::OutOfMemory). The options' Sync is
// of no use in memory.
std::int32_t BlurBytes(std::span<const std::uint8_t> source, std::vector<std::uint8_t>& output,
                       const JobOptions& options, FileFailure& failure) noexcept;
std::int32_t DetectEdgesInBytes(std::span<const std::uint8_t> source,
                                std::vector<std::uint8_t>& output, const JobOptions& options,
                                FileFailure& failure) noexcept;
std::int32_t ScaleBytes(std::span<const std::uint8_t> source, std::vector<std::uint8_t>& output,
                        char mode, std::int32_t value, const JobOptions& options,
                        FileFailure& failure) noexcept;

} // namespace dorvane
