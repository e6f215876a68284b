#include "block_writer.hpp"

#include <chrono>
#include <system_error>

namespace dorvane {
namespace {

// Writing a block takes well under this, while a thread that shares its processor with another
// busy one is left off it for several milliseconds at a time: a wait this long means the helper
// lost its processor.
constexpr std::chrono::milliseconds LongWait{4};

} // namespace

BlockWriter::BlockWriter(std::FILE* stream, std::size_t blockBytes, bool helped)
    : Stream(stream), Blocks{std::vector<std::uint8_t>(blockBytes, 0),
                             std::vector<std::uint8_t>(helped ? blockBytes : 0, 0)} {
    if (!helped) {
        return;
    }
    try {
        Helper = std::thread([this] { WriteHanded(); });
    } catch (const std::system_error&) {
        // Written on the caller's thread instead.
    }
}

BlockWriter::~BlockWriter() {
    StopHelper();
}

std::uint8_t* BlockWriter::Next() {
    std::unique_lock lock(Mutex);
    if (Helper.joinable() && Handed - Written == 2) {
        const auto start = std::chrono::steady_clock::now();
        Changed.wait(lock, [this] { return Handed - Written < 2; });
        if (std::chrono::steady_clock::now() - start > LongWait) {
            lock.unlock();
            StopHelper();
        }
    }
    return Blocks[Helper.joinable() ? Handed % 2 : 0].data();
}

void BlockWriter::HandOver(std::size_t bytes) {
    if (!Helper.joinable()) {
        Sizes[0] = bytes;
        Failed = Failed || !Write(0);
        ++Handed;
        ++Written;
        return;
    }
    const std::lock_guard lock(Mutex);
    Sizes[Handed % 2] = bytes;
    ++Handed;
    Changed.notify_all();
}

bool BlockWriter::Finish() {
    StopHelper();
    return !Failed;
}

void BlockWriter::StopHelper() {
    if (!Helper.joinable()) {
        return;
    }
    {
        const std::lock_guard lock(Mutex);
        Closed = true;
        Changed.notify_all();
    }
    Helper.join();
}

void BlockWriter::WriteHanded() {
    std::unique_lock lock(Mutex);
    for (;;) {
        Changed.wait(lock, [this] { return Written < Handed || Closed; });
        if (Written == Handed) {
            return; // closed, and nothing is left
        }
        const std::size_t slot = Written % 2;
        const bool wanted = !Failed;
        lock.unlock();
        const bool written = wanted && Write(slot);
        lock.lock();
        Failed = Failed || !written;
        ++Written;
        Changed.notify_all();
    }
}

bool BlockWriter::Write(std::size_t slot) {
    return std::fwrite(Blocks[slot].data(), 1, Sizes[slot], Stream) == Sizes[slot];
}

} // namespace dorvane
