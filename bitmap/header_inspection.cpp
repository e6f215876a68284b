#include "header_inspection.hpp"
#include "file_stream.hpp"
#include "little_endian.hpp"
#include "platform.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>

namespace dorvane {
namespace {

constexpr std::size_t FileHeaderBytes = 14;

// Reads one little-endian field. A field the file does not hold completely is left as it was,
// so a short file never leaves part of a field overwritten.
template <typename Field> void ReadField(std::FILE* stream, Field& field) {
    std::array<std::uint8_t, sizeof(Field)> bytes{};
    if (ReadItems(bytes.data(), bytes.size(), 1, stream)) {
        field = LoadLittleEndian<Field>(bytes);
    }
}

// Takes the fields from bytes in memory, one after another.
class FieldCursor {
  public:
    explicit FieldCursor(const std::uint8_t* bytes) : Next(bytes) {}
    template <typename Field> void operator()(Field& field) {
        std::array<std::uint8_t, sizeof(Field)> bytes{};
        std::copy_n(Next, bytes.size(), bytes.begin());
        field = LoadLittleEndian<Field>(bytes);
        Next += sizeof(Field);
    }

  private:
    const std::uint8_t* Next;
};

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

bool ReadBmpHeaders(const char* path, FileHeader& file, InfoHeader& info, FileFailure& failure) {
    failure = {};
    int error = 0;
    const FileStream stream = platform::OpenForReading(path, error);
    if (!stream) {
        failure = SystemFailure(FailedFile::Source, FailureKind::Open, error);
        return false;
    }
    std::array<std::uint8_t, HeadersSize> bytes{};
    if (std::fread(bytes.data(), 1, bytes.size(), stream.get()) != bytes.size()) {
        failure = std::ferror(stream.get()) != 0
                      ? SystemFailure(FailedFile::Source, FailureKind::Read, errno)
                      : FormatFailure(FailureKind::NotBmp);
        return false;
    }
    FieldCursor field(bytes.data());
    field(file.bfType);
    field(file.bfSize);
    field(file.bfReserved1);
    field(file.bfReserved2);
    field(file.bfOffBits);
    field(info.biSize);
    field(info.biWidth);
    field(info.biHeight);
    field(info.biPlanes);
    field(info.biBitCount);
    field(info.biCompression);
    field(info.biSizeImage);
    field(info.biXPelsPerMeter);
    field(info.biYPelsPerMeter);
    field(info.biClrUsed);
    field(info.biClrImportant);
    if (file.bfType != BmpSignature) {
        failure = FormatFailure(FailureKind::NotBmp);
        return false;
    }
    return true;
}

} // namespace dorvane
