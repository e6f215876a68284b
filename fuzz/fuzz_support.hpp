#pragma once

// What the harnesses share: a scratch folder for the files that the blur's job reads and writes
// by name (the codec's harnesses work in memory), the header fields of raw input bytes, and the
// budget that keeps one input cheap.

#include "bmp_headers.hpp"
#include "bmp_reader.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace dorvane::fuzzing {

// Aborts with a message, which libFuzzer reports as a crash with the input that caused it.
[[noreturn]] inline void Fail(const char* what) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

inline void Check(bool condition, const char* what) {
    if (!condition) {
        Fail(what);
    }
}

// A folder of this process under the temporary directory ($TMPDIR), removed at exit.
class ScratchFolder {
  public:
    ScratchFolder() {
        Path = std::filesystem::temp_directory_path() /
               ("dorvane-fuzz-" + std::to_string(static_cast<long>(getpid())));
        std::error_code error;
        std::filesystem::create_directories(Path, error);
        if (error) {
            Fail("cannot create the scratch folder");
        }
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(Path, ignored);
    }

    std::string File(const char* name) const { return (Path / name).string(); }

    std::filesystem::path Path;
};

inline const ScratchFolder& Scratch() {
    static const ScratchFolder folder;
    return folder;
}

inline void WriteFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* const file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        Fail("cannot create an input file");
    }
    const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
    if (std::fclose(file) != 0 || !written) {
        Fail("cannot write an input file");
    }
}

inline std::uint32_t LittleEndianAt(const std::uint8_t* data, std::size_t size, std::size_t at,
                                    std::size_t width) {
    std::uint32_t value = 0;
    for (std::size_t i = width; i > 0; --i) {
        const std::size_t index = at + i - 1;
        value = (value << 8) | (index < size ? data[index] : 0U);
    }
    return value;
}

// The header fields that the harnesses look at; bytes past the end of the input read as 0.
struct RawHeader {
    std::uint32_t OffBits;
    std::uint32_t InfoSize;
    std::int32_t Width;
    std::int32_t Height;
    std::uint16_t BitCount;
    std::uint32_t Compression;
    std::int32_t XPelsPerMeter;
    std::int32_t YPelsPerMeter;

    RawHeader(const std::uint8_t* data, std::size_t size)
        : OffBits(LittleEndianAt(data, size, 10, 4)), InfoSize(LittleEndianAt(data, size, 14, 4)),
          Width(static_cast<std::int32_t>(LittleEndianAt(data, size, 18, 4))),
          Height(static_cast<std::int32_t>(LittleEndianAt(data, size, 22, 4))),
          BitCount(static_cast<std::uint16_t>(LittleEndianAt(data, size, 28, 2))),
          Compression(LittleEndianAt(data, size, 30, 4)),
          XPelsPerMeter(static_cast<std::int32_t>(LittleEndianAt(data, size, 38, 4))),
          YPelsPerMeter(static_cast<std::int32_t>(LittleEndianAt(data, size, 42, 4))) {}

    // Where a palette starts: after the whole info header, when it is longer than 40 bytes.
    std::uint64_t PaletteOffset() const {
        return std::uint64_t{FileHeaderSize} + std::max(InfoSize, InfoHeaderFieldsSize);
    }
};

// Whether an image of width x height is cheap enough to make for every input. Sizes that the
// codec refuses outright (not positive, or beyond its limits) cost nothing and are kept, so the
// fuzzer still checks that they are refused, and refused quickly.
inline bool WithinBudget(std::int32_t width, std::int32_t height, std::int64_t budget) {
    if (width <= 0 || height <= 0 || !BmpDimensionsWithinLimits(width, height)) {
        return true;
    }
    return std::int64_t{width} * height <= budget;
}

} // namespace dorvane::fuzzing
