#include "header_inspection.hpp"
#include "file_signature.hpp"
#include "file_stream.hpp"
#include "little_endian.hpp"
#include "platform.hpp"
#include "stream_reading.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <span>
#include <type_traits>

namespace dorvane {
namespace {

// header with each field taken from its little-endian bytes at its offset in bytes, the start of
// a file. A field that the bytes do not hold completely keeps its value, and so does every field
// after it, as when reading a file that ends there.
template <class Header> Header FieldsFrom(std::span<const std::uint8_t> bytes, Header header) {
    ForEachField(header, [bytes](const auto& field, auto& value) {
        using Value = std::remove_reference_t<decltype(value)>;
        std::array<std::uint8_t, sizeof(Value)> held{};
        if (field.Offset + held.size() <= bytes.size()) {
            std::copy_n(bytes.subspan(field.Offset).begin(), held.size(), held.begin());
            value = LoadLittleEndian<Value>(held);
        }
    });
    return header;
}

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
    return FieldsFrom(bytes, FileHeader{});
}

InfoHeader ReadInfoHeaderOf(std::span<const std::uint8_t> bytes) {
    return FieldsFrom(bytes, InfoHeader{});
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
        failure = NotBmpFailure(bytes.first(std::min(bytes.size(), SignatureBytes)));
        return false;
    }
    file = FieldsFrom(bytes, FileHeader{});
    info = FieldsFrom(bytes, InfoHeader{});
    if (file.bfType != BmpSignature) {
        failure = NotBmpFailure(bytes.first(SignatureBytes));
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
