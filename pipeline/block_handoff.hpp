#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace dorvane {

// Blocks of bytes that the caller fills and a helper thread consumes, in the order they are
// handed over, while the caller fills the next: filling overlaps consuming. Without a thread to
// be had, or when asked for none, each block is consumed as it is handed over. Should the caller
// ever wait long for a free block (the helper shares its processor with another program, say),
// it stops the helper and consumes the rest itself, so that the helper never makes the whole
// slower.
class BlockHandoff {
  public:
    // Consumes the first bytes of a block, handed over with tag; false when it failed, after
    // which no later block is consumed.
    using Consume = std::function<bool(std::uint8_t* block, std::size_t bytes, std::uint32_t tag)>;

    // Two blocks of blockBytes, zeroed. Throws std::bad_alloc when memory runs out.
    BlockHandoff(std::size_t blockBytes, Consume consume, bool helped);
    BlockHandoff(const BlockHandoff&) = delete;
    BlockHandoff& operator=(const BlockHandoff&) = delete;
    ~BlockHandoff();

    // The block to fill next; what the caller leaves unwritten of it keeps its last bytes.
    std::uint8_t* Next();
    // Passes the first bytes of the block that Next gave on, with a tag for Consume.
    void HandOver(std::size_t bytes, std::uint32_t tag = 0);
    // Waits until every block handed over was consumed; whether all were consumed successfully.
    bool Finish();
    // Whether the caller stopped the helper for keeping it waiting.
    bool GaveUpHelper() const { return GaveUp; }

  private:
    struct Handed {
        std::size_t Bytes = 0;
        std::uint32_t Tag = 0;
    };

    void ConsumeHanded();
    bool ConsumeSlot(std::size_t slot);
    void StopHelper();

    Consume ConsumeBlock;
    std::array<std::vector<std::uint8_t>, 2> Blocks;
    std::array<Handed, 2> Slots{};
    std::mutex Mutex;
    std::condition_variable Changed;
    std::size_t HandedCount = 0;
    std::size_t Consumed = 0;
    bool Failed = false;
    bool Closed = false;
    bool GaveUp = false;
    std::thread Helper;
};

} // namespace dorvane
