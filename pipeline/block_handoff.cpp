#include "block_handoff.hpp"

#include <chrono>
#include <system_error>
#include <utility>

namespace dorvane {
namespace {

// Consuming a block takes well under this, while a thread that shares its processor with
// another busy one is left off it for several milliseconds at a time: a wait this long means
// the helper lost its processor.
constexpr std::chrono::milliseconds LongWait{4};

} // namespace

BlockHandoff::BlockHandoff(std::size_t blockBytes, Consume consume, bool helped)
    : ConsumeBlock(std::move(consume)), Blocks{
                                            std::vector<std::uint8_t>(blockBytes, 0),
                                            std::vector<std::uint8_t>(helped ? blockBytes : 0, 0)} {
    if (!helped) {
        return;
    }
    try {
        Helper = std::thread([this] { ConsumeHanded(); });
    } catch (const std::system_error&) {
        // Consumed on the caller's thread instead.
    }
}

BlockHandoff::~BlockHandoff() {
    StopHelper();
}

std::uint8_t* BlockHandoff::Next() {
    std::unique_lock lock(Mutex);
    if (Helper.joinable() && HandedCount - Consumed == 2) {
        const auto start = std::chrono::steady_clock::now();
        Changed.wait(lock, [this] { return HandedCount - Consumed < 2; });
        if (std::chrono::steady_clock::now() - start > LongWait) {
            lock.unlock();
            StopHelper();
            GaveUp = true;
        }
    }
    return Blocks[Helper.joinable() ? HandedCount % 2 : 0].data();
}

void BlockHandoff::HandOver(std::size_t bytes, std::uint32_t tag) {
    if (!Helper.joinable()) {
        Slots[0] = {bytes, tag};
        Failed = Failed || !ConsumeSlot(0);
        ++HandedCount;
        ++Consumed;
        return;
    }
    const std::lock_guard lock(Mutex);
    Slots[HandedCount % 2] = {bytes, tag};
    ++HandedCount;
    Changed.notify_all();
}

bool BlockHandoff::Finish() {
    StopHelper();
    return !Failed;
}

void BlockHandoff::StopHelper() {
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

void BlockHandoff::ConsumeHanded() {
    std::unique_lock lock(Mutex);
    for (;;) {
        Changed.wait(lock, [this] { return Consumed < HandedCount || Closed; });
        if (Consumed == HandedCount) {
            return; // closed, and nothing is left
        }
        const std::size_t slot = Consumed % 2;
        const bool wanted = !Failed;
        lock.unlock();
        const bool consumed = wanted && ConsumeSlot(slot);
        lock.lock();
        Failed = Failed || !consumed;
        ++Consumed;
        Changed.notify_all();
    }
}

bool BlockHandoff::ConsumeSlot(std::size_t slot) {
    return ConsumeBlock(Blocks[slot].data(), Slots[slot].Bytes, Slots[slot].Tag);
}

} // namespace dorvane
