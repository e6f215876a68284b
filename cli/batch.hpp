#pragma once

#include "exit_codes.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace dorvane::cli {

// threads: how many threads the job may use, 0 to let it choose.
using FileJob = ExitCode (*)(const std::string& source, const std::string& output,
                             std::uint32_t threads);

// Runs job on every source, writing folder/<source's file name> (folder is created when missing),
// in workerCount worker processes, or one per core when 0 (the library serialises calls within a
// process). Each job gets the cores that the workers leave, at least one thread. Goes on past
// failures, reporting each on standard error; shows a progress line there when it is a terminal.
// Returns the status of the first failure in argument order, or ExitOk.
ExitCode RunBatch(FileJob job, const std::string& folder, const std::vector<std::string>& sources,
                  std::uint32_t workerCount);

} // namespace dorvane::cli
