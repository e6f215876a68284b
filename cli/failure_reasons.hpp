#pragma once

#include <string>

namespace dorvane::cli {

// Why a source file could not be read, in words for the user: the system's reason when it
// cannot be opened, else what in its headers the reader refuses.
std::string SourceFailureReason(const std::string& path);

// Why an output file could not be written: a missing or read-only folder, a directory in the
// way, else a failed write (such as a full disk).
std::string OutputFailureReason(const std::string& path);

} // namespace dorvane::cli
