#pragma once

#include "temp_directory.hpp"

// Builds the bytes of BMP files in memory, field by field, and writes them to temporary files,
// so tests can make exact (also broken, cut short or absurd) files.

#include "pixel_rgba.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <system_error>
#include <vector>

namespace dorvane::testing {

using Bytes = std::vector<std::uint8_t>;

// Little-endian byte appends.
inline void PutU8(Bytes& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
}
inline void PutU16(Bytes& out, std::uint32_t value) {
    PutU8(out, value);
    PutU8(out, value >> 8);
}
inline void PutU32(Bytes& out, std::uint32_t value) {
    PutU16(out, value);
    PutU16(out, value >> 16);
}
inline void PutI32(Bytes& out, std::int32_t value) {
    PutU32(out, static_cast<std::uint32_t>(value));
}
inline std::uint32_t GetU16(const Bytes& bytes, std::size_t at) {
    return bytes.at(at) | (std::uint32_t{bytes.at(at + 1)} << 8);
}
inline std::uint32_t GetU32(const Bytes& bytes, std::size_t at) {
    return GetU16(bytes, at) | (GetU16(bytes, at + 2) << 16);
}

// A file: headers with the published field names (values as written, nothing checked), then
// ExtraHeader (the tail of a longer info header), Palette, Masks, Gap, the Rows as given (in file
// order, so the bottom row of the picture first) and Trailer. bfSize and bfOffBits default to the
// values that the sections give.
struct BmpFileBuilder {
    std::uint16_t bfType = 0x4D42;
    std::optional<std::uint32_t> bfSize;
    std::uint16_t bfReserved1 = 0;
    std::uint16_t bfReserved2 = 0;
    std::optional<std::uint32_t> bfOffBits;
    std::uint32_t biSize = 40;
    std::int32_t biWidth = 1;
    std::int32_t biHeight = 1;
    std::uint16_t biPlanes = 1;
    std::uint16_t biBitCount = 24;
    std::uint32_t biCompression = 0;
    std::uint32_t biSizeImage = 0;
    std::int32_t biXPelsPerMeter = 2835;
    std::int32_t biYPelsPerMeter = 2835;
    std::uint32_t biClrUsed = 0;
    std::uint32_t biClrImportant = 0;

    Bytes ExtraHeader;
    std::vector<PixelRgba> Palette;
    std::vector<std::uint32_t> Masks;
    Bytes Gap;
    std::vector<Bytes> Rows;
    Bytes Trailer;

    std::uint32_t OffsetOfRows() const {
        return static_cast<std::uint32_t>(54 + ExtraHeader.size() + 4 * Palette.size() +
                                          4 * Masks.size() + Gap.size());
    }

    Bytes Build() const {
        Bytes body;
        for (const PixelRgba& entry : Palette) {
            PutU8(body, entry.Blue);
            PutU8(body, entry.Green);
            PutU8(body, entry.Red);
            PutU8(body, entry.Alpha);
        }
        for (const std::uint32_t mask : Masks) {
            PutU32(body, mask);
        }
        body.insert(body.end(), Gap.begin(), Gap.end());
        for (const Bytes& row : Rows) {
            body.insert(body.end(), row.begin(), row.end());
        }
        body.insert(body.end(), Trailer.begin(), Trailer.end());

        Bytes out;
        PutU16(out, bfType);
        PutU32(out,
               bfSize.value_or(static_cast<std::uint32_t>(54 + ExtraHeader.size() + body.size())));
        PutU16(out, bfReserved1);
        PutU16(out, bfReserved2);
        PutU32(out, bfOffBits.value_or(OffsetOfRows()));
        PutU32(out, biSize);
        PutI32(out, biWidth);
        PutI32(out, biHeight);
        PutU16(out, biPlanes);
        PutU16(out, biBitCount);
        PutU32(out, biCompression);
        PutU32(out, biSizeImage);
        PutI32(out, biXPelsPerMeter);
        PutI32(out, biYPelsPerMeter);
        PutU32(out, biClrUsed);
        PutU32(out, biClrImportant);
        out.insert(out.end(), ExtraHeader.begin(), ExtraHeader.end());
        out.insert(out.end(), body.begin(), body.end());
        return out;
    }
};

// Data bytes followed by zero bytes up to a multiple of 4.
inline Bytes PaddedRow(Bytes data, std::uint8_t padding = 0) {
    while (data.size() % 4 != 0) {
        data.push_back(padding);
    }
    return data;
}

// 16-bit values as one padded row.
inline Bytes Row16(const std::vector<std::uint16_t>& values) {
    Bytes data;
    for (const std::uint16_t value : values) {
        PutU16(data, value);
    }
    return PaddedRow(data);
}

inline Bytes ReadFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFileBytes(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

} // namespace dorvane::testing
