#pragma once

#include "bitmap_image.hpp"

#include <cstddef>
#include <cstdint>
#include <span>

namespace dorvane {

// The largest width and height the reader accepts, and the largest pixel count: a file beyond
// any of them is rejected with its header, before any pixel storage is allocated.
inline constexpr std::int64_t MaxBmpDimension = 16'777'216;   // 2^24
inline constexpr std::int64_t MaxBmpPixelCount = 268'435'456; // 2^28, 1 GiB of PixelRgba
// The gap between the palette or masks and bfOffBits is passed over in pieces of this size.
inline constexpr std::size_t GapSkipChunkSize = 64 * 1024;

// Whether a header's positive width and height are within the reader's limits.
constexpr bool BmpDimensionsWithinLimits(std::int32_t width, std::int32_t height) {
    const std::int64_t w = width;
    const std::int64_t h = height;
    return w <= MaxBmpDimension && h <= MaxBmpDimension && w * h <= MaxBmpPixelCount;
}

// Row decoders: decode one padded file row into row y of the image (0 <= y < height). Each
// returns false, decoding nothing, when the row is too short for the image's width. The palette
// decoders store whole palette entries (alpha included); UnpackRow24 leaves alpha alone.
bool UnpackRow1(BitmapImage& image, std::span<const std::uint8_t> row, std::int32_t y);
bool UnpackRow4(BitmapImage& image, std::span<const std::uint8_t> row, std::int32_t y);
bool UnpackRow8(BitmapImage& image, std::span<const std::uint8_t> row, std::int32_t y);
bool UnpackRow24(BitmapImage& image, std::span<const std::uint8_t> row, std::int32_t y);
bool UnpackRow32(BitmapImage& image, std::span<const std::uint8_t> row, std::int32_t y);

} // namespace dorvane
