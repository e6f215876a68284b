/* Read faults on demand, preloaded (LD_PRELOAD) into a process under test: a disk that fails, or
 * signals that interrupt reads, which no file can be made to do. DORVANE_READ_FAULT names the
 * fault and the file it strikes, identified by device and inode:
 *   "EIO OFFSET PATH"  reads of PATH that reach past byte OFFSET fail with EIO, delivering nothing;
 *   "EINTR 0 PATH"     every read of PATH delivers at most half of what it asks for and then
 *                      reports EINTR, as a signal handler that ran meanwhile makes it.
 * fread, pread and pread64 are struck; they are what the library reads files with. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

static int fault;       /* EIO or EINTR; 0 while no fault is set */
static off_t faultFrom; /* EIO: the first byte that cannot be read */
static dev_t device;
static ino_t inode;

__attribute__((constructor)) static void ReadFault(void) {
    const char* setting = getenv("DORVANE_READ_FAULT");
    char name[8];
    long long offset = 0;
    int consumed = 0;
    struct stat status;
    if (setting == NULL || sscanf(setting, "%7s %lld %n", name, &offset, &consumed) != 2 ||
        stat(setting + consumed, &status) != 0) {
        return;
    }
    fault = strcmp(name, "EIO") == 0 ? EIO : strcmp(name, "EINTR") == 0 ? EINTR : 0;
    faultFrom = (off_t)offset;
    device = status.st_dev;
    inode = status.st_ino;
}

static int Struck(int descriptor) {
    struct stat status;
    return fault != 0 && fstat(descriptor, &status) == 0 && status.st_dev == device &&
           status.st_ino == inode;
}

static void* Next(const char* name) {
    return dlsym(RTLD_NEXT, name);
}

size_t fread(void* buffer, size_t size, size_t count, FILE* stream) {
    size_t (*real)(void*, size_t, size_t, FILE*) = Next("fread");
    if (!Struck(fileno(stream)) || size == 0) {
        return real(buffer, size, count, stream);
    }
    if (fault == EIO) {
        const off_t at = ftello(stream);
        if (at >= 0 && at + (off_t)(size * count) > faultFrom) {
            errno = EIO;
            return 0;
        }
        return real(buffer, size, count, stream);
    }
    if (count < 2) {
        return real(buffer, size, count, stream);
    }
    const size_t got = real(buffer, size, count / 2, stream);
    errno = EINTR;
    return got;
}

static ssize_t StruckPread(ssize_t (*real)(int, void*, size_t, off_t), int descriptor, void* buffer,
                           size_t size, off_t offset) {
    static __thread int interrupted;
    if (!Struck(descriptor)) {
        return real(descriptor, buffer, size, offset);
    }
    if (fault == EIO && offset + (off_t)size > faultFrom) {
        errno = EIO;
        return -1;
    }
    if (fault == EINTR && (interrupted = !interrupted)) {
        errno = EINTR;
        return -1;
    }
    return real(descriptor, buffer, size, offset);
}

ssize_t pread(int descriptor, void* buffer, size_t size, off_t offset) {
    return StruckPread(Next("pread"), descriptor, buffer, size, offset);
}

ssize_t pread64(int descriptor, void* buffer, size_t size, off_t offset) {
    return StruckPread(Next("pread64"), descriptor, buffer, size, offset);
}
