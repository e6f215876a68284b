#pragma once

#include "bitmap_image.hpp"
#include "channel_order.hpp"
#include "durability.hpp"
#include "file_failure.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <vector>

namespace dorvane {

// Writes the file that format.SaveBmp(path) would write were format resized to columns.size() x
// height and pixel (x, y) set to Red = Green = Blue = the low byte of columns[x][y], alpha 0:
// format gives the bit depth, the palette and the resolution. The gray image is never built, so
// saving a gray picture costs no image-sized memory. False for an empty size, else as SaveBmp;
// failure then says why. durability: how far the new file is made sure of.
bool SaveGrayBmp(const BitmapImage& format, std::span<const std::int32_t* const> columns,
                 std::int32_t height, const char* path, FileFailure& failure,
                 Durability durability = Durability::Process);
bool SaveGrayBmp(const BitmapImage& format, std::span<const std::int32_t* const> columns,
                 std::int32_t height, const char* path);

// A gray picture of one byte per pixel, row after row: pixel (x, y) is Pixels[y * Stride + x],
// with Red = Green = Blue = that byte and alpha 0.
struct GrayRows {
    const std::uint8_t* Pixels;
    std::size_t Stride;
    std::int32_t Width;
    std::int32_t Height;
};

// Writes the file that SaveGrayBmp would write for the same gray values: format gives the bit
// depth, the palette and the resolution. False for an empty size, no pixels or a stride shorter
// than a row, else as SaveBmp; failure then says why.
bool SaveGrayBmp(const BitmapImage& format, const GrayRows& picture, const char* path,
                 FileFailure& failure);
bool SaveGrayBmp(const BitmapImage& format, const GrayRows& picture, const char* path);
// The same file's bytes, appended to bytes; after a failure bytes is as it was.
bool SaveGrayBmp(const BitmapImage& format, const GrayRows& picture,
                 std::vector<std::uint8_t>& bytes, FileFailure& failure);

// A picture of red, green and blue bytes, row after row: pixel (x, y) is the three bytes at
// Pixels[y * Stride + 3 * x], in Order, with alpha 0.
struct RgbRows {
    const std::uint8_t* Pixels;
    std::size_t Stride;
    std::int32_t Width;
    std::int32_t Height;
    ChannelOrder Order = ChannelOrder::Rgb;
};

// Writes the file that SaveBmp would write were format resized to the picture's size and its
// pixels set to the picture's: format gives the bit depth, the palette and the resolution. False
// for an empty size, no pixels or a stride shorter than a row, else as SaveBmp; failure then
// says why.
bool SaveRgbBmp(const BitmapImage& format, const RgbRows& picture, const char* path,
                FileFailure& failure);
// The same file's bytes, appended to bytes; after a failure bytes is as it was.
bool SaveRgbBmp(const BitmapImage& format, const RgbRows& picture, std::vector<std::uint8_t>& bytes,
                FileFailure& failure);

// The padded length of a file row of width pixels at depth bits per pixel:
// 4 x ceil(width x depth / 32) bytes.
std::uint64_t BmpRowLength(std::int32_t width, std::int32_t depth);

// Writes what comes before the rows in the file that SaveBmp writes for a width x height picture
// with format's depth, palette and resolution: the headers, and the palette or the masks. For
// writers of their own rows. False when the write failed.
bool WriteBmpHeaders(const BitmapImage& format, std::int32_t width, std::int32_t height,
                     std::FILE* stream);
// The same at the end of bytes; memory running out throws std::bad_alloc.
void WriteBmpHeaders(const BitmapImage& format, std::int32_t width, std::int32_t height,
                     std::vector<std::uint8_t>& bytes);

// Encodes gray rows into file rows at format's bit depth, as SaveGrayBmp writes them; at 1, 4
// and 8 bpp each gray becomes the nearest entry of format's palette as it is at construction.
class GrayRowEncoder {
  public:
    explicit GrayRowEncoder(const BitmapImage& format);

    // Encodes width grays into the first (width x depth + 7) / 8 bytes of out; the bytes after
    // them, the row's padding in a file, are left as they are.
    void operator()(const std::uint8_t* gray, std::int32_t width, std::uint8_t* out) const;

  private:
    std::int32_t Depth;
    // At 1, 4 and 8 bpp: the palette index of each gray.
    std::array<std::uint8_t, 256> Indices{};
};

} // namespace dorvane
