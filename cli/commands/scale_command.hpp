#pragma once

#include "exit_codes.hpp"

#include <string>

namespace dorvane::cli {

// Whether VALUE is a whole number below 1, which no MODE takes. The library makes such a value a
// side of one pixel; to the tool it is a slip of the user's.
bool IsBelowOne(const std::string& value);

// Scales source by mode (P percent, W width, H height, F longer side) and value, and writes the
// result to output at 24 bits per pixel.
ExitCode ScaleFile(const std::string& source, const std::string& output, const std::string& mode,
                   const std::string& value);

} // namespace dorvane::cli
