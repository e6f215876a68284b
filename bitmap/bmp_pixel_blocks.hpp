#pragma once

#include "bitmap_image.hpp"
#include "byte_source.hpp"
#include "file_failure.hpp"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

namespace dorvane {

// Rows YLow to YLow + Rows - 1 of a picture, columns XLow to XLow + Columns - 1, row after row:
// pixel (x, y) is Pixels[(y - YLow) * Stride + x - XLow]. A block holds whole rows, or part of a
// single row that is too long to hold whole.
struct PixelBlock {
    std::int32_t YLow;
    std::int32_t Rows;
    std::int32_t XLow;
    std::int32_t Columns;
    std::size_t Stride;
    std::span<const PixelRgba> Pixels;
};

// Where ReadBmpPixels delivers a picture. Start(width, height) comes once the headers are
// accepted, before any pixel; returning false ends the read, which then fails. Take receives
// blocks that together hold every pixel of the picture exactly once, one at a time, bottom block
// first and the parts of a row from its left, on the caller's thread.
struct PixelBlockSink {
    std::function<bool(std::int32_t width, std::int32_t height)> Start;
    std::function<void(const PixelBlock& block)> Take;
    // Optional. At 8, 24 and 32 bpp the sink reads the rows itself, and Take receives nothing:
    // rows stands at the bottom row, each row rowLength bytes with pixel x at byte x (an index
    // into format's palette, all 256 of whose entries are set by then) or 3x or 4x (blue, green,
    // red, and alpha). The file may end anywhere: the first row that does not arrive whole, and
    // every row above it, is white. Returns how many rows arrived whole before that one; a read
    // that failed rather than ended goes to rows.Fail, and the load fails with it.
    std::function<std::int32_t(ByteSource& rows, std::size_t rowLength)> ReadFileRows;
};

// LoadBmp without the pixel storage: the same checks, and every pixel as LoadBmp would leave it
// (rows the file lacks white, or at 16 bpp the last value read), handed to sink block by block
// instead of kept. format takes what LoadBmp gives the image except the size, which stays 1 x 1:
// the bit depth, the palette, the resolution, and on rejection the reset to 1 bpp. The result is
// LoadBmp's, and false when Start refused, reading failed or memory ran out; failure then tells why
// (as exhausted memory when Start refused), and after true whether the file was cut short.
bool ReadBmpPixels(BitmapImage& format, const char* path, const PixelBlockSink& sink,
                   FileFailure& failure);
// The same from the bytes of a file in memory.
bool ReadBmpPixels(BitmapImage& format, std::span<const std::uint8_t> bytes,
                   const PixelBlockSink& sink, FileFailure& failure);

} // namespace dorvane
