// The BMP writer: SaveBmp, the gray saves, the row encoders and the nearest palette index.
//
// Every save writes the standard layout (14-byte file header, 40-byte info header, the palette at
// 1, 4 and 8 bpp or the 5-6-5 masks at 16 bpp, then the rows bottom-up, each padded with zero bytes
// to a multiple of 4) through a FileReplacement, so that the destination ends either complete or
// as it was. A save returns false when the file cannot be opened, when any write or the close
// fails, or when the file cannot be put in place.
#include "bmp_writer.hpp"
#include "bitmap_image.hpp"
#include "bmp_headers.hpp"
#include "byte_lookup.hpp"
#include "file_replacement.hpp"
#include "int_power.hpp"
#include "little_endian.hpp"
#include "row_blocks.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <exception>
#include <new>
#include <optional>
#include <type_traits>
#include <vector>

namespace dorvane {
namespace {

constexpr std::uint32_t MaskBytes = 12;

std::int32_t SquaredDistance(const PixelRgba& a, const PixelRgba& b) {
    const std::int32_t blue = a.Blue - b.Blue;
    const std::int32_t green = a.Green - b.Green;
    const std::int32_t red = a.Red - b.Red;
    return blue * blue + green * green + red * red;
}

// NearestPaletteIndex remembered per colour for the length of one save (or one row encoder
// call): grays, all the colours of a gray image, in a table of their own, other colours in a
// direct-mapped table keyed by the 24-bit RGB value, where a colour that lost its slot is simply
// searched again.
class PaletteIndexCache {
  public:
    explicit PaletteIndexCache(const BitmapImage& image)
        : Image(image), Keys(SlotCount, 0), Indices(SlotCount, 0) {
        GrayIndices.fill(Unknown);
    }

    std::uint8_t IndexOf(const PixelRgba& pixel) {
        if (pixel.Red == pixel.Green && pixel.Green == pixel.Blue) {
            std::int16_t& index = GrayIndices[pixel.Red];
            if (index == Unknown) {
                index = Search(pixel);
            }
            return static_cast<std::uint8_t>(index);
        }
        const std::uint32_t rgb =
            pixel.Blue | (std::uint32_t{pixel.Green} << 8) | (std::uint32_t{pixel.Red} << 16);
        const std::uint32_t key = rgb | OccupiedBit;
        const std::size_t slot = (rgb * 2654435761U) >> (32 - SlotBits);
        if (Keys[slot] != key) {
            Keys[slot] = key;
            Indices[slot] = Search(pixel);
        }
        return Indices[slot];
    }

  private:
    static constexpr unsigned SlotBits = 12;
    static constexpr std::size_t SlotCount = std::size_t{1} << SlotBits;
    static constexpr std::uint32_t OccupiedBit = 1U << 24;
    static constexpr std::int16_t Unknown = -1;

    std::uint8_t Search(const PixelRgba& pixel) const { return Image.NearestPaletteIndex(pixel); }

    const BitmapImage& Image;
    std::vector<std::uint32_t> Keys;
    std::vector<std::uint8_t> Indices;
    std::array<std::int16_t, 256> GrayIndices;
};

// Where the encoders take their pixels from: Column(x)[y] is pixel (x, y).
class ImageColumns {
  public:
    explicit ImageColumns(const BitmapImage& image) : Image(image) {}
    std::int32_t Width() const { return Image.GetWidth(); }
    const PixelRgba* Column(std::int32_t x) const { return Image.Column(x).data(); }

  private:
    const BitmapImage& Image;
};

// A column of gray cells: pixel y has Red = Green = Blue = the low byte of cell y, alpha 0.
struct GrayColumn {
    const std::int32_t* Cells;
    PixelRgba operator[](std::int32_t y) const {
        const auto gray = static_cast<std::uint8_t>(Cells[y]);
        return PixelRgba{gray, gray, gray, 0};
    }
};

class GrayColumns {
  public:
    explicit GrayColumns(std::span<const std::int32_t* const> columns) : Columns(columns) {}
    std::int32_t Width() const { return static_cast<std::int32_t>(Columns.size()); }
    GrayColumn Column(std::int32_t x) const {
        return GrayColumn{Columns[static_cast<std::size_t>(x)]};
    }

