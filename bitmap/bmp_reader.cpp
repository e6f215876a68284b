// The BMP reader: LoadBmp and the row decoders.
//
// What LoadBmp leaves behind:
// - VerifyTypeSizes false: false, image unchanged, no file opened.
// - the file cannot be opened: false; 1 x 1 at 1 bpp with the standard palette, pixel white;
//   resolution unchanged.
// - bfType is not "BM": false, image unchanged.
// - a header rejection (a header read fails, an unsupported compression or bit count, a width or
//   height not positive or beyond MaxBmpDimension, more than MaxBmpPixelCount pixels), or memory
//   that runs out while loading: false; 1 x 1 at 1 bpp as above. Once the headers were read the
//   image keeps their resolution.
// - failed palette, mask or gap reads are ignored; rows that do not arrive stay white; a 16 bpp
//   pixel whose read fails repeats the last complete value read.
#include "bmp_reader.hpp"
#include "bitmap_image.hpp"
#include "bmp_headers.hpp"
#include "file_stream.hpp"
#include "int_power.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <utility>
#include <vector>

namespace dorvane {
namespace {

PixelRgba PaletteColour(std::span<const PixelRgba> palette, std::uint32_t index) {
    // The same as BitmapImage::PaletteEntry: an index beyond the palette gives the default colour.
    return index < palette.size() ? palette[index] : DefaultColour;
}

// Reads one header field with ReadItems; the field changes only when all its bytes arrived.
template <class Field> bool ReadField(Field& field, std::FILE* stream) {
    Field value{};
    if (!ReadItems(&value, sizeof value, 1, stream)) {
        return false;
    }
    field = value;
    return true;
}

// Reads and discards count bytes as ReadItems would read them as one item (nothing when the
// stream is already at its end), in bounded pieces, so that a gap near 2^31 bytes allocates
// nothing.
void SkipBytes(std::FILE* stream, std::int64_t count) {
    std::array<std::uint8_t, GapSkipChunkSize> scratch;
    while (count > 0 && std::feof(stream) == 0) {
        const std::size_t piece =
            static_cast<std::size_t>(std::min<std::int64_t>(count, GapSkipChunkSize));
        const std::size_t got = std::fread(scratch.data(), 1, piece, stream);
        count -= static_cast<std::int64_t>(got);
        if (got < piece) {
            return;
        }
    }
}

bool Reject(BitmapImage& image) {
    image.SetDimensions(1, 1);
    image.ChangeBitDepth(1);
    return false;
}

struct Headers {
    FileHeader File;
    InfoHeader Info;
};

// Every field is read, whatever the earlier reads gave; true when all of them arrived.
bool ReadHeaderFields(Headers& headers, std::FILE* stream) {
    FileHeader& file = headers.File;
    InfoHeader& info = headers.Info;
    bool complete = true;
    complete &= ReadField(file.bfSize, stream);
    complete &= ReadField(file.bfReserved1, stream);
    complete &= ReadField(file.bfReserved2, stream);
    complete &= ReadField(file.bfOffBits, stream);
    complete &= ReadField(info.biSize, stream);
    complete &= ReadField(info.biWidth, stream);
    complete &= ReadField(info.biHeight, stream);
    complete &= ReadField(info.biPlanes, stream);
    complete &= ReadField(info.biBitCount, stream);
    complete &= ReadField(info.biCompression, stream);
    complete &= ReadField(info.biSizeImage, stream);
    complete &= ReadField(info.biXPelsPerMeter, stream);
    complete &= ReadField(info.biYPelsPerMeter, stream);
    complete &= ReadField(info.biClrUsed, stream);
    complete &= ReadField(info.biClrImportant, stream);
    return complete;
}

bool IsSupportedBitCount(std::uint16_t bitCount) {
    return HasPaletteDepth(bitCount) || bitCount == 16 || bitCount == 24 || bitCount == 32;
}

// The palette: n = (bfOffBits - 54) / 4 entries, at most the palette size; entries that receive no
// byte keep their standard colour, entries n and above become the default colour.
void ReadPalette(BitmapImage& image, std::int32_t offsetPastHeaders, std::FILE* stream) {
    const std::span<PixelRgba> palette = image.PaletteEntries();
    const std::int64_t wanted = std::max<std::int32_t>(offsetPastHeaders / 4, 0);
    const auto count = static_cast<std::size_t>(
        std::min<std::int64_t>(wanted, static_cast<std::int64_t>(palette.size())));
    // One entry after another with ReadItems stores the same bytes as this single read: reading
    // stops at the end of the file, and the bytes of a partial entry are stored as they came.
    std::array<std::uint8_t, 256 * sizeof(PixelRgba)> bytes{};
    std::size_t got = 0;
    if (count > 0 && std::feof(stream) == 0) {
        got = std::fread(bytes.data(), 1, count * sizeof(PixelRgba), stream);
    }
    std::memcpy(palette.data(), bytes.data(), got);
    for (std::size_t index = count; index < palette.size(); ++index) {
        palette[index] = DefaultColour;
    }
}

// Rows are read and decoded in blocks of up to MaxBlockRows rows (fewer for very wide rows):
// one read per block, and each column's pixels of the block are written one after another,
// which the column-major storage needs to be fast. Row r of a block is image row yFirst - r.
constexpr std::size_t BlockBytesTarget = std::size_t{1} << 20;
constexpr std::int32_t MaxBlockRows = 32;

std::int32_t RowsPerBlock(std::size_t rowLength) {
    const std::size_t rows = std::clamp<std::size_t>(
        BlockBytesTarget / std::max<std::size_t>(rowLength, 1), 1, MaxBlockRows);
    return static_cast<std::int32_t>(rows);
}

// Calls decode(pixel, row, x) for every pixel of count rows, column by column.
template <class Decode>
void DecodeBlock(BitmapImage& image, const std::uint8_t* rows, std::size_t rowLength,
                 std::int32_t count, std::int32_t yFirst, Decode decode) {
    const std::int32_t width = image.GetWidth();
    for (std::int32_t x = 0; x < width; ++x) {
        PixelRgba* const column = image.Column(x).data() + yFirst;
        const std::uint8_t* row = rows;
        for (std::int32_t r = 0; r < count; ++r, row += rowLength) {
            decode(*(column - r), row, static_cast<std::size_t>(x));
        }
    }
}

void Decode32(BitmapImage& image, const std::uint8_t* rows, std::size_t rowLength,
              std::int32_t count, std::int32_t yFirst) {
    DecodeBlock(image, rows, rowLength, count, yFirst,
                [](PixelRgba& pixel, const std::uint8_t* row, std::size_t x) {
                    const std::uint8_t* bytes = row + 4 * x;
                    pixel = PixelRgba{bytes[0], bytes[1], bytes[2], bytes[3]};
                });
}

void Decode24(BitmapImage& image, const std::uint8_t* rows, std::size_t rowLength,
              std::int32_t count, std::int32_t yFirst) {
    DecodeBlock(image, rows, rowLength, count, yFirst,
                [](PixelRgba& pixel, const std::uint8_t* row, std::size_t x) {
                    const std::uint8_t* bytes = row + 3 * x;
                    pixel.Blue = bytes[0]; // alpha stays as it is
                    pixel.Green = bytes[1];
                    pixel.Red = bytes[2];
                });
}

void Decode8(BitmapImage& image, const std::uint8_t* rows, std::size_t rowLength,
             std::int32_t count, std::int32_t yFirst) {
    const std::span<const PixelRgba> palette = std::as_const(image).PaletteEntries();
    DecodeBlock(image, rows, rowLength, count, yFirst,
                [palette](PixelRgba& pixel, const std::uint8_t* row, std::size_t x) {
                    pixel = PaletteColour(palette, row[x]);
                });
}

void Decode4(BitmapImage& image, const std::uint8_t* rows, std::size_t rowLength,
             std::int32_t count, std::int32_t yFirst) {
    const std::span<const PixelRgba> palette = std::as_const(image).PaletteEntries();
    DecodeBlock(image, rows, rowLength, count, yFirst,
                [palette](PixelRgba& pixel, const std::uint8_t* row, std::size_t x) {
                    const std::uint32_t byte = row[x / 2];
                    pixel = PaletteColour(palette, x % 2 == 0 ? byte >> 4 : byte & 0x0F);
                });
}

void Decode1(BitmapImage& image, const std::uint8_t* rows, std::size_t rowLength,
             std::int32_t count, std::int32_t yFirst) {
    const std::span<const PixelRgba> palette = std::as_const(image).PaletteEntries();
    DecodeBlock(image, rows, rowLength, count, yFirst,
                [palette](PixelRgba& pixel, const std::uint8_t* row, std::size_t x) {
                    pixel = PaletteColour(palette, (std::uint32_t{row[x / 8]} >> (7 - x % 8)) & 1);
                });
}

// Depths 1, 4, 8, 24 and 32: whole rows, bottom-up, until one does not arrive. Reading
// a block at once decodes exactly the rows that reading row by row would: the complete ones
// before the first that is cut short.
bool ReadPaletteOrRgbRows(BitmapImage& image, std::FILE* stream) {
    const std::int32_t depth = image.GetBitDepth();
    // Width x depth is at most 2^24 x 32; the padded row is 4 x ceil(width x depth / 32) bytes,
    // the length that the literal "add 1 while short, then while not a multiple of 4" gives.
    const std::int64_t rowBits = std::int64_t{image.GetWidth()} * depth;
    const auto rowLength = static_cast<std::size_t>((rowBits + 31) / 32 * 4);
    void (*decode)(BitmapImage&, const std::uint8_t*, std::size_t, std::int32_t, std::int32_t) =
        nullptr;
    switch (depth) {
    case 1:
        decode = Decode1;
        break;
    case 4:
        decode = Decode4;
        break;
    case 8:
        decode = Decode8;
        break;
    case 24:
        decode = Decode24;
        break;
    default:
        decode = Decode32;
        break;
    }
    const std::int32_t blockRows = RowsPerBlock(rowLength);
    std::vector<std::uint8_t> block(rowLength * static_cast<std::size_t>(blockRows));
    for (std::int32_t y = image.GetHeight() - 1; y >= 0; y -= blockRows) {
        const std::int32_t count = std::min(blockRows, y + 1);
        const std::size_t wanted = rowLength * static_cast<std::size_t>(count);
        const std::size_t got = std::fread(block.data(), 1, wanted, stream);
        const auto complete = static_cast<std::int32_t>(got / rowLength);
        decode(image, block.data(), rowLength, complete, y);
        if (got < wanted) {
            break;
        }
    }
    return true;
}

struct ChannelMask {
    std::uint16_t Mask;
    std::uint16_t Shift;

