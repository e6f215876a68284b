#include "header_inspection.hpp"
#include "file_stream.hpp"
#include "little_endian.hpp"
#include "platform.hpp"
#include "stream_reading.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <span>

namespace dorvane {
namespace {

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

// Takes little-endian fields from bytes in memory, one after another. A field that the bytes do
// not hold completely is left as it was, and so is every field after it, as when reading a file
// that ends there.
class FieldCursor {
  public:
    explicit FieldCursor(std::span<const std::uint8_t> bytes) : Rest(bytes) {}
    template <typename Field> void operator()(Field& field) {
        std::array<std::uint8_t, sizeof(Field)> bytes{};
        if (Rest.size() < bytes.size()) {
            Rest = {};
            return;
        }
        std::copy_n(Rest.begin(), bytes.size(), bytes.begin());
        field = LoadLittleEndian<Field>(bytes);
        Rest = Rest.subspan(bytes.size());
    }

  private:
    std::span<const std::uint8_t> Rest;
};

// The first bytes of a file, as many of the two headers' as it holds, and the errno when
// reading them failed.
struct HeaderBytes {
    std::array<std::uint8_t, HeadersSize> Bytes{};
    std::size_t Count = 0;
    int Error = 0;

    explicit HeaderBytes(std::FILE* stream) {
        Count = ReadStream(stream, Bytes.data(), Bytes.size(), Error);
    }
    std::span<const std::uint8_t> Span() const { return std::span(Bytes).first(Count); }
};

} // namespace

FileHeader ReadFileHeaderOf(std::span<const std::uint8_t> bytes) {
    FileHeader header;
    ForEachField(header, FieldCursor(bytes));
    return header;
}

InfoHeader ReadInfoHeaderOf(std::span<const std::uint8_t> bytes) {
    InfoHeader header;
    if (bytes.size() > FileHeaderSize) {
        ForEachField(header, FieldCursor(bytes.subspan(FileHeaderSize)));
    }
    return header;
}

FileHeader ReadFileHeaderOf(const char* path) {
    const FileStream file = OpenFile(path, "rb");
    if (!file) {
        FileHeader header;
        header.bfType = 0;
        return header;
    }
    return ReadFileHeaderOf(HeaderBytes(file.get()).Span());
}

InfoHeader ReadInfoHeaderOf(const char* path) {
    const FileStream file = OpenFile(path, "rb");
    if (!file) {
        return {};
    }
    return ReadInfoHeaderOf(HeaderBytes(file.get()).Span());
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

bool ReadBmpHeaders(std::span<const std::uint8_t> bytes, FileHeader& file, InfoHeader& info,
                    FileFailure& failure) {
    failure = {};
    if (bytes.size() < HeadersSize) {
        failure = FormatFailure(FailureKind::NotBmp);
        return false;
    }
    FieldCursor field(bytes);
    ForEachField(file, std::ref(field));
    ForEachField(info, std::ref(field));
    if (file.bfType != BmpSignature) {
        failure = FormatFailure(FailureKind::NotBmp);
        return false;
    }
    return true;
}

bool ReadBmpHeaders(const char* path, FileHeader& file, InfoHeader& info, FileFailure& failure) {
    failure = {};
    int error = 0;
    const FileStream stream = platform::OpenForReading(path, error);
    if (!stream) {
        failure = SystemFailure(FailedFile::Source, FailureKind::Open, error);
        return false;
    }
    const HeaderBytes bytes(stream.get());
    if (bytes.Error != 0) {
        failure = SystemFailure(FailedFile::Source, FailureKind::Read, bytes.Error);
        return false;
    }
    return ReadBmpHeaders(bytes.Span(), file, info, failure);
}

} // namespace dorvane
