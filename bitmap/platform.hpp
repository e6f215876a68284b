#pragma once

// The library's one door to the operating system: opening files, the kinds of what paths lead to,
// replacing files, and the processors and memory pages of the machine. Everything else is built
// on the C and C++ standard libraries only.

#include "file_stream.hpp"

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace dorvane::platform {

// Opens path for reading in binary mode. Empty on failure, error then holding the errno; a folder
// is refused with EISDIR.
FileStream OpenForReading(const char* path, int& error);

enum class PathKind { Missing, RegularFile, Folder, Other };

struct ReachedPath {
    PathKind Kind = PathKind::Missing;
    std::filesystem::perms Permissions = std::filesystem::perms::none;
    int Error = 0; // set when the path could not be looked at for a reason other than ENOENT
};

// What opening path reaches, every link followed by the system itself (the /proc/self/fd links of
// pipes and sockets included), without opening it for reading or writing.
ReachedPath Reach(const char* path);

// Opens what path reaches for writing as it is: a device, a pipe, a FIFO or a socket.
FileStream OpenDirect(const char* path, int& error);

// A file in folder that has no name until LinkUnnamed gives it one, so that nothing is left behind
// however the process ends. Empty when the system or the folder's file system offers none, error
// then ENOTSUP, or when creating it failed for another reason (error says which).
FileStream CreateUnnamed(const std::filesystem::path& folder, int& error);
// Gives the unnamed file of stream the name path; fails with EEXIST when path exists.
bool LinkUnnamed(std::FILE* stream, const std::filesystem::path& path, int& error);

// Creates path for writing; fails (EEXIST) when anything already has that name, a symbolic link
// included, which is therefore never followed.
FileStream CreateExclusive(const std::filesystem::path& path, int& error);

// Sets the permission bits of the open file of stream.
bool SetPermissions(std::FILE* stream, std::filesystem::perms permissions, int& error);

// Removes path at once; safe to call from a signal handler.
void RemoveNow(const char* path);

// How many processors this process may run on: the cores, or fewer when the process is bound to
// some of them (taskset, a container's share). At least 1.
std::uint32_t AvailableCores();

// Asks the system to back the size bytes at block, aligned to 2 MiB, with large pages. Advice only.
void AdviseLargePages(void* block, std::size_t size);

} // namespace dorvane::platform
