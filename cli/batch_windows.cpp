// The batch on Windows, which has no fork: the files are done in the tool's own process, one after
// another, each job with every core (so -j changes nothing), and failures are reported as they
// happen.
#include "batch.hpp"

#include "platform.hpp"
#include "report.hpp"

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <system_error>

namespace dorvane::cli {
namespace {

namespace fs = std::filesystem;

std::string Utf8(const fs::path& path) {
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

// Windows takes names that differ only in case for one; folding the ASCII letters catches the
// usual case.
std::string Folded(std::string name) {
    std::transform(name.begin(), name.end(), name.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
    return name;
}

} // namespace

ExitCode RunBatch(FileJob job, const std::string& folder, const std::vector<std::string>& sources,
                  std::uint32_t) {
    const fs::path target = platform::PathOf(folder.c_str());
    std::error_code error;
    fs::create_directories(target, error);
    if (error) {
        Report(folder, error.message());
        return ExitOutputUnwritable;
    }
    std::set<std::string> names;
    ExitCode first = ExitOk;
    for (const std::string& source : sources) {
        const fs::path name = platform::PathOf(source.c_str()).filename();
        ExitCode status = ExitInvalidArgument;
        if (name.empty() || !names.insert(Folded(Utf8(name))).second) {
            Report(source, "another source has the same file name");
        } else {
            status = job(source, Utf8(target / name), 0);
        }
        first = first == ExitOk ? status : first;
    }
    return first;
}

} // namespace dorvane::cli
