// The Windows side of the platform layer. Paths arrive as UTF-8 and reach the system through its
// wide (UTF-16) functions, so that no name passes through the ANSI code page.
#include "platform.hpp"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>
#include <system_error>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace dorvane::platform {
namespace {

constexpr int MaxSymbolicLinkHops = 40;

// The errno that says what a Win32 error says, so that failures read as on other systems.
int ErrnoOf(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
        return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_INVALID_NAME:
        return EINVAL;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    case ERROR_TOO_MANY_OPEN_FILES:
        return EMFILE;
    case ERROR_NOT_SAME_DEVICE:
        return EXDEV;
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
        return EPIPE;
    default:
        return EIO;
    }
}

int LastErrno() {
    return ErrnoOf(::GetLastError());
}

// The UTF-16 form of the UTF-8 text; false, error EILSEQ, when it is not valid UTF-8.
bool Widen(const char* text, std::wstring& wide, int& error) {
    const int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
    if (length == 0) {
        error = EILSEQ;
        return false;
    }
    wide.resize(static_cast<std::size_t>(length));
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, wide.data(), length);
    wide.pop_back(); // the terminator, which the string keeps itself
    return true;
}

// Opens path as CreateFileW does, errno set on failure.
HANDLE Open(const char* path, DWORD access, DWORD sharing, DWORD disposition, DWORD flags,
            int& error) {
    std::wstring wide;
    if (!Widen(path, wide, error)) {
        return INVALID_HANDLE_VALUE;
    }
    const HANDLE handle =
        ::CreateFileW(wide.c_str(), access, sharing, nullptr, disposition, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = LastErrno();
    }
    return handle;
}

// Wraps a handle in a stream of the C library, closing it when no stream can be had.
FileStream StreamOf(HANDLE handle, int flags, const char* mode, int& error) {
    if (handle == INVALID_HANDLE_VALUE) {
        return {};
    }
    const int descriptor = ::_open_osfhandle(reinterpret_cast<std::intptr_t>(handle), flags);
    if (descriptor < 0) {
        error = errno;
        ::CloseHandle(handle);
        return {};
    }
    FileStream stream(::_fdopen(descriptor, mode));
    if (!stream) {
        error = errno;
        ::_close(descriptor);
    }
    return stream;
}

bool IsFolder(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION information{};
    return ::GetFileInformationByHandle(handle, &information) != 0 &&
           (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

} // namespace

std::filesystem::path PathOf(const char* path) {
    std::wstring wide;
    int error = 0;
    return Widen(path, wide, error) ? std::filesystem::path(std::move(wide))
                                    : std::filesystem::path();
}

FileStream OpenForReading(const char* path, int& error) {
    // Backup semantics open a folder too, so that it is refused as elsewhere; sharing deletion
    // lets a save replace the file while it is read.
    const HANDLE handle =
        Open(path, GENERIC_READ, ShareAll, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, error);
    if (handle != INVALID_HANDLE_VALUE && IsFolder(handle)) {
        ::CloseHandle(handle);
        error = EISDIR;
        return {};
    }
    return StreamOf(handle, _O_RDONLY | _O_BINARY, "rb", error);
}

ReachedPath Reach(const char* path) {
    ReachedPath reached;
    int error = 0;
    // Opened for no access at all: the system follows the links, and nothing is read or written.
    const HANDLE handle = Open(path, 0, ShareAll, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, error);
    if (handle == INVALID_HANDLE_VALUE) {
        return reached;
    }
    BY_HANDLE_FILE_INFORMATION information{};
    // Devices such as NUL and CON, and pipes, are no files on a disk.
    if (::GetFileType(handle) == FILE_TYPE_DISK &&
        ::GetFileInformationByHandle(handle, &information) != 0) {
        reached.Kind = (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                           ? PathKind::Folder
                           : PathKind::RegularFile;
    } else {
        reached.Kind = PathKind::Other;
    }
    ::CloseHandle(handle);
    return reached;
}

// Links need a privilege to be made on Windows, and no folder is shared as a sticky one: each is
// followed by its text to the file that a save replaces. The read-only attribute, which is what a
// Windows file has of permission bits, is refused where the permissions are set (SetPermissions).
Destination ReachDestination(const char* path) {
    Destination reached;
    std::filesystem::path current = PathOf(path);
    if (current.empty()) {
        reached.Error = EILSEQ;
        return reached;
    }
    std::error_code error;
    for (int hops = 0; std::filesystem::is_symlink(std::filesystem::symlink_status(current, error));
         ++hops) {
        const std::filesystem::path target = std::filesystem::read_symlink(current, error);
        if (error || hops == MaxSymbolicLinkHops) {
            reached.Error = error ? error.value() : ELOOP;
            return reached;
        }
        current = target.is_absolute() ? target : current.parent_path() / target;
    }
    const HANDLE handle = ::CreateFileW(current.c_str(), 0, ShareAll, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        reached.Error = LastErrno();
        if (reached.Error == ENOENT) {
            reached.Error = 0;
            reached.Place = Folder(current.parent_path());
            reached.Name = current.filename();
            reached.Path = current;
        }
        return reached;
    }
    BY_HANDLE_FILE_INFORMATION information{};
    const bool disk = ::GetFileType(handle) == FILE_TYPE_DISK &&
                      ::GetFileInformationByHandle(handle, &information) != 0;
    ::CloseHandle(handle);
    if (!disk) {
        // Devices such as NUL and CON, and pipes, are written as they are.
        const HANDLE direct =
            ::CreateFileW(current.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          nullptr, OPEN_EXISTING, 0, nullptr);
        if (direct == INVALID_HANDLE_VALUE) {
            reached.Error = LastErrno();
            return reached;
        }
        reached.Direct = StreamOf(direct, _O_WRONLY | _O_BINARY, "wb", reached.Error);
        return reached;
    }
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        reached.Error = EISDIR;
        return reached;
    }
    reached.Exists = true;
    reached.Permissions = static_cast<std::filesystem::perms>(
        (information.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0 ? 0444 : 0666);
    reached.Place = Folder(current.parent_path());
    reached.Name = current.filename();
    reached.Path = current;
    return reached;
}

// Windows has no files without a name: the replacement takes a named one.
FileStream CreateUnnamed(const Folder&, int& error) {
    error = ENOTSUP;
    return {};
}

bool LinkUnnamed(std::FILE*, const Folder&, const std::filesystem::path&, int& error) {
    error = ENOTSUP;
    return false;
}

FileStream CreateExclusive(const Folder& folder, const std::filesystem::path& name, int& error) {
    // Sharing deletion lets RemoveUnfinishedFiles remove the file while it is being written.
    const HANDLE handle = ::CreateFileW((folder.Where() / name).c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = LastErrno();
    }
    return StreamOf(handle, _O_WRONLY | _O_BINARY, "wb", error);
}

bool SetPermissions(std::FILE*, std::filesystem::perms permissions, int& error) {
    if ((permissions & std::filesystem::perms::owner_write) == std::filesystem::perms::none) {
        error = EACCES;
        return false;
    }
    return true;
}

// A new file takes its folder's access list; there are no groups to keep.
void SetGroup(std::FILE*, std::uint32_t) {}

bool FlushToDisk(std::FILE* stream, int& error) {
    if (::FlushFileBuffers(reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)))) == 0) {
        error = LastErrno();
        return false;
    }
    return true;
}

