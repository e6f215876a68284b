#pragma once

#include "file_stream.hpp"

#include <cstdio>
#include <filesystem>

namespace dorvane {

// Creates path for writing with mode "wbx": fails when anything already has that name, a
// symbolic link included, which is therefore never followed. Empty on failure (errno tells why).
FileStream CreateExclusive(const std::filesystem::path& path);

// Writes a file so that a failure never leaves its destination half written: after Commit the
// destination is complete, after a failure it is as it was before.
//
// A destination that is a regular file, or that does not exist yet, is written into a temporary
// file created exclusively in the destination's folder; Commit closes it, gives it the permission
// bits of the file it replaces, and renames it over the destination. A destination reached
// through symbolic links is resolved first, so the file the links lead to is replaced and the
// links stay. A destination that exists and is not a regular file (a device such as /dev/null or
// /dev/full, a FIFO) cannot be replaced and is written directly.
//
// Limits: the folder must let us create files (a writable file in a read-only folder cannot be
// saved); the replacing file is a new file, so hard links to the old one keep the old contents
// and its owner becomes the writing process's; nothing is synced to the disk.
class FileReplacement {
  public:
    FileReplacement() = default;
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;
    // Abandons a replacement that was not committed.
    ~FileReplacement();

    // Opens the stream to write into. False when no stream could be had; nothing was created.
    bool Open(const char* destination);
    std::FILE* Stream() const { return File.get(); }
    // Flushes and closes the stream and puts the file in place. False when any of these steps
    // failed; the temporary file is then removed and the destination left as it was.
    bool Commit();
    // Closes the stream and removes the temporary file, if any.
    void Abandon();

    // The temporary file being written; empty when the destination is written directly.
    const std::filesystem::path& TemporaryPath() const { return Temporary; }

  private:
    FileStream File;
    std::filesystem::path Destination;
    std::filesystem::path Temporary;
    bool KeepPermissions = false;
    std::filesystem::perms Permissions = std::filesystem::perms::none;
};

} // namespace dorvane
