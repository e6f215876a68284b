#pragma once

#include "exit_codes.hpp"

#include <cstdint>
#include <string>

namespace dorvane::cli {

// Blurs source into output through the pipeline's blur entry, the one BMPBlur exports, on at
// most threads threads (0: it chooses); prints one line to standard error on failure.
ExitCode BlurFile(const std::string& source, const std::string& output, std::uint32_t threads);

} // namespace dorvane::cli
