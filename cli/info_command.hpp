#pragma once

#include "exit_codes.hpp"

#include <string>

namespace dorvane::cli {

// Prints the file and info headers of a BMP file, one field a line with its published name.
ExitCode PrintHeaders(const std::string& path);

} // namespace dorvane::cli
