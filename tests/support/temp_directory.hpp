#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <span>
#include <string>
#include <vector>

namespace dorvane::testing {

// The tests' paths are UTF-8 text, as the library's are; std::filesystem would read and write
// narrow paths in the ANSI code page on Windows.
inline std::filesystem::path PathOf(const std::string& utf8) {
    return std::u8string(utf8.begin(), utf8.end());
}
inline std::string Utf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

// A fresh folder under the system's temporary directory, removed with everything in it.
class TempDirectory {
  public:
    TempDirectory() {
        std::random_device random;
        const auto base = std::filesystem::temp_directory_path();
        do {
            Path = base / ("dorvane-test-" + std::to_string(random()) + std::to_string(random()));
        } while (!std::filesystem::create_directory(Path));
    }
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;
    ~TempDirectory() {
        std::error_code ignored;
        // A test may have made the folder read-only.
        std::filesystem::permissions(Path, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(Path, ignored);
    }

    std::string File(const std::string& name) const { return Utf8(Path / PathOf(name)); }

    // Writes bytes to a file of the folder and returns its path.
    std::string Write(const std::string& name, std::span<const std::uint8_t> bytes) const {
        const std::string path = File(name);
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    // Names of the entries in the folder, sorted.
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(Path)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    std::filesystem::path Path;
};

} // namespace dorvane::testing
