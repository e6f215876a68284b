#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace dorvane {

// Two blocks passed between the caller, who fills them, and a helper thread, which consumes them
// in the order they were filled: filling the next block overlaps consuming the last. Consume
// returning false drops every later block. Without a thread to be had, blocks are consumed on
// the caller's thread as they are handed over, and so they are when the caller asks for no helper
// (for a single block a thread only costs); the result is the same.
template <class Block> class BlockHandoff {
  public:
    BlockHandoff(Block first, Block second, std::function<bool(Block&)> consume, bool helped)
        : Blocks{std::move(first), std::move(second)}, Consume(std::move(consume)) {
        if (!helped) {
            return;
        }
        try {
            Helper = std::thread([this] { ConsumeHanded(); });
        } catch (const std::system_error&) {
            // Consumed in HandOver instead.
        }
    }
    BlockHandoff(const BlockHandoff&) = delete;
    BlockHandoff& operator=(const BlockHandoff&) = delete;
    ~BlockHandoff() { Finish(); }

    // The block to fill next, once the helper is done with it.
    Block& Next() {
        std::unique_lock lock(Mutex);
        Changed.wait(lock, [this] { return Handed - Consumed < 2; });
        return Blocks[Handed % 2];
    }

    // Passes the block that Next gave to the helper.
    void HandOver() {
        if (!Helper.joinable()) {
            Succeeded = Succeeded && Consume(Blocks[Handed % 2]);
            ++Handed;
            ++Consumed;
            return;
        }
        const std::lock_guard lock(Mutex);
        ++Handed;
        Changed.notify_all();
    }

    // Waits until every block handed over was consumed; whether all were consumed successfully.
    bool Finish() {
        if (Helper.joinable()) {
            {
                const std::lock_guard lock(Mutex);
                Closed = true;
                Changed.notify_all();
            }
            Helper.join();
        }
        return Succeeded;
    }

  private:
    void ConsumeHanded() {
        std::unique_lock lock(Mutex);
        for (;;) {
            Changed.wait(lock, [this] { return Consumed < Handed || Closed; });
            if (Consumed == Handed) {
                return; // closed, and nothing is left
            }
            Block& block = Blocks[Consumed % 2];
            const bool wanted = Succeeded;
            lock.unlock();
            const bool consumed = wanted && Consume(block);
            lock.lock();
            Succeeded = consumed;
            ++Consumed;
            Changed.notify_all();
        }
    }

    std::array<Block, 2> Blocks;
    std::function<bool(Block&)> Consume;
    std::mutex Mutex;
    std::condition_variable Changed;
    std::size_t Handed = 0;
    std::size_t Consumed = 0;
    bool Succeeded = true;
    bool Closed = false;
    std::thread Helper;
};

} // namespace dorvane
