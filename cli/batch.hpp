#pragma once

#include "exit_codes.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace dorvane::cli {

// threads: how many threads the job may use, 0 to let it choose.
using FileJob = ExitCode (*)(const std::string& source, const std::string& output,
                             std::uint32_t threads);

// Runs job on every source, writing folder/<source's file name>, in one worker process per core
// (the library serialises calls within a process). Goes on past failures, reporting each on
// standard error; shows a progress line there when it is a terminal. Returns the status of the
// first failure in argument order, or ExitOk.
ExitCode RunBatch(FileJob job, const std::string& folder, const std::vector<std::string>& sources);

} // namespace dorvane::cli
