#include "output_checks.hpp"

#include "report.hpp"

#include <dorvane/platform.hpp>

#include <algorithm>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace dorvane::cli {
namespace {

#if defined(_WIN32)
constexpr std::string_view Separators = "/\\";
#else
constexpr std::string_view Separators = "/";
#endif

// The extension of path's last name, from its last dot on; none for a name that starts with its
// only dot, as .profile does.
std::string_view Extension(std::string_view path) {
    const std::size_t slash = path.find_last_of(Separators);
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    return dot == std::string_view::npos || dot == 0 ? std::string_view() : name.substr(dot);
}

bool IsBmpExtension(std::string_view extension) {
    return std::ranges::equal(extension, std::string_view(".bmp"), [](char a, char b) {
        return (a >= 'A' && a <= 'Z' ? static_cast<char>(a + 32) : a) == b;
    });
}

} // namespace

bool LooksLikeAFile(const std::string& folder) {
    std::error_code error;
    const std::filesystem::file_status status =
        std::filesystem::status(platform::PathOf(folder.c_str()), error);
    if (std::filesystem::is_directory(status)) {
        return false;
    }
    return IsBmpExtension(Extension(folder)) || std::filesystem::exists(status);
}

bool IsTerminalOutput(const std::string& output) {
    return output == "-" && platform::StandardOutputIsTerminal();
}

void WarnOfExtension(const std::string& output) {
    const std::string_view extension = Extension(output);
    if (!extension.empty() && !IsBmpExtension(extension)) {
        Report(output,
               "warning: written as a BMP file, though its name ends in " + std::string(extension));
    }
}

} // namespace dorvane::cli