    // Only the 16-bit mask counts: its shift brings it to 31 or less.
    explicit ChannelMask(std::uint16_t mask) : Mask(mask), Shift(0) {
        for (std::uint32_t m = mask; m > 31; m >>= 1) {
            ++Shift;
        }
    }
    std::uint8_t Decode(std::uint32_t value) const {
        return static_cast<std::uint8_t>(8 * ((value & Mask) >> Shift));
    }
};

// Gives rows yFirst down to yLast, from column first on, the colour of last (alpha kept).
void RepeatColour(BitmapImage& image, std::int32_t first, std::int32_t yFirst, std::int32_t yLast,
                  const PixelRgba& last) {
    for (std::int32_t x = first; x < image.GetWidth(); ++x) {
        const std::span<PixelRgba> column = image.Column(x);
        for (std::int32_t y = yLast; y <= yFirst; ++y) {
            PixelRgba& pixel = column[static_cast<std::size_t>(y)];
            pixel.Red = last.Red;
            pixel.Green = last.Green;
            pixel.Blue = last.Blue;
        }
    }
}

// 16 bpp: optional masks, the gap, then pixel values of 2 bytes, each row followed by 0 or 2
// padding bytes. Rows are read in blocks; the pixels whose 2 bytes did not all arrive repeat the
// last complete value, exactly as reading pixel by pixel with ReadItems would give, since once
// a read comes up short every later read fails at the end of the file.
bool Read16BitRows(BitmapImage& image, std::uint32_t compression, std::int64_t gap,
                   std::FILE* stream) {
    std::array<std::uint16_t, 3> masks{0x7C00, 0x03E0, 0x001F};
    if (compression != BiRgb) {
        for (std::uint16_t& mask : masks) {
            std::uint16_t highHalf = 0;
            ReadField(mask, stream);
            ReadField(highHalf, stream);
        }
    }
    SkipBytes(stream, gap);
    const ChannelMask red(masks[0]);
    const ChannelMask green(masks[1]);
    const ChannelMask blue(masks[2]);
    const auto decode = [&](PixelRgba& pixel, const std::uint8_t* row, std::size_t x) {
        const std::uint32_t value = row[2 * x] | (std::uint32_t{row[2 * x + 1]} << 8);
        pixel.Red = red.Decode(value); // alpha stays as it is
        pixel.Green = green.Decode(value);
        pixel.Blue = blue.Decode(value);
    };

    const std::int32_t width = image.GetWidth();
    const std::size_t padding = (width % 2 == 0) ? 0 : 2;
    const std::size_t rowLength = 2 * static_cast<std::size_t>(width) + padding;
    const std::int32_t blockRows = RowsPerBlock(rowLength);
    std::vector<std::uint8_t> block(rowLength * static_cast<std::size_t>(blockRows));
    // Before any value was read completely a pixel keeps its colour: white, as a row that never
    // arrived stays white at the other depths.
    bool haveValue = false;
    PixelRgba last = DefaultColour;
    for (std::int32_t y = image.GetHeight() - 1; y >= 0; y -= blockRows) {
        const std::int32_t count = std::min(blockRows, y + 1);
        const std::size_t wanted = rowLength * static_cast<std::size_t>(count);
        const std::size_t got =
            std::feof(stream) == 0 ? std::fread(block.data(), 1, wanted, stream) : 0;
        const auto completeRows = static_cast<std::int32_t>(got / rowLength);
        DecodeBlock(image, block.data(), rowLength, completeRows, y, decode);
        if (completeRows > 0) {
            last = image.Column(width - 1)[static_cast<std::size_t>(y - completeRows + 1)];
            haveValue = true;
        }
        if (got == wanted) {
            continue;
        }
        // The row cut short: its complete values, then the last value everywhere after it.
        const std::int32_t yCut = y - completeRows;
        const std::uint8_t* cutRow =
            block.data() + rowLength * static_cast<std::size_t>(completeRows);
        const auto completeValues = static_cast<std::int32_t>(
            std::min((got % rowLength) / 2, static_cast<std::size_t>(width)));
        for (std::int32_t x = 0; x < completeValues; ++x) {
            decode(image.Column(x)[static_cast<std::size_t>(yCut)], cutRow,
                   static_cast<std::size_t>(x));
        }
        if (completeValues > 0) {
            last = image.Column(completeValues - 1)[static_cast<std::size_t>(yCut)];
            haveValue = true;
        }
        if (haveValue) {
            RepeatColour(image, completeValues, yCut, yCut, last);
            if (yCut > 0) {
                RepeatColour(image, 0, yCut - 1, 0, last);
            }
        }
        break;
    }
    return true;
}

bool LoadBmpFile(BitmapImage& image, const char* path) {
    if (!VerifyTypeSizes()) {
        return false;
    }
    const FileStream file = OpenFile(path, "rb");
    if (!file) {
        image.ChangeBitDepth(1);
        image.SetDimensions(1, 1);
        return false;
    }
    std::FILE* const stream = file.get();

    Headers headers;
    const bool typeRead = ReadField(headers.File.bfType, stream);
    if (headers.File.bfType != BmpSignature) {
        return false;
    }
    const bool fieldsRead = ReadHeaderFields(headers, stream);
    if (!typeRead || !fieldsRead) {
        return Reject(image);
    }
    const InfoHeader& info = headers.Info;
    image.XResolution = info.biXPelsPerMeter;
    image.YResolution = info.biYPelsPerMeter;

    const std::uint32_t compression = info.biCompression;
    if (compression == BiRle8 || compression == BiRle4 || compression > BiBitfields) {
        return Reject(image);
    }
    if (compression == BiBitfields && info.biBitCount != 16) {
        return Reject(image);
    }
    if (!IsSupportedBitCount(info.biBitCount)) {
        return Reject(image);
    }
    const std::int32_t depth = info.biBitCount;
    if (!image.ChangeBitDepth(depth)) {
        return Reject(image); // only exhausted memory makes a valid depth fail
    }
    if (info.biWidth <= 0 || info.biHeight <= 0 ||
        !BmpDimensionsWithinLimits(info.biWidth, info.biHeight)) {
        return Reject(image);
    }
    if (!image.SetDimensions(info.biWidth, info.biHeight)) {
        return Reject(image); // exhausted memory
    }

    // bfOffBits - 54 in signed 32-bit arithmetic (an offset below 54 gives a negative value).
    const auto offsetPastHeaders = static_cast<std::int32_t>(headers.File.bfOffBits - HeadersSize);
    if (HasPaletteDepth(depth)) {
        ReadPalette(image, offsetPastHeaders, stream);
    }
    // The gap, computed without overflow; the palette counts with its full size.
    std::int64_t gap = offsetPastHeaders;
    if (HasPaletteDepth(depth)) {
        gap -= std::int64_t{4} * IntPower(2, depth);
    } else if (depth == 16 && compression == BiBitfields) {
        gap -= 12;
    }
    gap = std::max<std::int64_t>(gap, 0);

    if (depth == 16) {
        return Read16BitRows(image, compression, gap, stream);
    }
    SkipBytes(stream, gap);
    return ReadPaletteOrRgbRows(image, stream);
}

} // namespace

bool BitmapImage::LoadBmp(const char* path) {
    try {
        return LoadBmpFile(*this, path);
    } catch (const std::exception&) {
        // Exhausted memory (std::bad_alloc, or a length beyond what a vector can hold). The
        // stream was closed while the exception left LoadBmpFile.
        return Reject(*this);
    }
}

bool UnpackRow32(BitmapImage& image, std::span<const std::uint8_t> row, std::int32_t y) {
    if (std::int64_t{4} * image.GetWidth() > static_cast<std::int64_t>(row.size())) {
        return false;
    }
    Decode32(image, row.data(), row.size(), 1, y);
    return true;
}

bool UnpackRow24(BitmapImage& image, std::span<const std::uint8_t> row, std::int32_t y) {
    if (std::int64_t{3} * image.GetWidth() > static_cast<std::int64_t>(row.size())) {
        return false;
    }
    Decode24(image, row.data(), row.size(), 1, y);
    return true;
}

bool UnpackRow8(BitmapImage& image, std::span<const std::uint8_t> row, std::int32_t y) {
    if (image.GetWidth() > static_cast<std::int64_t>(row.size())) {
        return false;
    }
    Decode8(image, row.data(), row.size(), 1, y);
    return true;
}

bool UnpackRow4(BitmapImage& image, std::span<const std::uint8_t> row, std::int32_t y) {
    if (image.GetWidth() > std::int64_t{2} * static_cast<std::int64_t>(row.size())) {
        return false;
    }
    Decode4(image, row.data(), row.size(), 1, y);
    return true;
}

bool UnpackRow1(BitmapImage& image, std::span<const std::uint8_t> row, std::int32_t y) {
    if (image.GetWidth() > std::int64_t{8} * static_cast<std::int64_t>(row.size())) {
        return false;
    }
    Decode1(image, row.data(), row.size(), 1, y);
    return true;
}

} // namespace dorvane
