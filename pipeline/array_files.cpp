#include "array_files.hpp"

#include "bitmap_image.hpp"
#include "bmp_headers.hpp"
#include "bmp_output.hpp"
#include "bmp_pixel_blocks.hpp"
#include "bmp_writer.hpp"
#include "file_replacement.hpp"
#include "gray_row_encoding.hpp"
#include "kernels.hpp"
#include "row_source.hpp"
#include "work_sharing.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <new>
#include <type_traits>
#include <vector>

namespace dorvane {
namespace {

// count pixels of inBytes bytes each into pixels of outBytes bytes, 3 or 4, their first three
// bytes in the order they come: a fourth byte out is 0, a fourth byte in is dropped.
void CopyChannels(const std::uint8_t* in, std::size_t inBytes, std::uint8_t* out,
                  std::size_t outBytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i, in += inBytes, out += outBytes) {
        std::memcpy(out, in, 3);
        if (outBytes == 4) {
            out[3] = 0;
        }
    }
}

// Colour pixels between a file's order, blue first, and a caller's picture in order: turned
// around by the kernel for red first, copied as they are for blue first.
void MoveChannels(const vectors::Kernels& kernels, ChannelOrder order, const std::uint8_t* in,
                  std::size_t inBytes, std::uint8_t* out, std::size_t outBytes, std::size_t count) {
    if (order == ChannelOrder::Bgr) {
        CopyChannels(in, inBytes, out, outBytes, count);
    } else {
        kernels.ReverseChannels(in, inBytes, count, outBytes, out);
    }
}

// The pixels of a file's rows at 8, 24 or 32 bpp into an RGB picture, band by band; the first row
// that does not arrive whole, and every row after it, white.
class RgbReader {
  public:
    RgbReader(std::uint8_t* pixels, std::uint32_t width, std::uint32_t height,
              const BitmapImage& format, std::size_t rowLength, const vectors::Kernels& kernels,
              ChannelOrder order)
        : Pixels(pixels), Width(width), Height(height), Depth(format.GetBitDepth()),
          Kernels(kernels), Order(order), Rows(rowLength, height) {
        const std::span<const PixelRgba> palette = format.PaletteEntries();
        for (std::size_t i = 0; i < Palette.size() && i < palette.size(); ++i) {
            const PixelRgba& entry = palette[i];
            Palette[i] = order == ChannelOrder::Bgr
                             ? std::array{entry.Blue, entry.Green, entry.Red}
                             : std::array{entry.Red, entry.Green, entry.Blue};
        }
    }

    // Every band from rows, on up to threads threads where rows can be read in place. Returns
    // how many rows arrived whole; the rest are white.
    std::uint32_t Read(const RowSource& rows, std::uint32_t threads) const {
        return Finish(ReadRowPieces(
            rows, Rows.Count(), threads, OutputReservation(), [this] { return Rows.Buffer(); },
            [this](std::uint32_t band, std::vector<std::uint8_t>& bytes, const auto& read) {
                return ReadBand(band, bytes, read);
            }));
    }

  private:
    // A band's bytes from read(bytes, size, offset from the first row's start) into the picture.
    // Returns the first file row of it that did not arrive whole, or the picture's height.
    template <class Read>
    std::uint32_t ReadBand(std::uint32_t band, std::vector<std::uint8_t>& bytes,
                           const Read& read) const {
        const std::uint32_t first = Rows.First(band);
        const std::size_t size = Rows.RowsOf(band) * Rows.RowLength;
        const std::size_t got = read(bytes.data(), size, std::uint64_t{first} * Rows.RowLength);
        const auto whole = static_cast<std::uint32_t>(got / Rows.RowLength);
        for (std::uint32_t r = 0; r < whole; ++r) {
            TakeRow(bytes.data() + r * Rows.RowLength, Row(Height - 1 - first - r));
        }
        return got < size ? first + whole : Height;
    }

    void TakeRow(const std::uint8_t* row, std::uint8_t* rgb) const {
        if (Depth != 8) {
            MoveChannels(Kernels, Order, row, static_cast<std::size_t>(Depth / 8), rgb, 3, Width);
            return;
        }
        for (std::uint32_t x = 0; x < Width; ++x, rgb += 3) {
            std::memcpy(rgb, Palette[row[x]].data(), 3);
        }
    }

    // The rows from file row whole on white; returns whole.
    std::uint32_t Finish(std::uint32_t whole) const {
        std::fill(Row(0), Row(Height - whole), std::uint8_t{255});
        return whole;
    }

    std::uint8_t* Row(std::uint32_t y) const { return Pixels + std::size_t{3} * Width * y; }

