// The BMP reader: LoadBmp and the row decoders.
//
// What LoadBmp leaves behind:
// - the file cannot be opened: false; 1 x 1 at 1 bpp with the standard palette, pixel white;
//   resolution unchanged.
// - bfType is not "BM": false, image unchanged.
// - a header rejection (a header read fails, an info header shorter than 40 bytes, an unsupported
//   compression or bit count, a width or height not positive or beyond MaxBmpDimension, more
//   than MaxBmpPixelCount pixels, at 1, 4 and 8 bpp an info header longer than 40 bytes that
//   runs past bfOffBits), or memory that runs out while loading: false; 1 x 1 at 1 bpp as above.
//   Once the headers were read the image keeps their resolution.
// - failed palette, mask or gap reads are ignored; rows that do not arrive stay white; a 16 bpp
//   pixel whose read fails repeats the last complete value read. The load succeeds, and its
//   FileFailure records the rows expected and the rows that arrived whole.
#include "bmp_reader.hpp"
#include "bitmap_image.hpp"
#include "bmp_headers.hpp"
#include "bmp_pixel_blocks.hpp"
#include "byte_source.hpp"
#include "file_failure.hpp"
#include "file_signature.hpp"
#include "file_stream.hpp"
#include "int_power.hpp"
#include "little_endian.hpp"
#include "platform.hpp"
#include "row_blocks.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstring>
#include <exception>
#include <span>
#include <tuple>
#include <utility>
#include <vector>