  private:
    std::span<const std::int32_t* const> Columns;
};

// A column of a picture of red, green and blue bytes stored row after row: pixel y is at
// Pixels + y x Stride, alpha 0.
struct RgbColumn {
    const std::uint8_t* Pixels;
    std::size_t Stride;
    ChannelOrder Order;
    PixelRgba operator[](std::int32_t y) const {
        const std::uint8_t* pixel = Pixels + static_cast<std::size_t>(y) * Stride;
        return Order == ChannelOrder::Bgr ? PixelRgba{pixel[0], pixel[1], pixel[2], 0}
                                          : PixelRgba{pixel[2], pixel[1], pixel[0], 0};
    }
};

class RgbColumns {
  public:
    explicit RgbColumns(const RgbRows& picture) : Picture(picture) {}
    std::int32_t Width() const { return Picture.Width; }
    RgbColumn Column(std::int32_t x) const {
        return RgbColumn{Picture.Pixels + 3 * static_cast<std::size_t>(x), Picture.Stride,
                         Picture.Order};
    }

  private:
    RgbRows Picture;
};

// Columns go in groups of eight: each row of a group is a short run of bytes, written together,
// and each column gives its pixels one after another.
constexpr std::int32_t GroupColumns = 8;

// Stores the first count bytes of words, each word's least significant byte first, a whole word
// at a time where the machine's byte order allows.
template <std::size_t Words>
void StoreLittleEndian(std::uint8_t* out, const std::array<std::uint64_t, Words>& words,
                       std::size_t count) {
    if constexpr (std::endian::native == std::endian::little) {
        for (std::size_t k = 0; k < Words && 8 * k < count; ++k) {
            std::memcpy(out + 8 * k, &words[k], std::min<std::size_t>(8, count - 8 * k));
        }
    } else {
        for (std::size_t k = 0; k < count; ++k) {
            out[k] = static_cast<std::uint8_t>(words[k / 8] >> (8 * (k % 8)));
        }
    }
}

// Encodes count rows at BitsPerPixel, x increasing within a row. Above 8 bits a pixel,
// encode(pixel) gives the pixel's bytes as a value, the first byte least significant; at 8 bits
// and below, encode(bytes, i, pixel) sets the pixel's bits in bytes, the group's part of the row,
// i being the pixel's place in its group of columns.
template <std::size_t BitsPerPixel, class Source, class Encode>
void EncodeBlock(const Source& source, std::uint8_t* rows, std::size_t rowLength,
                 std::int32_t count, std::int32_t yFirst, Encode encode) {
    const std::int32_t width = source.Width();
    const auto encodeGroup = [&](std::int32_t x0, auto groupWidth) {
        std::array<decltype(source.Column(0)), GroupColumns> columns{};
        for (std::int32_t i = 0; i < groupWidth; ++i) {
            columns[static_cast<std::size_t>(i)] = source.Column(x0 + i);
        }
        std::uint8_t* row = rows + static_cast<std::size_t>(x0) * BitsPerPixel / 8;
        for (std::int32_t r = 0; r < count; ++r, row += rowLength) {
            if constexpr (BitsPerPixel > 8) {
                // Several bytes a pixel: packed into words that go out in a few wide stores, as
                // bytes stored one by one and read back as wider values would stall.
                std::array<std::uint64_t, GroupColumns * BitsPerPixel / 64> words{};
                for (std::int32_t i = 0; i < groupWidth; ++i) {
                    const std::uint64_t value =
                        encode(columns[static_cast<std::size_t>(i)][yFirst - r]);
                    const std::size_t bit = static_cast<std::size_t>(i) * BitsPerPixel;
                    words[bit / 64] |= value << (bit % 64);
                    if (bit % 64 + BitsPerPixel > 64) {
                        words[bit / 64 + 1] |= value >> (64 - bit % 64);
                    }
                }
                StoreLittleEndian(row, words,
                                  static_cast<std::size_t>(groupWidth) * BitsPerPixel / 8);
            } else {
                // A byte or less a pixel: straight into the row.
                for (std::int32_t i = 0; i < groupWidth; ++i) {
                    encode(row, static_cast<std::size_t>(i),
                           columns[static_cast<std::size_t>(i)][yFirst - r]);
                }
            }
        }
    };
    std::int32_t x0 = 0;
    for (; x0 + GroupColumns <= width; x0 += GroupColumns) {
        encodeGroup(x0, std::integral_constant<std::int32_t, GroupColumns>());
    }
    if (x0 < width) {
        encodeGroup(x0, width - x0);
    }
}

template <class Source>
void Encode32(const Source& source, std::uint8_t* rows, std::size_t rowLength, std::int32_t count,
              std::int32_t yFirst) {
    EncodeBlock<32>(source, rows, rowLength, count, yFirst, [](const PixelRgba& pixel) {
        return pixel.Blue | (std::uint32_t{pixel.Green} << 8) | (std::uint32_t{pixel.Red} << 16) |
               (std::uint32_t{pixel.Alpha} << 24);
    });
}

template <class Source>
void Encode24(const Source& source, std::uint8_t* rows, std::size_t rowLength, std::int32_t count,
              std::int32_t yFirst) {
    EncodeBlock<24>(source, rows, rowLength, count, yFirst, [](const PixelRgba& pixel) {
        return pixel.Blue | (std::uint32_t{pixel.Green} << 8) | (std::uint32_t{pixel.Red} << 16);
    });
}

template <class Source>
void Encode16(const Source& source, std::uint8_t* rows, std::size_t rowLength, std::int32_t count,
              std::int32_t yFirst) {
    EncodeBlock<16>(source, rows, rowLength, count, yFirst, [](const PixelRgba& pixel) {
        return ((std::uint32_t{pixel.Red} >> 3) << 11) | ((std::uint32_t{pixel.Green} >> 2) << 5) |
               (std::uint32_t{pixel.Blue} >> 3);
    });
}

template <class Source>
void Encode8(const Source& source, PaletteIndexCache& cache, std::uint8_t* rows,
             std::size_t rowLength, std::int32_t count, std::int32_t yFirst) {
    EncodeBlock<8>(source, rows, rowLength, count, yFirst,
                   [&cache](std::uint8_t* row, std::size_t x, const PixelRgba& pixel) {
                       row[x] = cache.IndexOf(pixel);
                   });
}

// Several indices per byte, weighted from the most significant end in increasing x: the first
// pixel of a byte sets it, the others add to it, so the byte holds the low 8 bits of the sum and
// bits without a pixel are 0.
template <std::size_t PixelsPerByte, class Source>
void EncodeIndices(const Source& source, PaletteIndexCache& cache, std::uint8_t* rows,
                   std::size_t rowLength, std::int32_t count, std::int32_t yFirst) {
    constexpr std::size_t bitsPerPixel = 8 / PixelsPerByte;
    EncodeBlock<bitsPerPixel>(source, rows, rowLength, count, yFirst,
                              [&cache](std::uint8_t* row, std::size_t x, const PixelRgba& pixel) {
                                  const std::size_t slot = x % PixelsPerByte;
                                  const std::uint32_t part =
                                      std::uint32_t{cache.IndexOf(pixel)}
                                      << (bitsPerPixel * (PixelsPerByte - 1 - slot));
                                  std::uint8_t& byte = row[x / PixelsPerByte];
                                  byte = static_cast<std::uint8_t>(slot == 0 ? part : byte + part);
                              });
}

// Gray rows into file rows, each a plain loop over the grays.

// Calls put(x) for x from 0 to count - 1, four at a time: a loop of one store a pixel runs up to
// twice as fast in some places of the code as in others, while a few pixels a turn run alike
// wherever the loop lies.
template <class Put> void ForEachPixel(std::size_t count, Put put) {
    std::size_t x = 0;
    for (; x + 4 <= count; x += 4) {
        put(x);
        put(x + 1);
        put(x + 2);
        put(x + 3);
    }
    for (; x < count; ++x) {
        put(x);
    }
}

// A gray times this, stored in the machine's byte order, gives the bytes gray, gray, gray, 0: one
// store a pixel, which compilers turn into far faster code than three or four byte stores.
constexpr std::uint32_t ThreeGrays =
    std::endian::native == std::endian::little ? 0x00010101U : 0x01010100U;

void GrayRow32(const std::uint8_t* gray, std::size_t width, std::uint8_t* out) {
    for (std::size_t x = 0; x < width; ++x) {
        const std::uint32_t pixel = std::uint32_t{gray[x]} * ThreeGrays;
        std::memcpy(out + 4 * x, &pixel, 4);
    }
}

// Four bytes a pixel, each store's last byte overwritten by the next pixel's; the last pixel goes
// byte by byte, so that nothing after the row's data is touched.
void GrayRow24(const std::uint8_t* gray, std::size_t width, std::uint8_t* out) {
    if (width == 0) {
        return;
    }
    const std::size_t last = width - 1;
    ForEachPixel(last, [=](std::size_t x) {
        const std::uint32_t pixel = std::uint32_t{gray[x]} * ThreeGrays;
        std::memcpy(out + 3 * x, &pixel, 4);
    });
    std::memset(out + 3 * last, gray[last], 3);
}

void GrayRow16(const std::uint8_t* gray, std::size_t width, std::uint8_t* out) {
    for (std::size_t x = 0; x < width; ++x) {
        const std::uint32_t top = std::uint32_t{gray[x]} >> 3;
        const std::uint32_t value = (top << 11) | ((std::uint32_t{gray[x]} >> 2) << 5) | top;
        out[2 * x] = static_cast<std::uint8_t>(value);
        out[2 * x + 1] = static_cast<std::uint8_t>(value >> 8);
    }
}

using GrayIndexTable = std::array<std::uint8_t, 256>;

// The indices of count grays (at most PixelsPerByte) in one byte, weighted from the most
// significant end in increasing x: bits without a pixel are 0.
template <std::size_t PixelsPerByte>
std::uint8_t PackIndices(const GrayIndexTable& indices, const std::uint8_t* gray,
                         std::size_t count) {
    constexpr std::size_t bitsPerPixel = 8 / PixelsPerByte;
    std::uint32_t byte = 0;
    for (std::size_t i = 0; i < PixelsPerByte; ++i) {
        byte = (byte << bitsPerPixel) + (i < count ? indices[gray[i]] : 0U);
    }
    return static_cast<std::uint8_t>(byte);
}

template <std::size_t PixelsPerByte>
void GrayRowIndices(const GrayIndexTable& indices, const std::uint8_t* gray, std::size_t width,
                    std::uint8_t* out) {
    const std::size_t whole = width / PixelsPerByte;
    for (std::size_t k = 0; k < whole; ++k) {
        out[k] = PackIndices<PixelsPerByte>(indices, gray + k * PixelsPerByte, PixelsPerByte);
    }
    if (width % PixelsPerByte != 0) {
        out[whole] = PackIndices<PixelsPerByte>(indices, gray + whole * PixelsPerByte,
                                                width % PixelsPerByte);
    }
}

// Little-endian output into a byte buffer.
class ByteWriter {
  public:
    explicit ByteWriter(std::uint8_t* out) : Out(out) {}
    void Put16(std::uint32_t value) {
        Put8(value);
        Put8(value >> 8);
    }
    void Put32(std::uint32_t value) {
        Put16(value);
        Put16(value >> 16);
    }
    void Put(const PixelRgba& colour) {
        Put8(colour.Blue);
        Put8(colour.Green);
        Put8(colour.Red);
        Put8(colour.Alpha);
    }
    std::size_t Written(const std::uint8_t* start) const {
        return static_cast<std::size_t>(Out - start);
    }

