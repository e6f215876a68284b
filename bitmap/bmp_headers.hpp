#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

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

// And the info header's to the 40 bytes that the reader and the writer move.
static_assert(sizeof InfoHeader::biSize + sizeof InfoHeader::biWidth + sizeof InfoHeader::biHeight +
                  sizeof InfoHeader::biPlanes + sizeof InfoHeader::biBitCount +
                  sizeof InfoHeader::biCompression + sizeof InfoHeader::biSizeImage +
                  sizeof InfoHeader::biXPelsPerMeter + sizeof InfoHeader::biYPelsPerMeter +
                  sizeof InfoHeader::biClrUsed + sizeof InfoHeader::biClrImportant ==
              InfoHeaderFieldsSize);

// Reads count items of itemSize bytes. False when the stream was already at its end or fewer
// than count whole items arrived (bytes of a partial item may already be in buffer).
bool ReadItems(void* buffer, std::size_t itemSize, std::size_t count, std::FILE* stream);

} // namespace dorvane
