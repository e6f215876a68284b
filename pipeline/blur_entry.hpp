#pragma once

#include <cstdint>

namespace dorvane {

// BMPBlur for C++ callers that also choose the threads: converts the zero-terminated UTF-16 paths,
// records the output path in OutputPath and runs the job, one call at a time. Returns BMPBlur's
// results. threads as for RunBlurJob: 0 chooses, 1 keeps the call on the calling thread.
std::int32_t BlurFiles(const char16_t* source, const char16_t* output,
                       std::uint32_t threads = 0) noexcept;

} // namespace dorvane