namespace dorvane {
namespace {

PixelRgba PaletteColour(std::span<const PixelRgba> palette, std::uint32_t index) {
    // The same as BitmapImage::PaletteEntry: an index beyond the palette gives the default colour.
    return index < palette.size() ? palette[index] : DefaultColour;
}

// Reads one little-endian header field as ReadItems would; the field changes only when all its
// bytes arrived.
template <class Field> bool ReadField(Field& field, ByteSource& source) {
    std::array<std::uint8_t, sizeof(Field)> bytes{};
    if (source.AtEnd() || source.Read(bytes.data(), bytes.size()) < bytes.size()) {
        return false;
    }
    field = LoadLittleEndian<Field>(bytes);
    return true;
}

// Reads and discards count bytes as ReadItems would read them as one item (nothing when the
// stream is already at its end), in bounded pieces, so that a gap near 2^31 bytes allocates
// nothing.
void SkipBytes(ByteSource& source, std::int64_t count) {
    std::array<std::uint8_t, GapSkipChunkSize> scratch;
    while (count > 0 && !source.AtEnd()) {
        const std::size_t piece =
            static_cast<std::size_t>(std::min<std::int64_t>(count, GapSkipChunkSize));
        const std::size_t got = source.Read(scratch.data(), piece);
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

// Every field after bfType, which was read first, is read whatever the earlier reads gave; true
// when all of them arrived.
bool ReadHeaderFields(BmpHeaders& headers, ByteSource& source) {
    bool complete = true;
    const auto read = [&](const auto& field, auto& value) {
        if (field.Offset > 0) {
            complete &= ReadField(value, source);
        }
    };
    ForEachField(headers.File, read);
    ForEachField(headers.Info, read);
    return complete;
}

bool IsSupportedBitCount(std::uint16_t bitCount) {
    return HasPaletteDepth(bitCount) || bitCount == 16 || bitCount == 24 || bitCount == 32;
}

// The palette: n = (bfOffBits - its offset) / 4 entries, at most the palette size; entries that
// receive no byte keep their standard colour, entries n and above become the default colour.
void ReadPalette(BitmapImage& image, std::int32_t offsetPastHeaders, ByteSource& source) {
    const std::span<PixelRgba> palette = image.PaletteEntries();
    const std::int64_t wanted = std::max<std::int32_t>(offsetPastHeaders / 4, 0);
    const auto count = static_cast<std::size_t>(
        std::min<std::int64_t>(wanted, static_cast<std::int64_t>(palette.size())));
    // One entry after another with ReadItems stores the same bytes as this single read: reading
    // stops at the end of the file, and the bytes of a partial entry are stored as they came.
    std::array<std::uint8_t, 256 * sizeof(PixelRgba)> bytes{};
    std::size_t got = 0;
    if (count > 0 && !source.AtEnd()) {
        got = source.Read(bytes.data(), count * sizeof(PixelRgba));
    }
    std::memcpy(palette.data(), bytes.data(), got);
    for (std::size_t index = count; index < palette.size(); ++index) {
        palette[index] = DefaultColour;
    }
}

// Where the rows go. A target chooses how many rows a block holds and how many columns of them go
// at once (all, unless a row is too long for one block), is told each such part of a block
// (Begin, End), and gives the address of pixel (x, y) of the current part (At).

// Straight into the image's columns, which SetDimensions made white with alpha 0.
class ImageTarget {
  public:
    static constexpr bool StartsWhite = true;
    static constexpr bool RowMajor = false;

    explicit ImageTarget(BitmapImage& image) : Image(image) {}
    bool Prepare(std::int32_t width, std::int32_t height) {
        return Image.SetDimensions(width, height);
    }
    std::int32_t BlockRows(std::size_t rowLength) const {
        return std::min(RowsPerBlock(rowLength), Height());
    }
    std::int32_t SpanColumns() const { return Width(); }
    void Reserve(std::int32_t) {}
    bool ReadsFileRows(std::int32_t) const { return false; }
    std::int32_t ReadFileRows(ByteSource&, std::size_t) const { return 0; }
    std::int32_t Width() const { return Image.GetWidth(); }
    std::int32_t Height() const { return Image.GetHeight(); }
    void Begin(std::int32_t, std::int32_t, std::int32_t, std::int32_t) {}
    PixelRgba* At(std::int32_t x, std::int32_t y) {
        return Image.Column(x).data() + static_cast<std::ptrdiff_t>(y);
    }
    void End() {}

  private:
    BitmapImage& Image;
};

// Into a band of one block's rows, row after row, handed to the sink as soon as the block is
// done: at most BlockBytes of pixels, so that a very long row goes a span of columns at a time.
// The band starts with alpha 0 everywhere and the decoders of 16 and 24 bpp never write alpha,
// so its pixels equal those an image would hold.
class BandTarget {
  public:
    static constexpr bool StartsWhite = false;
    static constexpr bool RowMajor = true;

    explicit BandTarget(const PixelBlockSink& sink) : Sink(sink) {}
    // Whether the sink reads the rows of a file at depth itself.
    bool ReadsFileRows(std::int32_t depth) const {
        return Sink.ReadFileRows && (depth == 8 || depth == 24 || depth == 32);
    }
    std::int32_t ReadFileRows(ByteSource& rows, std::size_t rowLength) const {
        return Sink.ReadFileRows(rows, rowLength);
    }
    bool Prepare(std::int32_t width, std::int32_t height) {
        PictureWidth = width;
        PictureHeight = height;
        return Sink.Start(width, height);
    }
    // The band's rows are longer than the file's: whole rows fill a block only while its rows fit
    // in it, so that a row is split only in a block of its own.
    std::int32_t BlockRows(std::size_t) const {
        return std::min(RowsPerBlock(sizeof(PixelRgba) * Stride()), PictureHeight);
    }
    std::int32_t SpanColumns() const { return static_cast<std::int32_t>(Stride()); }
    void Reserve(std::int32_t rows) {
        Pixels.assign(static_cast<std::size_t>(rows) * Stride(), PixelRgba{});
    }
    std::int32_t Width() const { return PictureWidth; }
    std::int32_t Height() const { return PictureHeight; }
    void Begin(std::int32_t yFirst, std::int32_t count, std::int32_t x0, std::int32_t columns) {
        YLow = yFirst - count + 1;
        Rows = count;
        XLow = x0;
        Columns = columns;
    }
    PixelRgba* At(std::int32_t x, std::int32_t y) {
        return Pixels.data() + static_cast<std::size_t>(y - YLow) * Stride() +
               static_cast<std::size_t>(x - XLow);
    }
    void End() {
        const auto cells = static_cast<std::size_t>(Rows) * Stride();
        Sink.Take(PixelBlock{YLow, Rows, XLow, Columns, Stride(),
                             std::span<const PixelRgba>(Pixels).first(cells)});
    }

  private:
    std::size_t Stride() const {
        return std::min(static_cast<std::size_t>(PictureWidth), BlockBytes / sizeof(PixelRgba));
    }

    const PixelBlockSink& Sink;
    std::int32_t PictureWidth = 0;
    std::int32_t PictureHeight = 0;
    std::int32_t YLow = 0;
    std::int32_t Rows = 0;
    std::int32_t XLow = 0;
    std::int32_t Columns = 0;
    std::vector<PixelRgba> Pixels;
};

// Calls decode(pixel, row, x) for columns x0 .. x0 + columns - 1 of count rows, in the order of
// the target's storage. rows holds the bytes of the rows from column x0 on, and x counts from
// there.
template <class Target, class Decode>
void DecodeBlock(Target& target, const std::uint8_t* rows, std::size_t rowLength,
                 std::int32_t count, std::int32_t yFirst, std::int32_t x0, std::int32_t columns,
                 Decode decode) {
    if constexpr (Target::RowMajor) {
        const std::uint8_t* row = rows;
        for (std::int32_t r = 0; r < count; ++r, row += rowLength) {
            PixelRgba* const pixels = target.At(x0, yFirst - r);
            for (std::int32_t x = 0; x < columns; ++x) {
                decode(pixels[x], row, static_cast<std::size_t>(x));
            }
        }
    } else {
        for (std::int32_t x = 0; x < columns; ++x) {
            PixelRgba* const column = target.At(x0 + x, yFirst);
            const std::uint8_t* row = rows;
            for (std::int32_t r = 0; r < count; ++r, row += rowLength) {
                decode(*(column - r), row, static_cast<std::size_t>(x));
            }
        }
    }
}
// Whole rows into a band, whose rows are runs of PixelRgba: the file's bytes come in the order of
// its fields (blue, green, red, alpha).
void DecodeRow32(const std::uint8_t* row, PixelRgba* pixels, std::size_t width) {
    std::memcpy(pixels, row, sizeof(PixelRgba) * width);
}

// Four pixels from two 8-byte loads where the machine is little-endian; alpha 0, as a band's.
// The pixels go out in pairs, as 8-byte values: built one by one, the compiler would assemble
// them in memory and stall on reading them back.
void DecodeRow24(const std::uint8_t* row, PixelRgba* pixels, std::size_t width) {
    std::size_t x = 0;
    if constexpr (std::endian::native == std::endian::little) {
        using PixelPair = std::array<PixelRgba, 2>;
        for (; x + 4 <= width; x += 4) {
            std::uint64_t low = 0;  // bytes 0 .. 7 of the four pixels
            std::uint64_t high = 0; // bytes 4 .. 11
            std::memcpy(&low, row + 3 * x, sizeof low);
            std::memcpy(&high, row + 3 * x + 4, sizeof high);
            const std::uint64_t first = (low & 0xFFFFFFU) | ((low >> 24) & 0xFFFFFFU) << 32;
            const std::uint64_t second =
                (low >> 48) | ((high >> 32) & 0xFFU) << 16 | ((high >> 40) & 0xFFFFFFU) << 32;
            const auto firstPair = std::bit_cast<PixelPair>(first);
            const auto secondPair = std::bit_cast<PixelPair>(second);
            pixels[x] = firstPair[0];
            pixels[x + 1] = firstPair[1];
            pixels[x + 2] = secondPair[0];
            pixels[x + 3] = secondPair[1];
        }
    }
    for (; x < width; ++x) {
        const std::uint8_t* bytes = row + 3 * x;
        pixels[x] = PixelRgba{bytes[0], bytes[1], bytes[2], 0};
    }
}

// Calls decodeRow(row, pixels, columns) for each of count rows of a row-major target.
template <class Target, class DecodeRow>
void DecodeRows(Target& target, const std::uint8_t* rows, std::size_t rowLength, std::int32_t count,
                std::int32_t yFirst, std::int32_t x0, std::int32_t columns, DecodeRow decodeRow) {
    for (std::int32_t r = 0; r < count; ++r, rows += rowLength) {
        decodeRow(rows, target.At(x0, yFirst - r), static_cast<std::size_t>(columns));
    }
}

// The decoders of each depth, as DecodeBlock takes its arguments.

template <class Target>
void Decode32(Target& target, std::span<const PixelRgba>, const std::uint8_t* rows,
              std::size_t rowLength, std::int32_t count, std::int32_t yFirst, std::int32_t x0,
              std::int32_t columns) {
    if constexpr (Target::RowMajor) {
        DecodeRows(target, rows, rowLength, count, yFirst, x0, columns, DecodeRow32);
    } else {
        DecodeBlock(target, rows, rowLength, count, yFirst, x0, columns,
                    [](PixelRgba& pixel, const std::uint8_t* row, std::size_t x) {
                        const std::uint8_t* bytes = row + 4 * x;
                        pixel = PixelRgba{bytes[0], bytes[1], bytes[2], bytes[3]};
                    });
    }
}

template <class Target>
void Decode24(Target& target, std::span<const PixelRgba>, const std::uint8_t* rows,
              std::size_t rowLength, std::int32_t count, std::int32_t yFirst, std::int32_t x0,
              std::int32_t columns) {
    if constexpr (Target::RowMajor) {
        DecodeRows(target, rows, rowLength, count, yFirst, x0, columns, DecodeRow24);
    } else {
        DecodeBlock(target, rows, rowLength, count, yFirst, x0, columns,
                    [](PixelRgba& pixel, const std::uint8_t* row, std::size_t x) {
                        const std::uint8_t* bytes = row + 3 * x;
                        pixel.Blue = bytes[0]; // alpha stays as it is
                        pixel.Green = bytes[1];
                        pixel.Red = bytes[2];
                    });
    }
}

template <class Target>
void Decode8(Target& target, std::span<const PixelRgba> palette, const std::uint8_t* rows,
             std::size_t rowLength, std::int32_t count, std::int32_t yFirst, std::int32_t x0,
             std::int32_t columns) {
    DecodeBlock(target, rows, rowLength, count, yFirst, x0, columns,
                [palette](PixelRgba& pixel, const std::uint8_t* row, std::size_t x) {
                    pixel = PaletteColour(palette, row[x]);
                });
}

template <class Target>
void Decode4(Target& target, std::span<const PixelRgba> palette, const std::uint8_t* rows,
             std::size_t rowLength, std::int32_t count, std::int32_t yFirst, std::int32_t x0,
             std::int32_t columns) {
    DecodeBlock(target, rows, rowLength, count, yFirst, x0, columns,
                [palette](PixelRgba& pixel, const std::uint8_t* row, std::size_t x) {
                    const std::uint32_t byte = row[x / 2];
                    pixel = PaletteColour(palette, x % 2 == 0 ? byte >> 4 : byte & 0x0F);
                });
}

template <class Target>
void Decode1(Target& target, std::span<const PixelRgba> palette, const std::uint8_t* rows,
             std::size_t rowLength, std::int32_t count, std::int32_t yFirst, std::int32_t x0,
             std::int32_t columns) {
    DecodeBlock(target, rows, rowLength, count, yFirst, x0, columns,
                [palette](PixelRgba& pixel, const std::uint8_t* row, std::size_t x) {
                    pixel = PaletteColour(palette, (std::uint32_t{row[x / 8]} >> (7 - x % 8)) & 1);
                });
}

// Sets columns first .. end - 1 of rows yHigh down to yLow of the current part to colour.
template <class Target>
void FillBlock(Target& target, std::int32_t first, std::int32_t end, std::int32_t yHigh,
               std::int32_t yLow, const PixelRgba& colour) {
    if constexpr (Target::RowMajor) {
        for (std::int32_t y = yLow; y <= yHigh; ++y) {
            std::fill_n(target.At(first, y), end - first, colour);
        }
    } else {
        for (std::int32_t x = first; x < end; ++x) {
            std::fill_n(target.At(x, yLow), yHigh - yLow + 1, colour);
        }
    }
}

// Rows yFirst down to yFirst - count + 1 from column x0 (where a part starts) on, all of colour.
template <class Target>
void FillRows(Target& target, std::int32_t yFirst, std::int32_t count, std::int32_t x0,
              const PixelRgba& colour) {
    const std::int32_t span = target.SpanColumns();
    for (std::int32_t x = x0; x < target.Width(); x += span) {
        const std::int32_t columns = std::min(span, target.Width() - x);
        target.Begin(yFirst, count, x, columns);
        FillBlock(target, x, x + columns, yFirst, yFirst - count + 1, colour);
        target.End();
    }
}

// Rows yHigh down to 0, in blocks, all of colour.
template <class Target>
void FillRemainingRows(Target& target, std::int32_t yHigh, std::int32_t blockRows,
                       const PixelRgba& colour) {
    for (std::int32_t y = yHigh; y >= 0; y -= blockRows) {
        FillRows(target, y, std::min(blockRows, y + 1), 0, colour);
    }
}

// Step 14, depths 1, 4, 8, 24 and 32: whole rows, bottom-up, until one does not arrive; the
// rest stay white. Reading a block at once decodes exactly the rows that reading row by row
// would: the complete ones before the first that is cut short. Returns how many arrived whole.
template <class Target>
std::int32_t ReadPaletteOrRgbRows(Target& target, const BitmapImage& image, ByteSource& source) {
    const std::int32_t depth = image.GetBitDepth();
    // Width x depth is at most 2^24 x 32; the padded row is 4 x ceil(width x depth / 32) bytes,
    // the length that the literal "add 1 while short, then while not a multiple of 4" gives.
    const std::int64_t rowBits = std::int64_t{target.Width()} * depth;
    const auto rowLength = static_cast<std::size_t>((rowBits + 31) / 32 * 4);
    if (target.ReadsFileRows(depth)) {
        return target.ReadFileRows(source, rowLength);
    }
    void (*decode)(Target&, std::span<const PixelRgba>, const std::uint8_t*, std::size_t,
                   std::int32_t, std::int32_t, std::int32_t, std::int32_t) = nullptr;
    switch (depth) {
    case 1:
        decode = Decode1<Target>;
        break;
    case 4:
        decode = Decode4<Target>;
        break;
    case 8:
        decode = Decode8<Target>;
        break;
    case 24:
        decode = Decode24<Target>;
        break;
    default:
        decode = Decode32<Target>;
        break;
    }
    const std::span<const PixelRgba> palette = image.PaletteEntries();
    const std::int32_t blockRows = target.BlockRows(rowLength);
    const std::int32_t span = target.SpanColumns();
    target.Reserve(blockRows);
    // Whole rows, as a row is decoded only once all of it arrived.
    std::vector<std::uint8_t> block(rowLength * static_cast<std::size_t>(blockRows));
    for (std::int32_t y = target.Height() - 1; y >= 0; y -= blockRows) {
        const std::int32_t count = std::min(blockRows, y + 1);
        const std::size_t wanted = rowLength * static_cast<std::size_t>(count);
        const std::size_t got = source.Read(block.data(), wanted);
        const auto complete = static_cast<std::int32_t>(got / rowLength);
        for (std::int32_t x0 = 0; x0 < target.Width(); x0 += span) {
            const std::int32_t columns = std::min(span, target.Width() - x0);
            target.Begin(y, count, x0, columns);
            // A part of a row starts at a whole byte: parts are a multiple of 8 columns wide.
            decode(target, palette,
                   block.data() +
                       static_cast<std::size_t>(x0) * static_cast<std::size_t>(depth) / 8,
                   rowLength, complete, y, x0, columns);
            if (!Target::StartsWhite && complete < count) {
                FillBlock(target, x0, x0 + columns, y - complete, y - count + 1, DefaultColour);
            }
            target.End();
        }
        if (got < wanted) {
            if constexpr (!Target::StartsWhite) {
                FillRemainingRows(target, y - count, blockRows, DefaultColour);
            }
            return target.Height() - 1 - y + complete;
        }
    }
    return target.Height();
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

// 16 bpp: optional masks, the gap, then pixel values of 2 bytes, each row followed by 0 or 2
// padding bytes. Rows are read in blocks, or a long row a part at a time; the pixels whose 2
// bytes did not all arrive repeat the last complete value, exactly as reading pixel by pixel with
// ReadItems would give, since once a read comes up short every later read fails at the end of
// the file. Returns how many rows arrived whole, padding included.
template <class Target>
std::int32_t Read16BitRows(Target& target, std::uint32_t compression, std::int64_t gap,
                           ByteSource& source) {
    std::array<std::uint16_t, 3> masks{0x7C00, 0x03E0, 0x001F};
    if (compression != BiRgb) {
        for (std::uint16_t& mask : masks) {
            std::uint16_t highHalf = 0;
            ReadField(mask, source);
            ReadField(highHalf, source);
        }
    }
    SkipBytes(source, gap);
    const ChannelMask red(masks[0]);
    const ChannelMask green(masks[1]);
    const ChannelMask blue(masks[2]);
    const auto decode = [&](PixelRgba& pixel, const std::uint8_t* row, std::size_t x) {
        const std::uint32_t value = row[2 * x] | (std::uint32_t{row[2 * x + 1]} << 8);
        pixel.Red = red.Decode(value); // alpha stays as it is
        pixel.Green = green.Decode(value);
        pixel.Blue = blue.Decode(value);
    };

    const std::int32_t width = target.Width();
    const std::size_t padding = (width % 2 == 0) ? 0 : 2;
    const std::size_t rowLength = 2 * static_cast<std::size_t>(width) + padding;
    const std::int32_t blockRows = target.BlockRows(rowLength);
    const std::int32_t span = target.SpanColumns();
    target.Reserve(blockRows);
    std::vector<std::uint8_t> block((2 * static_cast<std::size_t>(span) + padding) *
                                    static_cast<std::size_t>(blockRows));
    // Before any value was read completely a pixel keeps its colour: white, as a row that never
    // arrived stays white at the other depths. Alpha is 0 throughout.
    bool haveValue = false;
    PixelRgba last = DefaultColour;
    for (std::int32_t y = target.Height() - 1; y >= 0; y -= blockRows) {
        const std::int32_t count = std::min(blockRows, y + 1);
        for (std::int32_t x0 = 0; x0 < width; x0 += span) {
            const std::int32_t columns = std::min(span, width - x0);
            // Each row's bytes of the part: its values and, where the row ends, the padding.
            const std::size_t length =
                2 * static_cast<std::size_t>(columns) + (x0 + columns == width ? padding : 0);
            target.Begin(y, count, x0, columns);
            const std::size_t wanted = length * static_cast<std::size_t>(count);
            const std::size_t got = !source.AtEnd() ? source.Read(block.data(), wanted) : 0;
            const auto completeRows = static_cast<std::int32_t>(got / length);
            DecodeBlock(target, block.data(), length, completeRows, y, x0, columns, decode);
            if (completeRows > 0) {
                last = *target.At(x0 + columns - 1, y - completeRows + 1);
                haveValue = true;
            }
            if (got == wanted) {
                target.End();
                continue;
            }
            // The row cut short: its complete values, then the last value everywhere after it.
            const std::int32_t yCut = y - completeRows;
            const std::uint8_t* cutRow =
                block.data() + length * static_cast<std::size_t>(completeRows);
            const auto completeValues = static_cast<std::int32_t>(
                std::min((got % length) / 2, static_cast<std::size_t>(columns)));
            for (std::int32_t x = 0; x < completeValues; ++x) {
                decode(*target.At(x0 + x, yCut), cutRow, static_cast<std::size_t>(x));
            }
            if (completeValues > 0) {
                last = *target.At(x0 + completeValues - 1, yCut);
                haveValue = true;
            }
            if (haveValue || !Target::StartsWhite) {
                FillBlock(target, x0 + completeValues, x0 + columns, yCut, yCut, last);
                if (yCut > y - count + 1) {
                    FillBlock(target, x0, x0 + columns, yCut - 1, y - count + 1, last);
                }
                target.End();
                FillRows(target, y, count, x0 + columns, last);
                FillRemainingRows(target, y - count, blockRows, last);
            }
            return target.Height() - 1 - y + completeRows;
        }
    }
    return target.Height();
}

// The palette follows the info header, which may be longer than ours (a V4 or V5 header). The
// masks of 16 bpp are read at offset 54 whatever the size: the longer headers hold them there.
std::int64_t PaletteOffset(const InfoHeader& info) {
    return std::int64_t{FileHeaderSize} + std::max(info.biSize, InfoHeaderFieldsSize);
}

// An info header shorter than ours is laid out otherwise: taken as 40 bytes, its fields would be
// nonsense (the OS/2 core header has 16-bit width and height).
FileFailure HeaderSizeFailure(const InfoHeader& info) {
    if (info.biSize < InfoHeaderFieldsSize) {
        return FormatFailure(FailureKind::UnsupportedHeaderSize, info.biSize);
    }
    return {};
}

// Why the headers were not read whole: the system's error when reading failed; a header shorter
// than ours, when its size arrived (a small file with one ends within our 40 bytes); else the file
// ended early (bfType not read: too short to be a BMP file at all).
FileFailure HeaderReadFailure(const ByteSource& source, const InfoHeader& info,
                              FailureKind shortFile) {
    if (source.Error() != 0) {
        return SystemFailure(FailedFile::Source, FailureKind::Read, source.Error());
    }
    if (FileFailure size = HeaderSizeFailure(info)) {
        return size;
    }
    return FormatFailure(shortFile);
}

// Why a file that does not start "BM" is refused: its first two bytes, type, and the rest of its
// signature tell what it is instead.
FileFailure SignatureFailure(const std::array<std::uint8_t, 2>& type, ByteSource& source) {
    std::array<std::uint8_t, SignatureBytes> lead{type[0], type[1]};
    const std::size_t rest = source.Read(lead.data() + type.size(), lead.size() - type.size());
    return NotBmpFailure(std::span(lead).first(type.size() + rest));
}

// The rule of the reader that the accepted headers' fields break, if any.
FileFailure HeaderFailure(const BmpHeaders& headers) {
    const InfoHeader& info = headers.Info;
    if (FileFailure size = HeaderSizeFailure(info)) {
        return size;
    }
    const std::uint32_t compression = info.biCompression;
    if (compression == BiRle8 || compression == BiRle4) {
        return FormatFailure(FailureKind::RleCompressed);
    }
    if (compression > BiBitfields || (compression == BiBitfields && info.biBitCount != 16)) {
        return FormatFailure(FailureKind::UnsupportedCompression, compression, info.biBitCount);
    }
    if (!IsSupportedBitCount(info.biBitCount)) {
        return FormatFailure(FailureKind::UnsupportedBitDepth, info.biBitCount);
    }
    if (info.biWidth > 0 && info.biHeight < 0) {
        return FormatFailure(FailureKind::TopDown);
    }
    if (info.biWidth <= 0 || info.biHeight <= 0) {
        return FormatFailure(FailureKind::InvalidSize, info.biWidth, info.biHeight);
    }
    if (!BmpDimensionsWithinLimits(info.biWidth, info.biHeight)) {
        return FormatFailure(FailureKind::TooLarge, info.biWidth, info.biHeight);
    }
    // A longer header that runs into the pixel rows leaves no place for the palette. Only a longer
    // header is held to this: with ours, a bfOffBits below 54 just means no palette entries.
    const std::uint32_t offBits = headers.File.bfOffBits;
    if (HasPaletteDepth(info.biBitCount) && info.biSize > InfoHeaderFieldsSize &&
        PaletteOffset(info) > offBits) {
        return FormatFailure(FailureKind::HeaderPastPixels, info.biSize, offBits);
    }
    return {};
}

// The load from source, which stands at the file's first byte.
template <class Target>
bool LoadBmpBytes(BitmapImage& image, ByteSource& source, Target& target, FileFailure& why) {
    BmpHeaders headers;
    // Until biSize arrives the info header counts as ours: a file that ends before it is cut short.
    headers.Info.biSize = InfoHeaderFieldsSize;
    std::array<std::uint8_t, sizeof headers.File.bfType> type{};
    const std::size_t typeBytes = source.Read(type.data(), type.size());
    const bool typeRead = typeBytes == type.size();
    if (typeRead) {
        headers.File.bfType = LoadLittleEndian<std::uint16_t>(type);
    }
    if (headers.File.bfType != BmpSignature) {
        why = SignatureFailure(type, source);
        return false;
    }
    if (!typeRead) {
        // A field not read keeps its default, "BM": the reader goes on, and the header fails.
        why = HeaderReadFailure(source, headers.Info,
                                typeBytes == 0 ? FailureKind::EmptyFile : FailureKind::NotBmp);
        ReadHeaderFields(headers, source);
        return Reject(image);
    }
    if (!ReadHeaderFields(headers, source)) {
        why = HeaderReadFailure(source, headers.Info, FailureKind::TruncatedHeader);
        return Reject(image);
    }
    const InfoHeader& info = headers.Info;
    std::tie(image.XResolution, image.YResolution) = ResolutionOf(info);

    why = HeaderFailure(headers);
    if (why) {
        return Reject(image);
    }
    const std::uint32_t compression = info.biCompression;
    const std::int32_t depth = info.biBitCount;
    // Only exhausted memory makes a valid depth or a size within the limits fail.
    if (!image.ChangeBitDepth(depth) || !target.Prepare(info.biWidth, info.biHeight)) {
        why = MemoryFailure(FailedFile::Source, info.biWidth, info.biHeight);
        return Reject(image);
    }

    // From the end of the headers to bfOffBits, in signed 32-bit arithmetic (an offset below 54
    // gives a negative value). At palette depths the headers end where the palette starts, which
    // HeaderFailure placed at or before bfOffBits.
    const std::int64_t headersEnd = HasPaletteDepth(depth) ? PaletteOffset(info) : HeadersSize;
    const auto offsetPastHeaders =
        static_cast<std::int32_t>(headers.File.bfOffBits - static_cast<std::uint32_t>(headersEnd));
    if (HasPaletteDepth(depth)) {
        SkipBytes(source, headersEnd - HeadersSize); // the fields beyond our 40 bytes
        ReadPalette(image, offsetPastHeaders, source);
    }
    // The gap, computed without overflow; the palette counts with its full size.
    std::int64_t gap = offsetPastHeaders;
    if (HasPaletteDepth(depth)) {
        gap -= std::int64_t{4} * IntPower(2, depth);
    } else if (depth == 16 && compression == BiBitfields) {
        gap -= 12;
    }
    gap = std::max<std::int64_t>(gap, 0);

    std::int32_t rowsRead = 0;
    if (depth == 16) {
        rowsRead = Read16BitRows(target, compression, gap, source);
    } else {
        SkipBytes(source, gap);
        rowsRead = ReadPaletteOrRgbRows(target, image, source);
    }
    if (source.Error() != 0) {
        // Rows that failed to arrive are not a file that ends early.
        why = SystemFailure(FailedFile::Source, FailureKind::Read, source.Error());
        return Reject(image);
    }
    if (rowsRead < info.biHeight) {
        why.RowsExpected = info.biHeight;
        why.RowsRead = rowsRead;
    }
    return true;
}

template <class Target>
bool LoadBmpFrom(BitmapImage& image, const char* path, Target& target, FileFailure& why) {
    int openError = 0;
    const FileStream file = platform::OpenForReading(path, openError);
    if (!file) {
        why = SystemFailure(FailedFile::Source, FailureKind::Open, openError);
        image.ChangeBitDepth(1);
        image.SetDimensions(1, 1);
        return false;
    }
    ByteSource source(file.get());
    return LoadBmpBytes(image, source, target, why);
}

template <class Target>
bool LoadBmpFrom(BitmapImage& image, std::span<const std::uint8_t> bytes, Target& target,
                 FileFailure& why) {
    ByteSource source(bytes);
    return LoadBmpBytes(image, source, target, why);
}

// LoadBmp and ReadBmpPixels, from a path or from memory.
template <class Target, class Input>
bool Load(BitmapImage& image, Input input, Target target, FileFailure& failure) {
    failure = {};
    try {
        return LoadBmpFrom(image, input, target, failure);
    } catch (const std::exception&) {
        // Exhausted memory (std::bad_alloc, or a length beyond what a vector can hold). A file's
        // stream was closed while the exception left LoadBmpFrom.
        failure = MemoryFailure(FailedFile::Source);
        return Reject(image);
    }
}

} // namespace

bool BitmapImage::LoadBmp(const char* path, FileFailure& failure) {
    return Load(*this, path, ImageTarget(*this), failure);
}

bool BitmapImage::LoadBmp(std::span<const std::uint8_t> bytes, FileFailure& failure) {
    return Load(*this, bytes, ImageTarget(*this), failure);
}

bool BitmapImage::LoadBmp(const char* path) {
    FileFailure ignored;
    return LoadBmp(path, ignored);
}

bool ReadBmpPixels(BitmapImage& format, const char* path, const PixelBlockSink& sink,
                   FileFailure& failure) {
    return Load(format, path, BandTarget(sink), failure);
}

bool ReadBmpPixels(BitmapImage& format, std::span<const std::uint8_t> bytes,
                   const PixelBlockSink& sink, FileFailure& failure) {
    return Load(format, bytes, BandTarget(sink), failure);
}

bool UnpackRow32(BitmapImage& image, std::span<const std::uint8_t> row, std::int32_t y) {
    if (std::int64_t{4} * image.GetWidth() > static_cast<std::int64_t>(row.size())) {
        return false;
    }
    ImageTarget target(image);
    Decode32(target, image.PaletteEntries(), row.data(), row.size(), 1, y, 0, image.GetWidth());
    return true;
}

bool UnpackRow24(BitmapImage& image, std::span<const std::uint8_t> row, std::int32_t y) {
    if (std::int64_t{3} * image.GetWidth() > static_cast<std::int64_t>(row.size())) {
        return false;
    }
    ImageTarget target(image);
    Decode24(target, image.PaletteEntries(), row.data(), row.size(), 1, y, 0, image.GetWidth());
    return true;
}

bool UnpackRow8(BitmapImage& image, std::span<const std::uint8_t> row, std::int32_t y) {
    if (image.GetWidth() > static_cast<std::int64_t>(row.size())) {
        return false;
    }
    ImageTarget target(image);
    Decode8(target, image.PaletteEntries(), row.data(), row.size(), 1, y, 0, image.GetWidth());
    return true;
}

bool UnpackRow4(BitmapImage& image, std::span<const std::uint8_t> row, std::int32_t y) {
    if (image.GetWidth() > std::int64_t{2} * static_cast<std::int64_t>(row.size())) {
        return false;
    }
    ImageTarget target(image);
    Decode4(target, image.PaletteEntries(), row.data(), row.size(), 1, y, 0, image.GetWidth());
    return true;
}

bool UnpackRow1(BitmapImage& image, std::span<const std::uint8_t> row, std::int32_t y) {
    if (image.GetWidth() > std::int64_t{8} * static_cast<std::int64_t>(row.size())) {
        return false;
    }
    ImageTarget target(image);
    Decode1(target, image.PaletteEntries(), row.data(), row.size(), 1, y, 0, image.GetWidth());
    return true;
}

} // namespace dorvane
