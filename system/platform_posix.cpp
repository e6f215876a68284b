// The POSIX side of the platform layer, with Linux's extras where the system has them.
#include "platform.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <csignal>
#include <cstdio>
#include <string>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__linux__)
#include <linux/magic.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/vfs.h>
#endif

namespace dorvane::platform {
namespace {

constexpr int MaxSymbolicLinkHops = 40;

// Wraps a descriptor in a stream, closing it when no stream can be had.
FileStream StreamOf(int descriptor, const char* mode, int& error) {
    if (descriptor < 0) {
        error = errno;
        return {};
    }
    FileStream stream(::fdopen(descriptor, mode));
    if (!stream) {
        error = errno;
        ::close(descriptor);
    }
    return stream;
}

PathKind KindOf(const struct ::stat& status) {
    if (S_ISREG(status.st_mode)) {
        return PathKind::RegularFile;
    }
    return S_ISDIR(status.st_mode) ? PathKind::Folder : PathKind::Other;
}

// A socket cannot be opened by name, even through /proc/self/fd: when the process holds it, a
// copy of its own descriptor serves.
int DuplicateHeldSocket(const struct ::stat& socket) {
    const long limit = std::min(::sysconf(_SC_OPEN_MAX), 65536L);
    for (int descriptor = 0; descriptor < limit; ++descriptor) {
        struct ::stat status {};
        if (::fstat(descriptor, &status) == 0 && S_ISSOCK(status.st_mode) &&
            status.st_dev == socket.st_dev && status.st_ino == socket.st_ino) {
            return ::fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
        }
    }
    errno = ENXIO;
    return -1;
}

// The descriptor of this process that path names by itself (/dev/stdout, /dev/stderr, /dev/fd/N,
// /proc/self/fd/N, /proc/PID/fd/N of this process), without following any link; -1 for any other
// path.
int HeldDescriptor(const std::filesystem::path& path) {
    const std::string text = path.lexically_normal().string();
    if (text == "/dev/stdin" || text == "/dev/stdout" || text == "/dev/stderr") {
        return text == "/dev/stdin" ? 0 : text == "/dev/stdout" ? 1 : 2;
    }
    const std::string self = "/proc/" + std::to_string(::getpid()) + "/fd/";
    for (const std::string& folder :
         {std::string("/dev/fd/"), std::string("/proc/self/fd/"), self}) {
        if (text.size() > folder.size() && text.starts_with(folder)) {
            const char* const digits = text.c_str() + folder.size();
            int descriptor = 0;
            const auto [end, error] =
                std::from_chars(digits, text.c_str() + text.size(), descriptor);
            return error == std::errc() && *end == '\0' && descriptor >= 0 ? descriptor : -1;
        }
    }
    return -1;
}

// A stream that writes through a copy of the process's descriptor. Fails with EBADF for a closed
// descriptor, EISDIR for a folder.
FileStream OpenHeldDescriptor(int descriptor, int& error) {
    struct ::stat status {};
    if (::fstat(descriptor, &status) != 0) {
        error = errno;
        return {};
    }
    if (S_ISDIR(status.st_mode)) {
        error = EISDIR;
        return {};
    }
    // "w" truncates nothing here: the copy shares the descriptor's offset and append mode.
    return StreamOf(::fcntl(descriptor, F_DUPFD_CLOEXEC, 0), "wb", error);
}

// Opens folder (the current one when empty), found from the folder at, for reaching its names.
int OpenFolder(int at, const std::filesystem::path& folder) {
    return ::openat(at, folder.empty() ? "." : folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

// Whether the system, guarding links, would follow the link of status in folder for this process:
// in a sticky folder that anyone may write, only a link of the caller's or the folder's owner's.
bool MayFollow(int folder, const struct ::stat& link) {
    struct ::stat status {};
    if (::fstat(folder, &status) != 0) {
        return false;
    }
    const bool shared = (status.st_mode & S_ISVTX) != 0 && (status.st_mode & S_IWOTH) != 0;
    return !shared || link.st_uid == ::geteuid() || link.st_uid == status.st_uid;
}

// Opens name in folder to write into it as it is, a device, a pipe, a FIFO or a socket, while it
// is the file of expected; follow is 0 or O_NOFOLLOW.
FileStream OpenDirect(int folder, const std::filesystem::path& name, int follow,
                      const struct ::stat& expected, int& error) {
    int descriptor = ::openat(folder, name.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | follow);
    if (descriptor < 0 && errno == ENXIO && S_ISSOCK(expected.st_mode)) {
        descriptor = DuplicateHeldSocket(expected);
    }
    struct ::stat status {};
    if (descriptor >= 0 && (::fstat(descriptor, &status) != 0 || status.st_dev != expected.st_dev ||
                            status.st_ino != expected.st_ino)) {
        ::close(descriptor);
        descriptor = -1;
        errno = EAGAIN; // another file took the name meanwhile
    }
    return StreamOf(descriptor, "wb", error);
}

// Whether folder is in /proc, whose links the system makes and follows to what a process holds.
bool InProcesses(int folder) {
#if defined(__linux__)
    struct ::statfs system {};
    return ::fstatfs(folder, &system) == 0 && system.f_type == PROC_SUPER_MAGIC;
#else
    static_cast<void>(folder);
    return false;
#endif
}

// Where the entry name of folder, which is no link, takes a save; spelled is its path.
void Settle(Destination& reached, Folder folder, const std::filesystem::path& name,
            const struct ::stat& status, std::filesystem::path spelled) {
    if (S_ISDIR(status.st_mode)) {
        reached.Error = EISDIR;
        return;
    }
    if (!S_ISREG(status.st_mode)) {
        // Devices, pipes and sockets cannot be replaced by renaming; they are written as they are.
        reached.Direct = OpenDirect(folder.Where(), name, O_NOFOLLOW, status, reached.Error);
        return;
    }
    // Refused as opening it would be, the effective ids deciding: a read-only file is not replaced
    // behind its back.
    if (::faccessat(folder.Where(), name.c_str(), W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0) {
        reached.Error = errno;
        return;
    }
    reached.Exists = true;
    reached.Permissions = static_cast<std::filesystem::perms>(status.st_mode & 07777);
    reached.Group = status.st_gid;
    reached.Place = std::move(folder);
    reached.Name = name;
    reached.Path = std::move(spelled);
}

} // namespace

std::filesystem::path PathOf(const char* path) {
    return path;
}

FileStream OpenForReading(const char* path, int& error) {
    // A descriptor of this process named by itself (/dev/stdin, /dev/fd/N) is read through a
    // copy, from its offset, as cat reads standard input: opened again by name, a file would start
    // over, a socket or a system without /proc fail, and the file's permissions be asked again.
    const int held = HeldDescriptor(path);
    if (held >= 0) {
        struct ::stat status {};
        if (::fstat(held, &status) != 0) {
            error = errno;
            return {};
        }
        if (S_ISDIR(status.st_mode)) {
            error = EISDIR;
            return {};
        }
        return StreamOf(::fcntl(held, F_DUPFD_CLOEXEC, 0), "rb", error);
    }
    const int descriptor = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (descriptor >= 0) {
        struct ::stat status {};
        if (::fstat(descriptor, &status) == 0 && S_ISDIR(status.st_mode)) {
            ::close(descriptor);
            error = EISDIR;
            return {};
        }
    }
    return StreamOf(descriptor, "rb", error);
}

ReachedPath Reach(const char* path) {
    struct ::stat status {};
    return {::stat(path, &status) == 0 ? KindOf(status) : PathKind::Missing};
}

Folder::~Folder() {
    if (Descriptor >= 0) {
        ::close(Descriptor);
    }
}

Destination ReachDestination(const char* path) {
    Destination reached;
    // A link's text is read from the folder the link is in, as the system reads it, and spelled
    // after the path that led there.
    Folder from(AT_FDCWD);
    std::filesystem::path walk = path;
    std::filesystem::path spelled = walk;
    for (int hop = 0; hop < MaxSymbolicLinkHops; ++hop) {
        const int held = HeldDescriptor(spelled);
        if (held >= 0) {
            reached.Direct = OpenHeldDescriptor(held, reached.Error);
            return reached;
        }
        const std::filesystem::path name = walk.filename();
        if (name.empty() || name == "." || name == "..") {
            const Folder named(OpenFolder(from.Where(), walk));
            reached.Error = named.Where() >= 0 ? EISDIR : errno;
            return reached;
        }
        Folder folder(OpenFolder(from.Where(), walk.parent_path()));
        if (folder.Where() < 0) {
            reached.Error = errno;
            return reached;
        }
        // The entry itself is held, as a folder is, so that the link looked at is the one read.
        const Folder entry(::openat(folder.Where(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct ::stat status {};
        if (entry.Where() < 0 && errno == ENOENT) {
            reached.Place = std::move(folder);
            reached.Name = name;
            reached.Path = std::move(spelled);
            return reached;
        }
        if (entry.Where() < 0 || ::fstat(entry.Where(), &status) != 0) {
            reached.Error = errno;
            return reached;
        }
        if (!S_ISLNK(status.st_mode)) {
            Settle(reached, std::move(folder), name, status, std::move(spelled));
            return reached;
        }
        if (!MayFollow(folder.Where(), status)) {
            reached.Error = EACCES;
            reached.UntrustedLink = true;
            return reached;
        }
        // A link of /proc/PID/fd to a pipe or a socket reads "pipe:[N]", which is no path: the
        // system follows it to what the process holds, which is written as it is.
        if (InProcesses(folder.Where()) &&
            ::fstatat(folder.Where(), name.c_str(), &status, 0) == 0 && !S_ISREG(status.st_mode)) {
            if (S_ISDIR(status.st_mode)) {
                reached.Error = EISDIR;
            } else {
                reached.Direct = OpenDirect(folder.Where(), name, 0, status, reached.Error);
            }
            return reached;
        }
        std::string target(PATH_MAX, '\0');
        const ::ssize_t length = ::readlinkat(entry.Where(), "", target.data(), target.size());
        if (length < 0) {
            reached.Error = errno;
            return reached;
        }
        target.resize(static_cast<std::size_t>(length));
        walk = target;
        spelled = walk.is_absolute() ? walk : spelled.parent_path() / walk;
        from = walk.is_absolute() ? Folder(AT_FDCWD) : std::move(folder);
    }
    reached.Error = ELOOP;
    return reached;
}

FileStream CreateUnnamed(const Folder& folder, int& error) {
#if defined(O_TMPFILE)
    // Readable too, so that it can be copied under a name where it cannot be linked.
    const int descriptor = ::openat(folder.Where(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    // Kernels and file systems without unnamed files answer with one of these.
    if (descriptor < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        error = ENOTSUP;
        return {};
    }
    return StreamOf(descriptor, "wb", error);
#else
    static_cast<void>(folder);
    error = ENOTSUP;
    return {};
#endif
}

bool LinkUnnamed(std::FILE* stream, const Folder& folder, const std::filesystem::path& name,
                 int& error) {
    // Linking a descriptor by itself needs a privilege; its name under /proc does not.
    const std::string self = "/proc/self/fd/" + std::to_string(::fileno(stream));
    if (::linkat(AT_FDCWD, self.c_str(), folder.Where(), name.c_str(), AT_SYMLINK_FOLLOW) != 0) {
        error = errno;
        return false;
    }
    return true;
}

FileStream CreateExclusive(const Folder& folder, const std::filesystem::path& name, int& error) {
    const int descriptor = ::openat(folder.Where(), name.c_str(),
                                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    return StreamOf(descriptor, "wb", error);
}

bool SetPermissions(std::FILE* stream, std::filesystem::perms permissions, int& error) {
    if (::fchmod(::fileno(stream), static_cast<::mode_t>(permissions)) != 0) {
        error = errno;
        return false;
    }
    return true;
}

void SetGroup(std::FILE* stream, std::uint32_t group) {
    // A group the caller is not in cannot be given; the file then keeps the caller's.
    static_cast<void>(::fchown(::fileno(stream), static_cast<::uid_t>(-1), group));
}

bool FlushToDisk(std::FILE* stream, int& error) {
    if (::fdatasync(::fileno(stream)) != 0) {
        error = errno;
        return false;
    }
    return true;
}

bool FlushFolder(const Folder& folder, int& error) {
    // The held folder may have been opened for its path only, which cannot be flushed.
    const int descriptor = ::openat(folder.Where(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0 || ::fsync(descriptor) != 0) {
        error = errno;
        if (descriptor >= 0) {
            ::close(descriptor);
        }
        return false;
    }
    ::close(descriptor);
    return true;
}

bool IsRegularFile(std::FILE* stream) {
    struct ::stat status {};
    return ::fstat(::fileno(stream), &status) == 0 && S_ISREG(status.st_mode);
}

std::size_t ReadAt(std::FILE* stream, std::uint8_t* bytes, std::size_t size, std::uint64_t offset,
                   int& error) {
    error = 0;
    std::size_t got = 0;
    while (got < size) {
        const ::ssize_t read =
            ::pread(::fileno(stream), bytes + got, size - got, static_cast<::off_t>(offset + got));
        if (read < 0 && errno == EINTR) {
            continue;
        }
        if (read <= 0) {
            error = read < 0 ? errno : 0;
            break;
        }
        got += static_cast<std::size_t>(read);
    }
    return got;
}

bool WriteAt(std::FILE* stream, const std::uint8_t* bytes, std::size_t size, std::uint64_t offset,
             int& error) {
    while (size > 0) {
        const ::ssize_t written =
            ::pwrite(::fileno(stream), bytes, size, static_cast<::off_t>(offset));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            error = written == 0 ? EIO : errno;
            return false;
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
        offset += static_cast<std::uint64_t>(written);
    }
    return true;
}

void Reserve(std::FILE* stream, std::uint64_t offset, std::uint64_t size) {
#if defined(__linux__)
    // Not posix_fallocate: where the file system cannot reserve, it writes zeros instead.
    static_cast<void>(::fallocate(::fileno(stream), FALLOC_FL_KEEP_SIZE,
                                  static_cast<::off_t>(offset), static_cast<::off_t>(size)));
#else
    static_cast<void>(stream);
    static_cast<void>(offset);
    static_cast<void>(size);
#endif
}

bool Rename(const Folder& folder, const std::filesystem::path& from,
            const std::filesystem::path& to, int& error) {
    if (::renameat(folder.Where(), from.c_str(), folder.Where(), to.c_str()) != 0) {
        error = errno;
        return false;
    }
    return true;
}

void Remove(const Folder& folder, const std::filesystem::path& name) {
    ::unlinkat(folder.Where(), name.c_str(), 0);
}

void RemoveNow(const char* path) {
    ::unlink(path);
}

bool StandardOutputIsTerminal() {
    return ::isatty(STDOUT_FILENO) == 1;
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
#if defined(__linux__)
    // The cores of the machine count those this process is barred from too.
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (::sched_getaffinity(0, sizeof allowed, &allowed) == 0) {
        return static_cast<std::uint32_t>(std::max(1, CPU_COUNT(&allowed)));
    }
#endif
    return std::max(1U, std::thread::hardware_concurrency());
}

void AroundFork(void (*prepare)(), void (*parent)(), void (*child)()) {
    static_cast<void>(::pthread_atfork(prepare, parent, child));
}

bool EndWithParent(std::int64_t parent) {
#if defined(__linux__)
    static_cast<void>(::prctl(PR_SET_PDEATHSIG, SIGTERM));
#endif
    // A parent that ended before the request has left the child to another process already.
    return ::getppid() == static_cast<::pid_t>(parent);
}

void AdviseLargePages(void* block, std::size_t size) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    // Where it is refused the block simply has small pages.
    static_cast<void>(::madvise(block, size, MADV_HUGEPAGE));
#else
    static_cast<void>(block);
    static_cast<void>(size);
#endif
}

} // namespace dorvane::platform

namespace dorvane {

FileStream OpenFile(const char* path, const char* mode) {
    return FileStream(std::fopen(path, mode));
}

} // namespace dorvane
