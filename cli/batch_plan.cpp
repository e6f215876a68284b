#include "batch_plan.hpp"

#include "report.hpp"

#include <dorvane/platform.hpp>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

namespace dorvane::cli {
namespace {

namespace fs = std::filesystem;

std::string Utf8(const fs::path& path) {
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

// The form of a file name under which two names are the same file in one folder.
std::string NameKey(const fs::path& name) {
    std::string key = Utf8(name);
#if defined(_WIN32)
    // Windows takes names that differ only in case for one; folding the ASCII letters catches the
    // usual case.
    std::transform(key.begin(), key.end(), key.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
#endif
    return key;
}

BatchTask Refused(ExitCode status, const std::string& subject, const std::string& reason) {
    return {"", status, ReportLine(subject, reason)};
}

} // namespace

bool MakeFolder(const std::string& folder) {
    std::error_code error;
    fs::create_directories(platform::PathOf(folder.c_str()), error);
    if (error) {
        Report(folder, error.message());
        return false;
    }
    return true;
}

std::vector<BatchTask> PlanBatch(const std::string& folder,
                                 const std::vector<std::string>& sources) {
    std::vector<FileLookup> lookups;
    std::map<std::pair<std::uint64_t, std::uint64_t>, const std::string*> identities;
    for (const std::string& source : sources) {
        lookups.push_back(LookUp(source));
        if (lookups.back().Identity && !lookups.back().Folder) {
            identities.emplace(*lookups.back().Identity, &source);
        }
    }
    const fs::path target = platform::PathOf(folder.c_str());
    std::vector<BatchTask> tasks;
    std::set<std::string> names;
    for (std::size_t index = 0; index < sources.size(); ++index) {
        const std::string& source = sources[index];
        const fs::path name = platform::PathOf(source.c_str()).filename();
        if (lookups[index].Folder) {
            tasks.push_back(Refused(ExitSourceUnreadable, source,
                                    std::make_error_code(std::errc::is_a_directory).message()));
        } else if (name.empty()) {
            // Only a path that leads nowhere ends in a separator without being a folder.
            tasks.push_back(Refused(ExitSourceUnreadable, source, lookups[index].Error.message()));
        } else if (!names.insert(NameKey(name)).second) {
            tasks.push_back(
                Refused(ExitInvalidArgument, source, "another source has the same file name"));
        } else {
            const std::string output = Utf8(target / name);
            const auto identity = LookUp(output).Identity;
            const auto same = identity ? identities.find(*identity) : identities.end();
            if (same != identities.end()) {
                tasks.push_back(
                    Refused(ExitOutputUnwritable, output,
                            "the same file as the source " + *same->second + "; not replaced"));
            } else {
                tasks.push_back({output, ExitOk, ""});
            }
        }
    }
    return tasks;
}

} // namespace dorvane::cli
