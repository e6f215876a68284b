#pragma once

#include "bitmap_image.hpp"
#include "pixel_rgba.hpp"

#include <cstdint>

namespace dorvane {

// Pixel and region copy between images, or within one. Only pixel values move; neither image's
// depth, palette, size or resolution is changed. Coordinates outside an image are clamped onto
// its nearest edge pixel, as PixelAt does.

// Copies all four bytes of source pixel (x, y) to destination pixel (destinationX, destinationY).
void CopyPixel(const BitmapImage& source, std::int32_t x, std::int32_t y, BitmapImage& destination,
               std::int32_t destinationX, std::int32_t destinationY);
// As CopyPixel, unless the source pixel has the key's Red, Green and Blue (Alpha is ignored).
void CopyPixelKeyed(const BitmapImage& source, std::int32_t x, std::int32_t y,
                    BitmapImage& destination, std::int32_t destinationX, std::int32_t destinationY,
                    const PixelRgba& key);

// Copies columns left..right and the rows between the two row bounds (in either order), corners
// included, so that pixel (left, first row) lands at (destinationX, destinationY).
//
// Clipping, in this order, is relied on by callers: the source clips the right column, the left
// column, then the rows; the destination then clips only at its last column and last row,
// measured from the already clipped left column and first row. So cutting off columns before the
// source's column 0 does not shift the destination; left > right copies nothing; and parts that
// fall before the destination's column or row 0 fold onto it, the last one written staying.
// Pixels are copied row by row, ascending, without an intermediate copy.
void CopyRegion(const BitmapImage& source, std::int32_t left, std::int32_t right,
                std::int32_t rowBound1, std::int32_t rowBound2, BitmapImage& destination,
                std::int32_t destinationX, std::int32_t destinationY);
// As CopyRegion, leaving out the pixels that CopyPixelKeyed leaves out.
void CopyRegionKeyed(const BitmapImage& source, std::int32_t left, std::int32_t right,
                     std::int32_t rowBound1, std::int32_t rowBound2, BitmapImage& destination,
                     std::int32_t destinationX, std::int32_t destinationY, const PixelRgba& key);

} // namespace dorvane
