#include "file_replacement.hpp"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>
#include <system_error>
#include <utility>

#include <sys/stat.h>

namespace dorvane {
namespace fs = std::filesystem;

namespace {

constexpr int MaxSymbolicLinkHops = 40;
constexpr int MaxNameAttempts = 100;

// The path that the links of destination lead to (destination itself when it is no link); empty
// when a link cannot be read or the chain is too long, as opening it would fail too.
fs::path ResolveLinks(const fs::path& destination) {
    fs::path current = destination;
    for (int hop = 0; hop < MaxSymbolicLinkHops; ++hop) {
        std::error_code error;
        if (!fs::is_symlink(fs::symlink_status(current, error))) {
            return current;
        }
        const fs::path target = fs::read_symlink(current, error);
        if (error) {
            return {};
        }
        current = target.is_absolute() ? target : current.parent_path() / target;
    }
    return {};
}

// A name unlikely to be taken; CreateExclusive settles the rare collision, and the caller then
// tries another.
std::string TemporaryName() {
    static std::atomic<std::uint64_t> counter{0};
    const auto ticks =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    const std::uint64_t serial = counter.fetch_add(1, std::memory_order_relaxed);
    std::uint64_t mixed =
        ticks ^ (serial * 0x9E3779B97F4A7C15ULL) ^ reinterpret_cast<std::uintptr_t>(&counter);
    static constexpr char digits[] = "0123456789abcdef";
    std::string name = ".dorvane-save-";
    for (int i = 0; i < 16; ++i, mixed >>= 4) {
        name += digits[mixed & 0x0F];
    }
    name += ".tmp";
    return name;
}

// Sets the mode through the open file, not its name: someone who may write the folder could
// have put a link in the temporary file's place by now.
bool SetMode(std::FILE* stream, fs::perms mode) {
    return ::fchmod(::fileno(stream), static_cast<::mode_t>(mode)) == 0;
}

} // namespace

FileStream CreateExclusive(const fs::path& path) {
    return OpenFile(path.c_str(), "wbx");
}

FileReplacement::~FileReplacement() {
    Abandon();
}

bool FileReplacement::Open(const char* destination) {
    Abandon();
    if (destination == nullptr || *destination == '\0') {
        return false;
    }
    const fs::path target = ResolveLinks(destination);
    if (target.empty()) {
        return false;
    }
    std::error_code error;
    const fs::file_status status = fs::status(target, error);
    if (fs::exists(status) && !fs::is_regular_file(status)) {
        // Devices and FIFOs cannot be replaced by renaming; they are written as they are.
        File = OpenFile(target.c_str(), "wb");
        return File != nullptr;
    }
    KeepPermissions = fs::is_regular_file(status);
    Permissions = status.permissions();
    Destination = target;
    const fs::path folder = target.parent_path();
    for (int attempt = 0; attempt < MaxNameAttempts; ++attempt) {
        fs::path candidate = folder / TemporaryName();
        errno = 0;
        File = CreateExclusive(candidate);
        if (File) {
            // A move cannot throw: once the file exists, Abandon must know its name.
            Temporary = std::move(candidate);
            if (KeepPermissions) {
                // Never readable by more than the file it replaces, not even while it is written;
                // the special bits follow in Commit, as writing might clear them.
                SetMode(File.get(), Permissions & fs::perms::all);
            }
            return true;
        }
        if (errno != EEXIST) {
            return false;
        }
    }
    return false;
}

bool FileReplacement::Commit() {
    if (!File) {
        return false;
    }
    std::FILE* const stream = File.release();
    bool written = std::fflush(stream) == 0 && std::ferror(stream) == 0;
    if (written && KeepPermissions) {
        written = SetMode(stream, Permissions);
    }
    written = std::fclose(stream) == 0 && written;
    if (Temporary.empty()) {
        return written;
    }
    std::error_code error;
    if (written) {
        fs::rename(Temporary, Destination, error);
        written = !error;
    }
    if (!written) {
        fs::remove(Temporary, error);
    }
    Temporary.clear();
    Destination.clear();
    return written;
}

void FileReplacement::Abandon() {
    File.reset();
    if (!Temporary.empty()) {
        std::error_code error;
        fs::remove(Temporary, error);
        Temporary.clear();
    }
    Destination.clear();
    KeepPermissions = false;
}

} // namespace dorvane
