#pragma once

#include "exit_codes.hpp"

#include <cstdint>
#include <string>

namespace dorvane::cli {

// Loads source as gray planes, blurs, runs gradient, non-maximum suppression and hysteresis, and
// writes the edge map (0 edge, 255 background) to output at the source's bit depth.
ExitCode DetectEdges(const std::string& source, const std::string& output, std::uint32_t threads);

} // namespace dorvane::cli