    std::uint8_t* Pixels;
    std::uint32_t Width;
    std::uint32_t Height;
    std::int32_t Depth;
    const vectors::Kernels& Kernels;
    ChannelOrder Order;
    RowBands Rows;
    std::array<std::array<std::uint8_t, 3>, 256> Palette{};
};

template <class Input>
bool ReadRgb(Input input, const RgbAllocation& allocate, std::uint32_t threads,
             FileFailure& failure, ChannelOrder order) {
    const vectors::Kernels& kernels = vectors::InUse();
    std::uint8_t* pixels = nullptr;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    const auto start = [&](std::int32_t w, std::int32_t h) {
        width = static_cast<std::uint32_t>(w);
        height = static_cast<std::uint32_t>(h);
        pixels = allocate(width, height);
        return pixels != nullptr;
    };
    const auto take = [&](const PixelBlock& block) {
        for (std::int32_t r = 0; r < block.Rows; ++r) {
            const PixelRgba* row = block.Pixels.data() + static_cast<std::size_t>(r) * block.Stride;
            MoveChannels(
                kernels, order, reinterpret_cast<const std::uint8_t*>(row), sizeof(PixelRgba),
                pixels + 3 * (std::size_t{width} * static_cast<std::uint32_t>(block.YLow + r) +
                              static_cast<std::uint32_t>(block.XLow)),
                3, static_cast<std::size_t>(block.Columns));
        }
    };
    try {
        BitmapImage format;
        const auto readFileRows = [&](ByteSource& bytes, std::size_t rowLength) {
            return ReadRowsOf(bytes, rowLength, height, [&](const RowSource& rows) {
                const RgbReader reader(pixels, width, height, format, rowLength, kernels, order);
                return reader.Read(rows, ResolveThreads(threads, Share::PictureBytes,
                                                        std::uint64_t{rowLength} * height));
            });
        };
        return ReadBmpPixels(format, input, PixelBlockSink{start, take, readFileRows}, failure);
    } catch (const std::bad_alloc&) {
        // The format, the sink or the bands' buffers.
        failure = MemoryFailure(FailedFile::Source, width, height);
        return false;
    }
}

// The rows of a picture held in memory encoded into a file's rows, band by band.
class ArrayWriter final : public BandWriting<std::vector<std::uint8_t>> {
  public:
    ArrayWriter(const ArrayRows& picture, const BitmapImage& format,
                const vectors::Kernels& kernels)
        : BandWriting(RowBands(static_cast<std::size_t>(BmpRowLength(
                                   static_cast<std::int32_t>(picture.Width), format.GetBitDepth())),
                               picture.Height)),
          Picture(picture), Depth(format.GetBitDepth()), EncodeGray(format, kernels),
          Kernels(kernels) {}

  private:
    std::vector<std::uint8_t> MakeBuffers() const override { return Rows.Buffer(); }

    std::span<const std::uint8_t> Encode(std::uint32_t band,
                                         std::vector<std::uint8_t>& bytes) const override {
        const std::uint32_t first = Rows.First(band);
        const std::size_t pixelBytes =
            (std::size_t{Picture.Width} * static_cast<std::size_t>(Depth) + 7) / 8;
        for (std::uint32_t r = 0; r < Rows.RowsOf(band); ++r) {
            std::uint8_t* out = bytes.data() + r * Rows.RowLength;
            const std::uint8_t* row = Picture.Pixels + std::size_t{Picture.Channels} *
                                                           Picture.Width *
                                                           (Picture.Height - 1 - first - r);
            if (Picture.Channels == 1) {
                EncodeGray(row, static_cast<std::int32_t>(Picture.Width), out);
            } else {
                MoveChannels(Kernels, Picture.Order, row, 3, out,
                             static_cast<std::size_t>(Depth / 8), Picture.Width);
            }
            std::fill(out + pixelBytes, out + Rows.RowLength, std::uint8_t{0});
        }
        return {bytes.data(), Rows.RowsOf(band) * Rows.RowLength};
    }

    ArrayRows Picture;
    std::int32_t Depth;
    FastGrayRowEncoder EncodeGray;
    const vectors::Kernels& Kernels;
};

} // namespace

bool ReadRgbArray(const char* source, const RgbAllocation& allocate, std::uint32_t threads,
                  FileFailure& failure, ChannelOrder order) {
    return ReadRgb(source, allocate, threads, failure, order);
}

bool ReadRgbArray(std::span<const std::uint8_t> bytes, const RgbAllocation& allocate,
                  std::uint32_t threads, FileFailure& failure, ChannelOrder order) {
    return ReadRgb(bytes, allocate, threads, failure, order);
}

namespace {

// The one way an array becomes a file, at a path or in memory.
template <class Output>
bool WriteArrayTo(const ArrayRows& picture, std::int32_t depth, Output& output,
                  std::uint32_t threads, FileFailure& failure) {
    failure = {};
    try {
        BitmapImage format;
        if (!format.ChangeBitDepth(depth)) {
            failure = MemoryFailure(FailedFile::Output);
            return false;
        }
        if (picture.Channels == 3 && depth != 24 && depth != 32) {
            // The nearest palette entry of a colour, or its 16-bit value, is the codec's to find.
            return SaveRgbBmp(format,
                              RgbRows{picture.Pixels, std::size_t{3} * picture.Width,
                                      static_cast<std::int32_t>(picture.Width),
                                      static_cast<std::int32_t>(picture.Height), picture.Order},
                              output, failure);
        }
        const ArrayWriter rows(picture, format, vectors::InUse());
        const std::uint64_t bytes =
            BmpRowLength(static_cast<std::int32_t>(picture.Width), depth) * picture.Height;
        threads = ResolveThreads(threads, Share::PictureBytes, bytes);
        if constexpr (std::is_same_v<Output, const char*>) {
            // Abandoned, leaving the old file, should the bands' buffers not be had.
            FileReplacement file(TemporaryFile::Unnamed);
            return StoreBmp(output, format, picture.Width, picture.Height, rows, threads, file,
                            failure);
        } else {
            return StoreBmp(output, format, picture.Width, picture.Height, rows, threads, failure);
        }
    } catch (const std::bad_alloc&) {
        failure = MemoryFailure(FailedFile::Output);
        return false;
    }
}

} // namespace

bool WriteArray(const ArrayRows& picture, std::int32_t depth, const char* output,
                std::uint32_t threads, FileFailure& failure) {
    return WriteArrayTo(picture, depth, output, threads, failure);
}

bool WriteArray(const ArrayRows& picture, std::int32_t depth, std::vector<std::uint8_t>& output,
                std::uint32_t threads, FileFailure& failure) {
    return WriteArrayTo(picture, depth, output, threads, failure);
}

} // namespace dorvane
