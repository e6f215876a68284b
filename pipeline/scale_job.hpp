#pragma once

#include "array_files.hpp"
#include "blur_job.hpp"
#include "file_failure.hpp"
#include "scaling.hpp"

#include <cstdint>
#include <span>
#include <vector>

namespace dorvane {

// The job of `bmpblur scale`: writes to output, at 24 bpp, the file that SaveBmp writes for the
// image that LoadBmp reads from source once ScaleImage(mode, value) has scaled it, byte for byte.
// The source's rows come from the file as the new rows need them, so that neither picture is
// ever whole in memory (except a source at 1, 4 or 16 bpp, which is held whole). Refused, before
// output is touched, for an unknown mode or a size that ScaleImage refuses. Unless Done, failure
// says why; after Done, whether the source was cut short. Calls may run at once.
JobResult RunScaleJob(const char* source, const char* output, char mode, std::int32_t value,
                      const JobOptions& options, FileFailure& failure);
// The same from a BMP file's bytes in memory to the bytes of the file, as RunBlurJob on bytes.
JobResult RunScaleJob(std::span<const std::uint8_t> source, std::vector<std::uint8_t>& output,
                      char mode, std::int32_t value, const JobOptions& options,
                      FileFailure& failure);

// The picture of three bytes a pixel, red, green and blue, scaled to size as ScaleImage scales
// it, into out: 3 x size.Width x size.Height bytes, rows from the top. size is ScaledSizeOf
// the picture's. threads: that many at most; 0 chooses from the cores and the new size. False
// when memory runs out.
bool ScaleRgbArray(const ArrayRows& picture, ScaledSize size, std::uint8_t* out,
                   std::uint32_t threads);

} // namespace dorvane
