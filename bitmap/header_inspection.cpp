#include "header_inspection.hpp"
#include "file_stream.hpp"

#include <array>
#include <cstdio>
#include <type_traits>

namespace dorvane {
namespace {

constexpr std::size_t FileHeaderBytes = 14;

// Reads one little-endian field. A field the file does not hold completely is left as it was,
// so a short file never leaves part of a field overwritten.
template <typename Field> void ReadField(std::FILE* stream, Field& field) {
    std::array<std::uint8_t, sizeof(Field)> bytes{};
    if (!ReadItems(bytes.data(), bytes.size(), 1, stream)) {
        return;
    }
    std::make_unsigned_t<Field> value = 0;
    for (auto byte = bytes.rbegin(); byte != bytes.rend(); ++byte) {
        value = static_cast<decltype(value)>((value << 8) | *byte);
    }
    field = static_cast<Field>(value);
}

} // namespace

FileHeader ReadFileHeaderOf(const char* path) {
    FileHeader header;
    const FileStream file = OpenFile(path, "rb");
    if (!file) {
        header.bfType = 0;
        return header;
    }
    ReadField(file.get(), header.bfType);
    ReadField(file.get(), header.bfSize);
    ReadField(file.get(), header.bfReserved1);
    ReadField(file.get(), header.bfReserved2);
    ReadField(file.get(), header.bfOffBits);
    return header;
}

InfoHeader ReadInfoHeaderOf(const char* path) {
    InfoHeader header;
    const FileStream file = OpenFile(path, "rb");
    if (!file) {
        return header;
    }
    std::array<std::uint8_t, FileHeaderBytes> fileHeader{};
    ReadItems(fileHeader.data(), fileHeader.size(), 1, file.get());
    ReadField(file.get(), header.biSize);
    ReadField(file.get(), header.biWidth);
    ReadField(file.get(), header.biHeight);
    ReadField(file.get(), header.biPlanes);
    ReadField(file.get(), header.biBitCount);
    ReadField(file.get(), header.biCompression);
    ReadField(file.get(), header.biSizeImage);
    ReadField(file.get(), header.biXPelsPerMeter);
    ReadField(file.get(), header.biYPelsPerMeter);
    ReadField(file.get(), header.biClrUsed);
    ReadField(file.get(), header.biClrImportant);
    return header;
}

std::int32_t BitDepthOfFile(const char* path) {
    return ReadInfoHeaderOf(path).biBitCount;
}

void InspectBmpFile(const char* path) {
    if (!OpenFile(path, "rb")) {
        return;
    }
    static_cast<void>(ReadFileHeaderOf(path));
    static_cast<void>(ReadInfoHeaderOf(path));
}

} // namespace dorvane