  private:
    void Put8(std::uint32_t value) { *Out++ = static_cast<std::uint8_t>(value); }
    std::uint8_t* Out;
};

// Where a save's bytes go: a file's stream, or the end of a buffer, which grows.
bool WriteAll(std::FILE* stream, const void* bytes, std::size_t count) {
    return std::fwrite(bytes, 1, count, stream) == count;
}

bool WriteAll(std::vector<std::uint8_t>& buffer, const void* bytes, std::size_t count) {
    const auto* first = static_cast<const std::uint8_t*>(bytes);
    buffer.insert(buffer.end(), first, first + count);
    return true;
}

// The length of the file of a width x height picture at depth: headers, table and rows.
std::uint64_t BmpFileLength(std::int32_t width, std::int32_t height, std::int32_t depth) {
    const std::uint64_t table = HasPaletteDepth(depth)
                                    ? 4 * static_cast<std::uint64_t>(IntPower(2, depth))
                                : depth == 16 ? MaskBytes
                                              : 0;
    return HeadersSize + table + BmpRowLength(width, depth) * static_cast<std::uint64_t>(height);
}

// The headers and the palette or masks, as one block: the depth, palette and resolution are
// format's, the size is width x height.
template <class Output>
bool WriteHeaders(const BitmapImage& format, std::int32_t width, std::int32_t height,
                  std::uint64_t rowSize, Output& output) {
    const std::int32_t depth = format.GetBitDepth();
    const std::uint32_t paletteCount =
        HasPaletteDepth(depth) ? static_cast<std::uint32_t>(IntPower(2, depth)) : 0;
    const std::uint32_t tableBytes = HasPaletteDepth(depth) ? 4 * paletteCount
                                     : depth == 16          ? MaskBytes
                                                            : 0;
    const BmpHeaders headers =
        WrittenHeaders({.Width = width,
                        .Height = height,
                        .Depth = depth,
                        .TableBytes = tableBytes,
                        .PixelBytes = rowSize * static_cast<std::uint64_t>(height),
                        .XResolution = format.XResolution,
                        .YResolution = format.YResolution});

    std::array<std::uint8_t, HeadersSize + 256 * 4> block{};
    const auto put = [&block](const auto& field, auto value) {
        const auto bytes = LittleEndianBytes(value);
        std::copy(bytes.begin(), bytes.end(), block.data() + field.Offset);
    };
    ForEachField(headers.File, put);
    ForEachField(headers.Info, put);
    ByteWriter out(block.data() + HeadersSize);
    for (std::uint32_t index = 0; index < paletteCount; ++index) {
        // PaletteEntry gives the default colour should an image ever lack its palette.
        out.Put(format.PaletteEntry(static_cast<std::int32_t>(index)));
    }
    if (depth == 16) {
        out.Put32(0xF800);
        out.Put32(0x07E0);
        out.Put32(0x001F);
    }
    return WriteAll(output, block.data(), out.Written(block.data()));
}

// Encodes blocks of rows of a column source at the format's depth, with a palette index cache at
// 1, 4 and 8 bpp.
template <class Source> class ColumnBlockEncoder {
  public:
    ColumnBlockEncoder(const BitmapImage& format, const Source& source)
        : Columns(source), Depth(format.GetBitDepth()) {
        if (HasPaletteDepth(Depth)) {
            Cache.emplace(format);
        }
    }

    // Rows yFirst down to yFirst - count + 1 into rows, one after another.
    void operator()(std::uint8_t* rows, std::size_t rowLength, std::int32_t count,
                    std::int32_t yFirst) {
        switch (Depth) {
        case 32:
            Encode32(Columns, rows, rowLength, count, yFirst);
            break;
        case 24:
            Encode24(Columns, rows, rowLength, count, yFirst);
            break;
        case 16:
            Encode16(Columns, rows, rowLength, count, yFirst);
            break;
        case 8:
            Encode8(Columns, *Cache, rows, rowLength, count, yFirst);
            break;
        case 4:
            EncodeIndices<2>(Columns, *Cache, rows, rowLength, count, yFirst);
            break;
        default:
            EncodeIndices<8>(Columns, *Cache, rows, rowLength, count, yFirst);
            break;
        }
    }

  private:
    Source Columns;
    std::int32_t Depth;
    std::optional<PaletteIndexCache> Cache;
};

// Encodes blocks of rows of a row-major gray picture, a row at a time.
class GrayRowsBlockEncoder {
  public:
    GrayRowsBlockEncoder(const BitmapImage& format, const GrayRows& picture)
        : Encode(format), Picture(picture) {}

