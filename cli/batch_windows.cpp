// The batch on Windows, which has no fork: the files are done in the tool's own process, one after
// another, each job with every core (so -j changes nothing), and failures are reported as they
// happen.
#include "batch.hpp"

#include "batch_plan.hpp"

#include <dorvane/platform.hpp>

#include <filesystem>
#include <iostream>

#include <windows.h>

namespace dorvane::cli {
namespace {

// The volume and the number of the file that path leads to, which all its names share.
std::optional<std::pair<std::uint64_t, std::uint64_t>>
IdentityOf(const std::filesystem::path& path) {
    // No access asked for: the file's information only. Folders open only with backup semantics.
    const HANDLE file =
        ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    BY_HANDLE_FILE_INFORMATION information{};
    const bool known = ::GetFileInformationByHandle(file, &information) != 0;
    ::CloseHandle(file);
    if (!known) {
        return std::nullopt;
    }
    return std::pair{std::uint64_t{information.dwVolumeSerialNumber},
                     (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow};
}

} // namespace

FileLookup LookUp(const std::string& utf8) {
    const std::filesystem::path path = platform::PathOf(utf8.c_str());
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    return {std::filesystem::is_directory(status), IdentityOf(path), error};
}

ExitCode RunBatch(FileJob job, const std::string& folder, const std::vector<std::string>& sources,
                  std::uint32_t, bool sync) {
    if (!MakeFolder(folder)) {
        return ExitOutputUnwritable;
    }
    const std::vector<BatchTask> tasks = PlanBatch(folder, sources);
    ExitCode first = ExitOk;
    for (std::size_t index = 0; index < sources.size(); ++index) {
        const BatchTask& task = tasks[index];
        std::cerr << task.Message;
        const ExitCode status =
            task.Refusal != ExitOk ? task.Refusal : job(sources[index], task.Output, {0, sync});
        first = first == ExitOk ? status : first;
    }
    return first;
}

} // namespace dorvane::cli
