#include "file_replacement.hpp"

#include "platform.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>
#include <utility>

namespace dorvane {
namespace fs = std::filesystem;

namespace {

constexpr int MaxNameAttempts = 100;

// The names of the temporary files under way, where a signal handler can reach them without
// allocating or locking: a slot is Free, Taken while its name is written, or Live.
enum SlotState : int { Free, Taken, Live };
constexpr std::size_t UnfinishedNameSize = 4096;
struct UnfinishedSlot {
    std::atomic<int> State{Free};
    std::array<fs::path::value_type, UnfinishedNameSize> Path{};
};
std::array<UnfinishedSlot, 16> Unfinished;

// The slot that now holds path; -1 when every slot is taken or the name is too long, and the
// file is then only removed by the replacement itself.
int Remember(const fs::path& path) {
    const fs::path::string_type& name = path.native();
    if (name.size() >= UnfinishedNameSize) {
        return -1;
    }
    for (std::size_t slot = 0; slot < Unfinished.size(); ++slot) {
        int expected = Free;
        if (Unfinished[slot].State.compare_exchange_strong(expected, Taken)) {
            std::copy_n(name.c_str(), name.size() + 1, Unfinished[slot].Path.begin());
            Unfinished[slot].State.store(Live);
            return static_cast<int>(slot);
        }
    }
    return -1;
}

void Forget(int& slot) {
    if (slot >= 0) {
        Unfinished[static_cast<std::size_t>(slot)].State.store(Free);
        slot = -1;
    }
}

// A name unlikely to be taken; exclusive creation settles the rare collision, and the caller then
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

} // namespace

void RemoveUnfinishedFiles() noexcept {
    for (UnfinishedSlot& slot : Unfinished) {
        if (slot.State.load() == Live) {
            platform::RemoveNow(slot.Path.data());
        }
    }
}

FileReplacement::~FileReplacement() {
    Abandon();
}

bool FileReplacement::Fail(FailureKind step, int error) {
    Abandon();
    if (!Why) {
        Why = SystemFailure(FailedFile::Output, step, error);
    }
    return false;
}

void FileReplacement::WriteFailed(int error) {
    if (!Why) {
        Why = SystemFailure(FailedFile::Output, FailureKind::Write, error);
    }
}

bool FileReplacement::Open(const char* destination) {
    Abandon();
    Why = {};
    if (destination == nullptr || *destination == '\0') {
        return Fail(FailureKind::Open, ENOENT);
    }
    Target = platform::ReachDestination(destination);
    if (Target.UntrustedLink) {
        return Fail(FailureKind::UntrustedLink, Target.Error);
    }
    if (Target.Error != 0) {
        return Fail(FailureKind::Open, Target.Error);
    }
    if (Target.Direct) {
        File = std::move(Target.Direct);
        Direct = true;
        return true;
    }
    return OpenTemporary();
}

bool FileReplacement::OpenTemporary() {
    int error = 0;
    if (Kind == TemporaryFile::Unnamed) {
        File = platform::CreateUnnamed(Target.Place, error);
        Unnamed = File != nullptr;
        if (!Unnamed && error != ENOTSUP) {
            return Fail(FailureKind::Open, error);
        }
    }
    if (!File && !CreateNamed()) {
        return false;
    }
    if (Target.Exists) {
        // The group first: giving a file to a group clears its set-group-ID bit.
        platform::SetGroup(File.get(), Target.Group);
        // Never readable by more than the file it replaces, not even while it is written; the
        // special bits follow in Commit, as writing might clear them.
        if (!platform::SetPermissions(File.get(), Target.Permissions & fs::perms::all, error)) {
            return Fail(FailureKind::Open, error);
        }
    }
    return true;
}

// Creates the file under a temporary name of its own in the destination's folder.
bool FileReplacement::CreateNamed() {
    int error = EEXIST;
    for (int attempt = 0; attempt < MaxNameAttempts && error == EEXIST; ++attempt) {
        fs::path candidate = Target.Path.parent_path() / TemporaryName();
        File = platform::CreateExclusive(Target.Place, candidate.filename(), error);
        if (File) {
            // A move cannot throw: once the file exists, Abandon must know its name.
            Temporary = std::move(candidate);
            Slot = Remember(Temporary);
            return true;
        }
    }
    return Fail(FailureKind::Open, error);
}

// Gives the complete unnamed file its name: the destination itself when nothing is there, else a
// temporary name that Commit renames over the destination at once. Where the system refuses to
// link it, a named copy takes its place.
bool FileReplacement::NameUnnamed() {
    int error = 0;
    if (!Target.Exists) {
        if (platform::LinkUnnamed(File.get(), Target.Place, Target.Name, error)) {
            return true;
        }
        if (error != EEXIST) {
            return CopyToNamed();
        }
        // Someone created the destination meanwhile: it is replaced, as if it had been there.
    }
    for (int attempt = 0; attempt < MaxNameAttempts; ++attempt) {
        fs::path candidate = Target.Path.parent_path() / TemporaryName();
        if (platform::LinkUnnamed(File.get(), Target.Place, candidate.filename(), error)) {
            Temporary = std::move(candidate);
            Slot = Remember(Temporary);
            return true;
        }
        if (error != EEXIST) {
            return CopyToNamed();
        }
    }
    return Fail(FailureKind::Replace, EEXIST);
}

bool FileReplacement::CopyToNamed() {
    const FileStream unnamed = std::move(File);
    Unnamed = false;
    if (std::fseek(unnamed.get(), 0, SEEK_END) != 0) {
        return Fail(FailureKind::Replace, errno);
    }
    const long size = std::ftell(unnamed.get());
    if (size < 0 || !CreateNamed()) {
        return size < 0 ? Fail(FailureKind::Replace, errno) : false;
    }
    std::array<std::uint8_t, 64 * 1024> buffer;
    for (std::uint64_t offset = 0; offset < static_cast<std::uint64_t>(size);) {
        int error = 0;
        const std::size_t got =
            platform::ReadAt(unnamed.get(), buffer.data(), buffer.size(), offset, error);
        if (got == 0) {
            return Fail(FailureKind::Replace, error != 0 ? error : EIO);
        }
        if (std::fwrite(buffer.data(), 1, got, File.get()) != got) {
            return Fail(FailureKind::Write, errno);
        }
        offset += got;
    }
    int error = 0;
    if (std::fflush(File.get()) != 0 || (Durable && !platform::FlushToDisk(File.get(), error))) {
        return Fail(FailureKind::Write, error != 0 ? error : errno);
    }
    return !Target.Exists || platform::SetPermissions(File.get(), Target.Permissions, error) ||
           Fail(FailureKind::Replace, error);
}

bool FileReplacement::Commit() {
    if (!File || Why) {
        return Fail(FailureKind::Write, EBADF);
    }
    int error = 0;
    if (std::fflush(File.get()) != 0 || std::ferror(File.get()) != 0) {
        return Fail(FailureKind::Write, errno);
    }
    if (Target.Exists && !platform::SetPermissions(File.get(), Target.Permissions, error)) {
        return Fail(FailureKind::Replace, error);
    }
    // A pipe, a socket or a device has nothing to flush to a disk.
    const bool flush = Durable && (!Direct || platform::IsRegularFile(File.get()));
    if (flush && !platform::FlushToDisk(File.get(), error)) {
        return Fail(FailureKind::Write, error);
    }
    if (Unnamed && !NameUnnamed()) {
        return false;
    }
    // Renamed as soon as it is linked, so that a process killed in between leaves no name behind.
    if (!Temporary.empty()) {
        if (!platform::Rename(Target.Place, Temporary.filename(), Target.Name, error)) {
            return Fail(FailureKind::Replace, error);
        }
        Forget(Slot);
        Temporary.clear();
    }
    // The file is in place now, every byte written: a failure from here on is reported, and the
    // destination, which may already be another process's file, is left alone.
    if (std::fclose(File.release()) != 0) {
        return Fail(FailureKind::Write, errno);
    }
    if (Durable && !Direct && !platform::FlushFolder(Target.Place, error)) {
        return Fail(FailureKind::Replace, error);
    }
    Abandon();
    return true;
}

void FileReplacement::Abandon() {
    File.reset();
    if (!Temporary.empty()) {
        platform::Remove(Target.Place, Temporary.filename());
        Temporary.clear();
    }
    Forget(Slot);
    Target = {};
    Unnamed = false;
    Direct = false;
}

} // namespace dorvane
