#pragma once

#include "exit_codes.hpp"

#include <dorvane/file_jobs.hpp>

#include <string>

namespace dorvane::cli {

// The pipeline's jobs through the library's entries. SOURCE and OUTPUT may be "-". Each prints
// one line to standard error on failure, with the reason the library gives, and a warning when
// the source was cut short.
ExitCode BlurFile(const std::string& source, const std::string& output, const JobOptions& options);
ExitCode DetectEdges(const std::string& source, const std::string& output,
                     const JobOptions& options);

} // namespace dorvane::cli
