#pragma once

#include "stream_reading.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>

namespace dorvane {

// The bytes that the reader takes one after another: a file's stream, or bytes in memory. Both
// behave as std::fread and std::feof do on a file of those bytes, so that a load from memory
// gives exactly what a load of the same file gives, cut short or not. A file's first read error
// is kept: the bytes then stop as at the end, and the load fails with it.
class ByteSource {
  public:
    explicit ByteSource(std::FILE* stream) : Stream(stream) {}
    explicit ByteSource(std::span<const std::uint8_t> bytes) : Bytes(bytes) {}

    // Up to size bytes into buffer; fewer only at the end or when reading failed.
    std::size_t Read(void* buffer, std::size_t size) {
        if (Stream != nullptr) {
            int error = 0;
            const std::size_t got = ReadStream(Stream, buffer, size, error);
            Fail(error);
            return got;
        }
        const std::size_t count = std::min(size, Bytes.size() - Position);
        if (count > 0) {
            std::memcpy(buffer, Bytes.data() + Position, count);
        }
        Position += count;
        PastEnd = PastEnd || count < size;
        return count;
    }

    // Whether a read has come up short at the end, as std::feof tells, or failed.
    bool AtEnd() const {
        return FirstError != 0 || (Stream != nullptr ? std::feof(Stream) != 0 : PastEnd);
    }
    // The errno of the first read that failed, 0 while none did; memory never fails.
    int Error() const { return FirstError; }
    // Records error (an errno, or 0 for none) as a failed read of the file, unless one came first.
    void Fail(int error) {
        if (FirstError == 0) {
            FirstError = error;
        }
    }
    // The stream of a file source; null for memory.
    std::FILE* File() const { return Stream; }
    // Of bytes in memory, those not read yet; empty for a file.
    std::span<const std::uint8_t> Rest() const { return Bytes.subspan(Position); }

  private:
    std::FILE* Stream = nullptr;
    std::span<const std::uint8_t> Bytes;
    std::size_t Position = 0;
    bool PastEnd = false;
    int FirstError = 0;
};

} // namespace dorvane
