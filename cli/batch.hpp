#pragma once

#include "exit_codes.hpp"

#include <dorvane/file_jobs.hpp>

#include <cstdint>
#include <string>
#include <vector>

namespace dorvane::cli {

using FileJob = ExitCode (*)(const std::string& source, const std::string& output,
                             const JobOptions& options);

// Runs job on every source, writing folder/<source's file name> (folder is created when missing),
// in workerCount worker processes, or one per core when 0 (the library serialises calls within a
// process). Each job gets the cores that the workers leave, at least one thread, and sync as
// JobOptions::Sync. Before any work it refuses, each with its reason, a source that is a folder,
// a source whose file name an earlier one has, and an output that is the same file as a source of
// the batch, which writing it would replace. Goes on past failures, reporting each on standard
// error; shows a progress line there when it is a terminal. Returns the status of the first
// failure in argument order, or ExitOk.
ExitCode RunBatch(FileJob job, const std::string& folder, const std::vector<std::string>& sources,
                  std::uint32_t workerCount, bool sync);

} // namespace dorvane::cli
