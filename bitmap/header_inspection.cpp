#include "header_inspection.hpp"
#include "file_stream.hpp"
#include "little_endian.hpp"
#include "platform.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <functional>

namespace dorvane {
namespace {

constexpr std::size_t FileHeaderBytes = 14;

// Calls field on each field of a header, in file order.
template <class Field> void ForEachField(FileHeader& header, Field field) {
    field(header.bfType);
    field(header.bfSize);
    field(header.bfReserved1);
    field(header.bfReserved2);
    field(header.bfOffBits);
}
template <class Field> void ForEachField(InfoHeader& header, Field field) {
    field(header.biSize);
    field(header.biWidth);
    field(header.biHeight);
    field(header.biPlanes);
    field(header.biBitCount);
    field(header.biCompression);
    field(header.biSizeImage);
    field(header.biXPelsPerMeter);
    field(header.biYPelsPerMeter);
    field(header.biClrUsed);
    field(header.biClrImportant);
}

// Reads little-endian fields from a stream. A field the file does not hold completely is left as
// it was, so a short file never leaves part of a field overwritten.
class FieldReader {
  public:
    explicit FieldReader(std::FILE* stream) : Stream(stream) {}
    template <typename Field> void operator()(Field& field) const {
        std::array<std::uint8_t, sizeof(Field)> bytes{};
        if (ReadItems(bytes.data(), bytes.size(), 1, Stream)) {
            field = LoadLittleEndian<Field>(bytes);
        }
    }

  private:
    std::FILE* Stream;
};

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
    ForEachField(header, FieldReader(file.get()));
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
    ForEachField(header, FieldReader(file.get()));
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
    ForEachField(file, std::ref(field));
    ForEachField(info, std::ref(field));
    if (file.bfType != BmpSignature) {
        failure = FormatFailure(FailureKind::NotBmp);
        return false;
    }
    return true;
}

} // namespace dorvane
