#pragma once

#include "exit_codes.hpp"

#include <string>
#include <vector>

namespace dorvane::cli {

// Prints the file and info headers of each BMP file, one field a line with its published name.
// A file that cannot be read is reported and the others are still listed; the status is the
// first failure's.
ExitCode PrintHeaders(const std::vector<std::string>& paths);

} // namespace dorvane::cli
