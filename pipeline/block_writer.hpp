#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

namespace dorvane {

// Writes blocks of bytes to a stream in the order they are handed over, on a helper thread while
// the caller fills the next block, so that filling overlaps writing. Without a thread to be had,
// or when asked for none, each block is written as it is handed over. Should the caller ever wait
// long for a free block (the helper shares its processor with another program, say), it stops
// the helper and writes the rest itself, so that the helper never makes the whole slower.
class BlockWriter {
  public:
    // Two blocks of blockBytes, zeroed. Throws std::bad_alloc when memory runs out.
    BlockWriter(std::FILE* stream, std::size_t blockBytes, bool helped);
    BlockWriter(const BlockWriter&) = delete;
    BlockWriter& operator=(const BlockWriter&) = delete;
    ~BlockWriter();

    // The block to fill next; what the caller leaves unwritten of it keeps its last bytes.
    std::uint8_t* Next();
    // Writes the first bytes of the block that Next gave.
    void HandOver(std::size_t bytes);
    // Waits until every block handed over was written; whether all writes succeeded.
    bool Finish();

  private:
    void WriteHanded();
    bool Write(std::size_t slot);
    void StopHelper();

    std::FILE* Stream;
    std::array<std::vector<std::uint8_t>, 2> Blocks;
    std::array<std::size_t, 2> Sizes{};
    std::mutex Mutex;
    std::condition_variable Changed;
    std::size_t Handed = 0;
    std::size_t Written = 0;
    bool Failed = false;
    bool Closed = false;
    std::thread Helper;
};

} // namespace dorvane
