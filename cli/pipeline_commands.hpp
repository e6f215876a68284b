#pragma once

#include "exit_codes.hpp"

#include <cstdint>
#include <string>

namespace dorvane::cli {

// The pipeline's jobs through the library's entries, the blur the one that BMPBlur exports, on at
// most threads threads (0: the job chooses). SOURCE and OUTPUT may be "-". Each prints one line to
// standard error on failure, with the reason the library gives.
ExitCode BlurFile(const std::string& source, const std::string& output, std::uint32_t threads);
ExitCode DetectEdges(const std::string& source, const std::string& output, std::uint32_t threads);

} // namespace dorvane::cli
