// The WebAssembly side of the platform layer (WASI, one thread): the library works there on bytes
// in memory only, so every file operation is refused and the machine is one processor.
#include "platform.hpp"

#include <cerrno>

namespace dorvane::platform {

std::filesystem::path PathOf(const char* path) {
    return path;
}

FileStream OpenForReading(const char*, int& error) {
    error = ENOTSUP;
    return {};
}

ReachedPath Reach(const char*) {
    return {};
}

Folder::~Folder() = default;

Destination ReachDestination(const char*) {
    Destination reached;
    reached.Error = ENOTSUP;
    return reached;
}

FileStream CreateUnnamed(const Folder&, int& error) {
    error = ENOTSUP;
    return {};
}

bool LinkUnnamed(std::FILE*, const Folder&, const std::filesystem::path&, int& error) {
    error = ENOTSUP;
    return false;
}

FileStream CreateExclusive(const Folder&, const std::filesystem::path&, int& error) {
    error = ENOTSUP;
    return {};
}

bool SetPermissions(std::FILE*, std::filesystem::perms, int& error) {
    error = ENOTSUP;
    return false;
}

void SetGroup(std::FILE*, std::uint32_t) {}

bool FlushToDisk(std::FILE*, int& error) {
    error = ENOTSUP;
    return false;
}

bool FlushFolder(const Folder&, int& error) {
    error = ENOTSUP;
    return false;
}

bool IsRegularFile(std::FILE*) {
    return false;
}

std::size_t ReadAt(std::FILE*, std::uint8_t*, std::size_t, std::uint64_t, int& error) {
    error = ENOTSUP;
    return 0;
}

bool WriteAt(std::FILE*, const std::uint8_t*, std::size_t, std::uint64_t, int& error) {
    error = ENOTSUP;
    return false;
}

void Reserve(std::FILE*, std::uint64_t, std::uint64_t) {}

bool Rename(const Folder&, const std::filesystem::path&, const std::filesystem::path&, int& error) {
    error = ENOTSUP;
    return false;
}

void Remove(const Folder&, const std::filesystem::path&) {}

void RemoveNow(const char*) {}

bool StandardOutputIsTerminal() {
    return false;
}

std::optional<std::uint64_t> SizeOfFile(const char*) {
    return std::nullopt;
}

std::uint32_t AvailableCores() {
    return 1;
}

void AroundFork(void (*)(), void (*)(), void (*)()) {}

bool EndWithParent(std::int64_t) {
    return false;
}

void AdviseLargePages(void*, std::size_t) {}

} // namespace dorvane::platform

namespace dorvane {

FileStream OpenFile(const char*, const char*) {
    errno = ENOTSUP;
    return {};
}

} // namespace dorvane
