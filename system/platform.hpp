#pragma once

// The library's one door to the operating system: opening files, the kinds of what paths lead to,
// replacing files, and the processors and memory pages of the machine. Everything else is built
// on the C and C++ standard libraries only.

#include "file_stream.hpp"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <utility>

namespace dorvane::platform {

// Paths are UTF-8 text. The path that std::filesystem takes for path: the same bytes on POSIX; on
// Windows their UTF-16 form (std::filesystem::path would read them in the ANSI code page), empty
// when they are not valid UTF-8.
std::filesystem::path PathOf(const char* path);

// Opens path for reading in binary mode. Empty on failure, error then holding the errno; a folder
// is refused with EISDIR. A path that names a descriptor of this process (HeldDescriptor) reads
// that descriptor as it is, from its offset, whatever it leads to.
FileStream OpenForReading(const char* path, int& error);

enum class PathKind { Missing, RegularFile, Folder, Other };

struct ReachedPath {
    PathKind Kind = PathKind::Missing;
};

// What opening path reaches, every link followed by the system itself (the /proc/self/fd links of
// pipes and sockets included), without opening it for reading or writing.
ReachedPath Reach(const char* path);

// A folder held open, so that the names in it are reached from it by the system, whatever becomes
// of the path it was found by. On Windows, its path.
class Folder {
  public:
    Folder() = default;
#if defined(_WIN32)
    explicit Folder(std::filesystem::path path) : Path(std::move(path)) {}
    const std::filesystem::path& Where() const {
        return Path;
    }
#else
    explicit Folder(int descriptor) : Descriptor(descriptor) {}
    Folder(Folder&& other) noexcept : Descriptor(std::exchange(other.Descriptor, -1)) {}
    Folder& operator=(Folder&& other) noexcept {
        std::swap(Descriptor, other.Descriptor);
        return *this;
    }
    ~Folder();
    int Where() const {
        return Descriptor;
    }
#endif

