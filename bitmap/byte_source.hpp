#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>

namespace dorvane {

// The bytes that the reader takes one after another: a file's stream, or bytes in memory. Both
// behave as std::fread and std::feof do on a file of those bytes, so that a load from memory
// gives exactly what a load of the same file gives, cut short or not.
class ByteSource {
  public:
    explicit ByteSource(std::FILE* stream) : Stream(stream) {}
    explicit ByteSource(std::span<const std::uint8_t> bytes) : Bytes(bytes) {}

    // Up to size bytes into buffer; fewer only at the end or when reading failed.
    std::size_t Read(void* buffer, std::size_t size) {
        if (Stream != nullptr) {
            return std::fread(buffer, 1, size, Stream);
        }
        const std::size_t count = std::min(size, Bytes.size() - Position);
        if (count > 0) {
            std::memcpy(buffer, Bytes.data() + Position, count);
        }
        Position += count;
        PastEnd = PastEnd || count < size;
        return count;
    }

    // Whether a read has come up short at the end, as std::feof tells.
    bool AtEnd() const { return Stream != nullptr ? std::feof(Stream) != 0 : PastEnd; }
    // Whether reading failed, as std::ferror tells; memory never fails.
    bool Failed() const { return Stream != nullptr && std::ferror(Stream) != 0; }
    // The stream of a file source; null for memory.
    std::FILE* File() const { return Stream; }

  private:
    std::FILE* Stream = nullptr;
    std::span<const std::uint8_t> Bytes;
    std::size_t Position = 0;
    bool PastEnd = false;
};

} // namespace dorvane
