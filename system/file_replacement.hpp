#pragma once

#include "durability.hpp"
#include "file_failure.hpp"
#include "file_stream.hpp"
#include "platform.hpp"

#include <cstdint>
#include <cstdio>
#include <filesystem>

namespace dorvane {

// How a replacement holds the new file until it is complete.
enum class TemporaryFile {
    // Without a name where the system offers that (Linux), so that nothing is left behind however
    // the process ends; elsewhere as Named.
    Unnamed,
    // Under a name of its own in the destination's folder, removed when the replacement is
    // abandoned, and by RemoveUnfinishedFiles when the process is stopped by a signal.
    Named,
};

// Writes a file so that a failure never leaves its destination half written: after Commit the
// destination is complete, after a failure it is as it was before.
//
// What the destination path leads to decides, through any number of links. A name of one of the
// process's own descriptors (/dev/stdout, /dev/fd/N, /proc/self/fd/N, directly or through links)
// is written through that descriptor, whatever it leads to, as a shell's redirection is: at its
// offset, appending if it was opened to append, into the same file; that is not atomic, as
// writing through a shell's > is not. Otherwise, a regular file, or a path that does not exist
// yet, is written into a temporary file in its folder; Commit gives it the permission bits and
// the group of the file it replaces and puts it in place, so the file the links lead to is
// replaced and the links stay. The links are followed from the folders they are in, as the system
// follows them for the caller: one that another user planted in a sticky folder that anyone may
// write is refused, so that a save never lands where its caller did not mean it to. A file the
// caller may not write is refused, as opening it would be. Anything else (a device such as
// /dev/null or NUL, a pipe, a FIFO, a socket) cannot be replaced and is written directly.
//
// Limits: the folder must let us create files (a writable file in a read-only folder cannot be
// saved); the replacing file is a new file, so hard links to the old one keep the old contents,
// its owner becomes the writing process's, and access lists and extended attributes are not
// carried over.
class FileReplacement {
  public:
    explicit FileReplacement(TemporaryFile kind = TemporaryFile::Unnamed,
                             Durability durability = Durability::Process)
        : Kind(kind), Durable(durability == Durability::Disk) {}
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;
    // Abandons a replacement that was not committed.
    ~FileReplacement();

    // Opens the stream to write into. False when no stream could be had; nothing was created.
    bool Open(const char* destination);
    std::FILE* Stream() const { return File.get(); }
    // Whether Stream() is a new file of the replacement's own, which positioned writes may fill
    // in any order; not a descriptor, device, pipe or socket written as it is.
    bool WritesNewFile() const { return File && !Direct; }
    // Flushes and closes the stream and puts the file in place. False when any of these steps
    // failed; the temporary file is then removed and the destination left as it was.
    bool Commit();
    // Closes the stream and removes the temporary file, if any.
    void Abandon();
    // Records that a write into Stream() failed with errno error, unless a failure is recorded.
    void WriteFailed(int error);

    // Why Open or Commit failed, or the write failure recorded.
    const FileFailure& Failure() const { return Why; }
    // The named temporary file being written; empty when there is none.
    const std::filesystem::path& TemporaryPath() const { return Temporary; }

  private:
    bool Fail(FailureKind step, int error);
    bool OpenTemporary();
    bool CreateNamed();
    bool NameUnnamed();
    bool CopyToNamed();

    TemporaryFile Kind;
    bool Durable;
    FileStream File;
    // Where the file goes; when a regular file is there, the new one takes its permission bits and
    // group.
    platform::Destination Target;
    std::filesystem::path Temporary;
    bool Unnamed = false;
    bool Direct = false; // written as it is, not replaced
    int Slot = -1;       // of the temporary name, for RemoveUnfinishedFiles
    FileFailure Why;
};

// Removes the named temporary files of the replacements under way in this process. Safe to call
// from a signal handler: a program that ends on SIGINT, SIGTERM or SIGHUP calls it first, so that
// no temporary file is left behind.
void RemoveUnfinishedFiles() noexcept;

} // namespace dorvane
