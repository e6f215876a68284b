#pragma once

#include "byte_blur.hpp"
#include "file_failure.hpp"

#include <cstdint>
#include <span>
#include <vector>

namespace dorvane {

// Refused: the job's arguments other than the paths, before either file is touched.
enum class JobResult { Done, SourceFailed, OutputFailed, Refused };

struct JobOptions {
    // How many threads the job may use at most; 0 chooses from the cores and the picture's size,
    // 1 keeps the call on the calling thread.
    std::uint32_t Threads = 0;
    // Whether the new output reaches the disk before it is put in place, and its folder's entry
    // after, so that a power loss leaves the old file or the new one; slower.
    bool Sync = false;
};

// The job of BMPBlur: reads the BMP file at source, blurs its gray picture and writes it to
// output at the source's bit depth, byte for byte as LoadGrayPlanes, GaussianBlurStage and
// StoreGrayImage would, through one gray picture of a byte per pixel instead of the work planes.
// Once the source is read it releases any planes, and sets PlaneWidth, PlaneHeight and
// SourceBitDepth as the load would; when the source cannot be read, no global changes. Not
// thread-safe, like the stages. Unless Done, failure says why; after Done, whether the source
// was cut short.
JobResult RunBlurJob(const char* source, const char* output, const JobOptions& options,
                     FileFailure& failure);

// What a job does to its gray picture between the load and the store, on up to threads threads;
// it sets threads to 1 when more would not pay now (BlurGrayColumns). False when memory runs out.
using GrayPass = bool (*)(const GrayColumns& picture, std::uint32_t& threads);

// RunBlurJob with pass in place of the blur. When pass runs out of memory, the source failed as
// when it does not fit in memory.
JobResult RunGrayJob(const char* source, const char* output, const JobOptions& options,
                     GrayPass pass, FileFailure& failure);

// The same jobs from a BMP file's bytes in memory to the bytes of the file they would write, in
// place of output's (empty unless Done); memory running out is the output's only failure.
JobResult RunBlurJob(std::span<const std::uint8_t> source, std::vector<std::uint8_t>& output,
                     const JobOptions& options, FileFailure& failure);
JobResult RunGrayJob(std::span<const std::uint8_t> source, std::vector<std::uint8_t>& output,
                     const JobOptions& options, GrayPass pass, FileFailure& failure);

} // namespace dorvane
