#pragma once

#include <filesystem>
#include <random>
#include <string>

namespace dorvane::testing {

// A fresh folder under the system's temporary directory, removed with everything in it.
class TempDirectory {
public:
    TempDirectory() {
        std::random_device random;
        const auto base = std::filesystem::temp_directory_path();
        do {
            Path = base / ("dorvane-test-" + std::to_string(random()));
        } while (!std::filesystem::create_directory(Path));
    }
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;
    ~TempDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(Path, ignored);
    }

    std::string File(const std::string& name) const { return (Path / name).string(); }

    std::filesystem::path Path;
};

} // namespace dorvane::testing
