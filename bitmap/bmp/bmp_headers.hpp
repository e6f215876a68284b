#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>
#include <tuple>
#include <utility>

namespace dorvane {

inline constexpr std::uint16_t BmpSignature = 19778; // the bytes 'B', 'M'
inline constexpr std::uint32_t FileHeaderSize = 14;
// The size of InfoHeader's fields on disk, and so the least biSize that the reader takes.
inline constexpr std::uint32_t InfoHeaderFieldsSize = 40;
inline constexpr std::uint32_t HeadersSize = FileHeaderSize + InfoHeaderFieldsSize; // 54

inline constexpr std::uint32_t BiRgb = 0;
inline constexpr std::uint32_t BiRle8 = 1;
inline constexpr std::uint32_t BiRle4 = 2;
inline constexpr std::uint32_t BiBitfields = 3;

// The 14-byte file header, with the published field names. Fields that construction does not
// give a value start at zero, so a header read from a short file never holds stray memory.
struct FileHeader {
    std::uint16_t bfType = BmpSignature;
    std::uint32_t bfSize = 0;
    std::uint16_t bfReserved1 = 0;
    std::uint16_t bfReserved2 = 0;
    std::uint32_t bfOffBits = 0;

    void ReverseByteOrder();
};

// The fields' widths add up to the header's size on disk.
static_assert(sizeof FileHeader::bfType + sizeof FileHeader::bfSize +
                  sizeof FileHeader::bfReserved1 + sizeof FileHeader::bfReserved2 +
                  sizeof FileHeader::bfOffBits ==
              FileHeaderSize);

// The 40-byte info header. Longer headers in files are read as their first 40 bytes, and a
// palette is looked for after their last byte; the reader refuses shorter ones, whose fields lie
// elsewhere (the 12-byte OS/2 core header among them).
struct InfoHeader {
    std::uint32_t biSize = 0;
    std::int32_t biWidth = 0;
    std::int32_t biHeight = 0;
    std::uint16_t biPlanes = 1;
    std::uint16_t biBitCount = 0;
    std::uint32_t biCompression = BiRgb;
    std::uint32_t biSizeImage = 0;
    std::int32_t biXPelsPerMeter = 3780;
    std::int32_t biYPelsPerMeter = 3780;
    std::uint32_t biClrUsed = 0;
    std::uint32_t biClrImportant = 0;

    void ReverseByteOrder();
};

// One field of a header: its published name, its place in the file, where the record keeps it,
// and a few words on what its value counts, for people. Its size on disk is its type's.
template <class Record, std::integral Value> struct HeaderField {
    std::string_view Name;
    std::uint32_t Offset; // from the start of the file
    Value Record::*Member;
    std::string_view Note; // empty when the number says it all
    static constexpr std::uint32_t Size = sizeof(Value);
};

template <class Record, std::integral Value>
constexpr HeaderField<Record, Value> FieldAt(std::string_view name, std::uint32_t offset,
                                             Value Record::*member, std::string_view note = {}) {
    return {name, offset, member, note};
}

// The fields of both headers, in file order: the one list that reading, writing, byte-order
// reversal, inspection and the listings of the tool and the Python package go through.
inline constexpr std::tuple FileHeaderFields{
    FieldAt("bfType", 0, &FileHeader::bfType, "BM"),
    FieldAt("bfSize", 2, &FileHeader::bfSize, "bytes"),
    FieldAt("bfReserved1", 6, &FileHeader::bfReserved1),
    FieldAt("bfReserved2", 8, &FileHeader::bfReserved2),
    FieldAt("bfOffBits", 10, &FileHeader::bfOffBits, "offset of the pixel rows"),
};
inline constexpr std::tuple InfoHeaderFields{
    FieldAt("biSize", 14, &InfoHeader::biSize, "bytes"),
    FieldAt("biWidth", 18, &InfoHeader::biWidth, "pixels"),
    FieldAt("biHeight", 22, &InfoHeader::biHeight, "pixels"),
    FieldAt("biPlanes", 26, &InfoHeader::biPlanes),
    FieldAt("biBitCount", 28, &InfoHeader::biBitCount, "bits per pixel"),
    FieldAt("biCompression", 30, &InfoHeader::biCompression),
    FieldAt("biSizeImage", 34, &InfoHeader::biSizeImage, "bytes"),
    FieldAt("biXPelsPerMeter", 38, &InfoHeader::biXPelsPerMeter, "pixels per metre"),
    FieldAt("biYPelsPerMeter", 42, &InfoHeader::biYPelsPerMeter, "pixels per metre"),
    FieldAt("biClrUsed", 46, &InfoHeader::biClrUsed),
    FieldAt("biClrImportant", 50, &InfoHeader::biClrImportant),
};

constexpr const auto& FieldsOf(const FileHeader&) {
    return FileHeaderFields;
}
constexpr const auto& FieldsOf(const InfoHeader&) {
    return InfoHeaderFields;
}

// Calls visit(field, value) on each field of header in file order, value being header's member.
template <class Header, class Visit> constexpr void ForEachField(Header& header, Visit&& visit) {
    std::apply([&](const auto&... field) { (visit(field, header.*field.Member), ...); },
               FieldsOf(header));
}

// Whether fields lie one after another from start, without gaps, and fill size bytes.
template <class Fields>
constexpr bool FieldsFill(const Fields& fields, std::uint32_t start, std::uint32_t size) {
    return std::apply(
        [&](const auto&... field) {
            std::uint32_t next = start;
            return ((field.Offset == next && (next += field.Size) > 0) && ...) &&
                   next == start + size;
        },
        fields);
}
static_assert(FieldsFill(FileHeaderFields, 0, FileHeaderSize));
static_assert(FieldsFill(InfoHeaderFields, FileHeaderSize, InfoHeaderFieldsSize));

// Both headers, as a file holds them.
struct BmpHeaders {
    FileHeader File;
    InfoHeader Info;
};

// What the writer stores: a Width x Height picture at Depth, with TableBytes of palette or masks
// before PixelBytes of rows, at a resolution in pixels per metre (0: not set).
struct PictureLayout {
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    std::int32_t Depth = 0;
    std::uint32_t TableBytes = 0;
    std::uint64_t PixelBytes = 0;
    std::int32_t XResolution = 0;
    std::int32_t YResolution = 0;
};

// The headers of the writer's file of picture. An unset resolution goes out as 96 dots per inch.
[[nodiscard]] BmpHeaders WrittenHeaders(const PictureLayout& picture);

// The resolution that a file's info header gives, horizontal then vertical, in pixels per metre.
[[nodiscard]] constexpr std::pair<std::int32_t, std::int32_t> ResolutionOf(const InfoHeader& info) {
    return {info.biXPelsPerMeter, info.biYPelsPerMeter};
}

// Reads count items of itemSize bytes. False when the stream was already at its end or fewer
// than count whole items arrived (bytes of a partial item may already be in buffer).
bool ReadItems(void* buffer, std::size_t itemSize, std::size_t count, std::FILE* stream);

} // namespace dorvane
