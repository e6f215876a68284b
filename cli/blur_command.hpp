#pragma once

#include "exit_codes.hpp"

#include <string>

namespace dorvane::cli {

// Blurs source into output through the library's exported entry; prints one line to standard
// error on failure.
ExitCode BlurFile(const std::string& source, const std::string& output);

} // namespace dorvane::cli