// Rename writes the folder's entry through to the disk itself.
bool FlushFolder(const Folder&, int&) {
    return true;
}

bool IsRegularFile(std::FILE* stream) {
    return ::GetFileType(reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)))) ==
           FILE_TYPE_DISK;
}

std::size_t ReadAt(std::FILE* stream, std::uint8_t* bytes, std::size_t size, std::uint64_t offset,
                   int& error) {
    error = 0;
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
    std::size_t got = 0;
    while (got < size) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset + got);
        at.OffsetHigh = static_cast<DWORD>((offset + got) >> 32);
        const auto piece = static_cast<DWORD>(std::min<std::size_t>(size - got, DWORD{1} << 30));
        DWORD read = 0;
        if (::ReadFile(handle, bytes + got, piece, &read, &at) == 0) {
            // A read that starts at the end of the file fails with this code.
            const DWORD code = ::GetLastError();
            error = code == ERROR_HANDLE_EOF ? 0 : ErrnoOf(code);
            break;
        }
        if (read == 0) {
            break;
        }
        got += read;
    }
    return got;
}

bool WriteAt(std::FILE* stream, const std::uint8_t* bytes, std::size_t size, std::uint64_t offset,
             int& error) {
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
    while (size > 0) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        const auto piece = static_cast<DWORD>(std::min<std::size_t>(size, DWORD{1} << 30));
        DWORD written = 0;
        if (::WriteFile(handle, bytes, piece, &written, &at) == 0 || written == 0) {
            error = written == 0 ? EIO : LastErrno();
            return false;
        }
        bytes += written;
        size -= written;
        offset += written;
    }
    return true;
}

bool Rename(const Folder& folder, const std::filesystem::path& from,
            const std::filesystem::path& to, int& error) {
    if (::MoveFileExW((folder.Where() / from).c_str(), (folder.Where() / to).c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0) {
        error = LastErrno();
        return false;
    }
    return true;
}

void Remove(const Folder& folder, const std::filesystem::path& name) {
    ::DeleteFileW((folder.Where() / name).c_str());
}

void RemoveNow(const wchar_t* path) {
    ::DeleteFileW(path);
}

bool StandardOutputIsTerminal() {
    return ::_isatty(::_fileno(stdout)) != 0;
}

std::optional<std::uint64_t> SizeOfFile(const char* path) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(PathOf(path), error);
    if (error) {
        return std::nullopt;
    }
    return size;
}

std::uint32_t AvailableCores() {
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    if (::GetProcessAffinityMask(::GetCurrentProcess(), &process, &system) != 0 &&
        process != system) {
        // Bound to some processors of its group (start /affinity, a job object).
        return static_cast<std::uint32_t>(std::max(1, std::popcount(process)));
    }
    return std::max<std::uint32_t>(1, ::GetActiveProcessorCount(ALL_PROCESSOR_GROUPS));
}

void AroundFork(void (*)(), void (*)(), void (*)()) {
    // Windows has no fork.
}

bool EndWithParent(std::int64_t) {
    return true;
}

// Large pages need a privilege and memory of their own on Windows; the block keeps small ones.
void AdviseLargePages(void*, std::size_t) {}

void Reserve(std::FILE*, std::uint64_t, std::uint64_t) {}

void SleepOnAddress(const volatile void* address, const void* old, std::size_t size) {
    ::WaitOnAddress(const_cast<volatile void*>(address), const_cast<void*>(old), size, INFINITE);
}

void WakeAddress(const volatile void* address) {
    ::WakeByAddressAll(const_cast<void*>(address));
}

} // namespace dorvane::platform

namespace dorvane {

FileStream OpenFile(const char* path, const char* mode) {
    std::wstring widePath;
    std::wstring wideMode;
    int error = 0;
    if (!platform::Widen(path, widePath, error) || !platform::Widen(mode, wideMode, error)) {
        errno = error;
        return {};
    }
    return FileStream(::_wfopen(widePath.c_str(), wideMode.c_str()));
}

} // namespace dorvane
