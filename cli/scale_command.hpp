#pragma once

#include "exit_codes.hpp"

#include <string>

namespace dorvane::cli {

// Scales source by mode (P percent, W width, H height, F longer side) and value, and writes the
// result to output at 24 bits per pixel.
ExitCode ScaleFile(const std::string& source, const std::string& output, const std::string& mode,
                   const std::string& value);

} // namespace dorvane::cli