  private:
#if defined(_WIN32)
    std::filesystem::path Path;
#else
    int Descriptor = -1;
#endif
};

// Where a save goes, as the path leads there.
struct Destination {
    // The errno when it leads nowhere that can be written.
    int Error = 0;
    // Error is EACCES for a symbolic link that is not followed (see ReachDestination).
    bool UntrustedLink = false;
    // One of the process's descriptors, a device, a pipe, a FIFO or a socket, opened to be
    // written as it is.
    FileStream Direct;
    // Otherwise a regular file or a name that does not exist yet: the folder it is in, held open,
    // its name there, and its path as the links spelled it.
    Folder Place;
    std::filesystem::path Name;
    std::filesystem::path Path;
    // Whether a regular file is there, and its permission bits and group (where the system has
    // groups).
    bool Exists = false;
    std::filesystem::perms Permissions = std::filesystem::perms::none;
    std::uint32_t Group = 0;
};

// Follows path to where a save goes. A name of one of the process's descriptors (/dev/stdout,
// /dev/fd/N, /proc/self/fd/N, /proc/PID/fd/N of this process), directly or through links, is that
// descriptor, written through a copy of it whatever it leads to: at its offset, in append mode if
// it was opened so, into the same file. Every other link is followed as the system follows it for
// the caller, from the folder it was found in: one in a sticky folder that anyone may write only
// when the caller or the folder's owner owns it (the rule of Linux's protected_symlinks, kept
// wherever the system itself does not), so that whoever may write such a folder cannot lead a
// save elsewhere (on Windows, where links take a privilege to make, each is followed by its text).
// A folder is refused (EISDIR), and so is a regular file that the caller may not write (EACCES), as
// opening it would be.
Destination ReachDestination(const char* path);

// A file in folder that has no name until LinkUnnamed gives it one, so that nothing is left behind
// however the process ends. Empty when the system or the folder's file system offers none, error
// then ENOTSUP, or when creating it failed for another reason (error says which).
FileStream CreateUnnamed(const Folder& folder, int& error);
// Gives the unnamed file of stream the name name in folder; fails with EEXIST when the name is
// taken, and with another error where the system refuses (no /proc, say).
bool LinkUnnamed(std::FILE* stream, const Folder& folder, const std::filesystem::path& name,
                 int& error);

// Creates name in folder for writing; fails (EEXIST) when anything already has that name, a
// symbolic link included, which is therefore never followed.
FileStream CreateExclusive(const Folder& folder, const std::filesystem::path& name, int& error);

// Sets the permission bits of the open file of stream.
bool SetPermissions(std::FILE* stream, std::filesystem::perms permissions, int& error);
// Gives the open file of stream the owning group group, where the caller may; otherwise, and on
// systems without groups, leaves it as it is.
void SetGroup(std::FILE* stream, std::uint32_t group);

// Makes the system write the data of the file of stream, and what is needed to read it back, to
// the disk before returning.
bool FlushToDisk(std::FILE* stream, int& error);
// The same for the entries of folder (a name just given to a file), where the system can.
bool FlushFolder(const Folder& folder, int& error);

// Whether the file of stream is a regular file, which ReadAt and WriteAt can reach anywhere.
bool IsRegularFile(std::FILE* stream);

// Reads up to size bytes at offset of the file of stream, past the stream's buffer, which must
// not be read from afterwards (its position may move); several threads may read at once. Returns
// how many bytes it read: fewer only at the end of the file or when reading failed, error then
// holding the errno (0 at the end). Interrupted reads are taken up again.
std::size_t ReadAt(std::FILE* stream, std::uint8_t* bytes, std::size_t size, std::uint64_t offset,
                   int& error);

// Writes size bytes at offset of the file of stream, whose buffer must be empty and which must
// not be written to afterwards (its position may move); several threads may write different
// parts of the file at once. False when writing failed, error then saying why.
bool WriteAt(std::FILE* stream, const std::uint8_t* bytes, std::size_t size, std::uint64_t offset,
             int& error);

// Asks the system to set aside bytes offset .. offset + size - 1 of the file of stream before
// they are written, without changing the file's size; several threads may ask at once. Where the
// file lives in memory, its pages are then allocated here rather than in the write, which holds
// the file's lock. Advice only, taken on Linux; elsewhere, and where the file system cannot
// reserve, nothing happens.
void Reserve(std::FILE* stream, std::uint64_t offset, std::uint64_t size);

// Renames from to to in folder, replacing the file that to names in one step (on Windows, written
// through to the disk).
bool Rename(const Folder& folder, const std::filesystem::path& from,
            const std::filesystem::path& to, int& error);

// Removes name from folder, if it can.
void Remove(const Folder& folder, const std::filesystem::path& name);

// Removes path (in the system's own encoding) at once; safe to call from a signal handler.
void RemoveNow(const std::filesystem::path::value_type* path);

// How many processors this process may run on: the cores, or fewer when the process is bound to
// some of them (taskset, a container's share). At least 1.
std::uint32_t AvailableCores();

// The size of the file at path, as the system has it now; nothing when it cannot be known (no file
// there, or no files, as in WebAssembly).
std::optional<std::uint64_t> SizeOfFile(const char* path);

// Whether the process's standard output is a terminal.
bool StandardOutputIsTerminal();

// Has prepare run in the thread that forks the process, before the fork, and parent and child
// after it, in the parent and in the child (pthread_atfork). Nothing on systems without fork.
void AroundFork(void (*prepare)(), void (*parent)(), void (*child)());

// In a child process just forked from parent: has the system end the child (SIGTERM) when the
// parent ends, where it can (Linux). False when the parent ended before that could be asked.
bool EndWithParent(std::int64_t parent);

// Asks the system to back the size bytes at block, aligned to 2 MiB, with large pages. Advice only.
void AdviseLargePages(void* block, std::size_t size);

#if defined(_WIN32)
// One sleep of the system's WaitOnAddress: until WakeAddress, unless the size bytes at address
// differ from old; it may also end for no reason.
void SleepOnAddress(const volatile void* address, const void* old, std::size_t size);
void WakeAddress(const volatile void* address);
#endif

// Blocks while value holds old, as value.wait(old) does. On Windows the system waits instead: the
// C++ library of MinGW-w64's GCC 12 can miss the wake-up there (its bug 106183).
template <typename T> void Wait(const std::atomic<T>& value, T old) {
#if defined(_WIN32)
    static_assert(sizeof value == sizeof old);
    while (value.load() == old) {
        SleepOnAddress(&value, &old, sizeof old);
    }
#else
    value.wait(old);
#endif
}

// Wakes every thread that Wait blocks on value, as value.notify_all() does.
template <typename T> void WakeAll(std::atomic<T>& value) {
#if defined(_WIN32)
    WakeAddress(&value);
#else
    value.notify_all();
#endif
}

} // namespace dorvane::platform
