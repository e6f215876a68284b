#pragma once

#include "exit_codes.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace dorvane::cli {

// What a path leads to, links followed, as far as a batch needs to know.
struct FileLookup {
    bool Folder = false;
    // The numbers of the file system and of the file, which every name of one file shares (hard
    // and symbolic links included); none when the path could not be looked at.
    std::optional<std::pair<std::uint64_t, std::uint64_t>> Identity;
    std::error_code Error; // why not
};

// Asks the system (batch.cpp on POSIX, batch_windows.cpp on Windows).
FileLookup LookUp(const std::string& path);

// Creates folder and its parents where missing, as mkdir -p does; false, reported, when it fails.
bool MakeFolder(const std::string& folder);

// One source's part of a batch: the output to write, or why the source is refused.
struct BatchTask {
    std::string Output;
    ExitCode Refusal = ExitOk;
    std::string Message; // the report line of a refusal
};

// The task of each source, decided before anything is written: a folder is refused, and so are
// a source whose file name an earlier source has and one whose output is the same file as any
// source of the batch, which writing it would replace.
std::vector<BatchTask> PlanBatch(const std::string& folder,
                                 const std::vector<std::string>& sources);

} // namespace dorvane::cli