    // Rows yFirst down to yFirst - count + 1 into rows, one after another.
    void operator()(std::uint8_t* rows, std::size_t rowLength, std::int32_t count,
                    std::int32_t yFirst) const {
        for (std::int32_t r = 0; r < count; ++r) {
            const auto y = static_cast<std::size_t>(yFirst - r);
            Encode(Picture.Pixels + y * Picture.Stride, Picture.Width,
                   rows + static_cast<std::size_t>(r) * rowLength);
        }
    }

  private:
    GrayRowEncoder Encode;
    const GrayRows& Picture;
};

// The headers, then the rows bottom-up in blocks, each encoded into one buffer and written in one
// write. The buffer is zeroed once and no encoder writes the padding bytes, so they stay zero.
template <class Encoder, class Output>
bool WriteBmp(const BitmapImage& format, std::int32_t width, std::int32_t height, Encoder& encode,
              Output& output) {
    const std::uint64_t rowSize = BmpRowLength(width, format.GetBitDepth());
    if (!WriteHeaders(format, width, height, rowSize, output)) {
        return false;
    }
    const auto rowLength = static_cast<std::size_t>(rowSize);
    const std::int32_t blockRows = std::min(RowsPerBlock(rowLength), height);
    std::vector<std::uint8_t> rows(rowLength * static_cast<std::size_t>(blockRows), 0);
    for (std::int32_t y = height - 1; y >= 0; y -= blockRows) {
        const std::int32_t count = std::min(blockRows, y + 1);
        encode(rows.data(), rowLength, count, y);
        if (!WriteAll(output, rows.data(), rowLength * static_cast<std::size_t>(count))) {
            return false;
        }
    }
    return true;
}

// Saves a width x height picture, whose rows Encoder(format, source) encodes, in place of path.
template <class Encoder, class Source>
bool SaveFile(const BitmapImage& format, const Source& source, std::int32_t width,
              std::int32_t height, const char* path, FileFailure& why,
              Durability durability = Durability::Process) {
    why = {};
    try {
        Encoder encode(format, source);
        FileReplacement output(TemporaryFile::Unnamed, durability);
        if (!output.Open(path)) {
            why = output.Failure();
            return false;
        }
        std::FILE* const stream = output.Stream();
        if (!WriteBmp(format, width, height, encode, stream)) {
            output.WriteFailed(errno);
        }
        const bool saved = output.Commit();
        why = output.Failure();
        return saved;
    } catch (const std::exception&) {
        // Exhausted memory for the row buffer or the index cache; the replacement was abandoned.
        why = MemoryFailure(FailedFile::Output);
        return false;
    }
}

// The same at the end of bytes, which grows by the file's length; after a failure (exhausted
// memory) bytes is as it was.
template <class Encoder, class Source>
bool SaveFile(const BitmapImage& format, const Source& source, std::int32_t width,
              std::int32_t height, std::vector<std::uint8_t>& bytes, FileFailure& why) {
    why = {};
    const std::size_t start = bytes.size();
    try {
        Encoder encode(format, source);
        bytes.reserve(start +
                      static_cast<std::size_t>(BmpFileLength(width, height, format.GetBitDepth())));
        return WriteBmp(format, width, height, encode, bytes);
    } catch (const std::exception&) {
        bytes.resize(start);
        why = MemoryFailure(FailedFile::Output);
        return false;
    }
}

// A save of an empty size or a picture without pixels: refused before anything is written.
bool RefuseSave(FileFailure& why) {
    why = SystemFailure(FailedFile::Output, FailureKind::Write, EINVAL);
    return false;
}

bool IsPicture(const std::uint8_t* pixels, std::size_t stride, std::int32_t width,
               std::int32_t height, std::size_t bytesPerPixel) {
    return pixels != nullptr && width > 0 && height > 0 &&
           stride >= bytesPerPixel * static_cast<std::size_t>(width);
}

// The row-major pictures' saves, to a path or into a buffer.
template <class Output>
bool SaveGrayRows(const BitmapImage& format, const GrayRows& picture, Output& output,
                  FileFailure& failure) {
    if (!IsPicture(picture.Pixels, picture.Stride, picture.Width, picture.Height, 1)) {
        return RefuseSave(failure);
    }
    return SaveFile<GrayRowsBlockEncoder>(format, picture, picture.Width, picture.Height, output,
                                          failure);
}

template <class Output>
bool SaveRgbRows(const BitmapImage& format, const RgbRows& picture, Output& output,
                 FileFailure& failure) {
    if (!IsPicture(picture.Pixels, picture.Stride, picture.Width, picture.Height, 3)) {
        return RefuseSave(failure);
    }
    return SaveFile<ColumnBlockEncoder<RgbColumns>>(format, RgbColumns(picture), picture.Width,
                                                    picture.Height, output, failure);
}

} // namespace

bool BitmapImage::SaveBmp(const char* path, FileFailure& failure) const {
    return SaveFile<ColumnBlockEncoder<ImageColumns>>(*this, ImageColumns(*this), Width, Height,
                                                      path, failure);
}

bool BitmapImage::SaveBmp(std::vector<std::uint8_t>& bytes, FileFailure& failure) const {
    return SaveFile<ColumnBlockEncoder<ImageColumns>>(*this, ImageColumns(*this), Width, Height,
                                                      bytes, failure);
}

bool BitmapImage::SaveBmp(const char* path) const {
    FileFailure ignored;
    return SaveBmp(path, ignored);
}

bool SaveGrayBmp(const BitmapImage& format, std::span<const std::int32_t* const> columns,
                 std::int32_t height, const char* path, FileFailure& failure,
                 Durability durability) {
    if (columns.empty() || height < 1) {
        return RefuseSave(failure);
    }
    const GrayColumns source(columns);
    return SaveFile<ColumnBlockEncoder<GrayColumns>>(format, source, source.Width(), height, path,
                                                     failure, durability);
}

bool SaveGrayBmp(const BitmapImage& format, const GrayRows& picture, const char* path,
                 FileFailure& failure) {
    return SaveGrayRows(format, picture, path, failure);
}

bool SaveGrayBmp(const BitmapImage& format, const GrayRows& picture,
                 std::vector<std::uint8_t>& bytes, FileFailure& failure) {
    return SaveGrayRows(format, picture, bytes, failure);
}

bool SaveGrayBmp(const BitmapImage& format, std::span<const std::int32_t* const> columns,
                 std::int32_t height, const char* path) {
    FileFailure ignored;
    return SaveGrayBmp(format, columns, height, path, ignored);
}

bool SaveGrayBmp(const BitmapImage& format, const GrayRows& picture, const char* path) {
    FileFailure ignored;
    return SaveGrayBmp(format, picture, path, ignored);
}

bool SaveRgbBmp(const BitmapImage& format, const RgbRows& picture, const char* path,
                FileFailure& failure) {
    return SaveRgbRows(format, picture, path, failure);
}

bool SaveRgbBmp(const BitmapImage& format, const RgbRows& picture, std::vector<std::uint8_t>& bytes,
                FileFailure& failure) {
    return SaveRgbRows(format, picture, bytes, failure);
}

std::uint64_t BmpRowLength(std::int32_t width, std::int32_t depth) {
    // The length that both the sizes in double precision and the integer row buffer come to.
    const std::uint64_t rowBits =
        static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(depth);
    return (rowBits + 31) / 32 * 4;
}

bool WriteBmpHeaders(const BitmapImage& format, std::int32_t width, std::int32_t height,
                     std::FILE* stream) {
    return WriteHeaders(format, width, height, BmpRowLength(width, format.GetBitDepth()), stream);
}

bool WriteBmpHeaders(const BitmapImage& format, std::int32_t width, std::int32_t height,
                     std::vector<std::uint8_t>& bytes) noexcept {
    const std::size_t start = bytes.size();
    try {
        return WriteHeaders(format, width, height, BmpRowLength(width, format.GetBitDepth()),
                            bytes);
    } catch (const std::bad_alloc&) {
        bytes.resize(start);
        return false;
    }
}

GrayRowEncoder::GrayRowEncoder(const BitmapImage& format) : Depth(format.GetBitDepth()) {
    if (HasPaletteDepth(Depth)) {
        for (std::size_t gray = 0; gray < Indices.size(); ++gray) {
            const auto value = static_cast<std::uint8_t>(gray);
            Indices[gray] = format.NearestPaletteIndex(PixelRgba{value, value, value, 0});
        }
    }
}

void GrayRowEncoder::operator()(const std::uint8_t* gray, std::int32_t width,
                                std::uint8_t* out) const {
    const auto count = static_cast<std::size_t>(std::max(width, 0));
    switch (Depth) {
    case 32:
        GrayRow32(gray, count, out);
        break;
    case 24:
        GrayRow24(gray, count, out);
        break;
    case 16:
        GrayRow16(gray, count, out);
        break;
    case 8:
        LookUpBytes(Indices, gray, count, out);
        break;
    case 4:
        GrayRowIndices<2>(Indices, gray, count, out);
        break;
    default:
        GrayRowIndices<8>(Indices, gray, count, out);
        break;
    }
}

bool BitmapImage::PackRow32(std::span<std::uint8_t> buffer, std::int32_t y) const {
    if (std::int64_t{4} * Width > static_cast<std::int64_t>(buffer.size())) {
        return false;
    }
    Encode32(ImageColumns(*this), buffer.data(), buffer.size(), 1, y);
    return true;
}

bool BitmapImage::PackRow24(std::span<std::uint8_t> buffer, std::int32_t y) const {
    if (std::int64_t{3} * Width > static_cast<std::int64_t>(buffer.size())) {
        return false;
    }
    Encode24(ImageColumns(*this), buffer.data(), buffer.size(), 1, y);
    return true;
}

bool BitmapImage::PackRow8(std::span<std::uint8_t> buffer, std::int32_t y) const {
    if (Width > static_cast<std::int64_t>(buffer.size())) {
        return false;
    }
    PaletteIndexCache cache(*this);
    Encode8(ImageColumns(*this), cache, buffer.data(), buffer.size(), 1, y);
    return true;
}

bool BitmapImage::PackRow4(std::span<std::uint8_t> buffer, std::int32_t y) const {
    if (Width > std::int64_t{2} * static_cast<std::int64_t>(buffer.size())) {
        return false;
    }
    PaletteIndexCache cache(*this);
    EncodeIndices<2>(ImageColumns(*this), cache, buffer.data(), buffer.size(), 1, y);
    return true;
}

bool BitmapImage::PackRow1(std::span<std::uint8_t> buffer, std::int32_t y) const {
    if (Width > std::int64_t{8} * static_cast<std::int64_t>(buffer.size())) {
        return false;
    }
    PaletteIndexCache cache(*this);
    EncodeIndices<8>(ImageColumns(*this), cache, buffer.data(), buffer.size(), 1, y);
    return true;
}

// The definition: a linear search in index order; only a strictly smaller distance replaces the
// result, so the lowest index wins ties, and the first exact match ends the search.
std::uint8_t BitmapImage::NearestPaletteIndex(const PixelRgba& pixel) const {
    const std::int32_t count = PaletteSize();
    std::int32_t bestDistance = 999999;
    std::uint8_t result = 0;
    for (std::int32_t index = 0; index < count; ++index) {
        const std::int32_t distance = SquaredDistance(PaletteEntry(index), pixel);
        if (distance < bestDistance) {
            bestDistance = distance;
            result = static_cast<std::uint8_t>(index);
        }
        if (bestDistance == 0) {
            break;
        }
    }
    return result;
}

} // namespace dorvane
