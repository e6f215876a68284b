#pragma once

#include "bitmap_image.hpp"

#include <cstdint>

namespace dorvane {

// Resizes image in place by bilinear resampling; the result is 24 bpp without a palette. mode, in
// either case: 'P' takes value as a percentage, 'W' as the new width, 'H' as the new height, 'F'
// as the new length of the longer side (a square image counts as 'H'). The other side follows the
// old aspect ratio; sizes are floored and raised to at least 1.
//
// False, with size, depth, palette and pixels unchanged, for an unknown mode, a new side beyond
// 16777216 or a new image beyond 268435456 pixels (or sizes outside the 32-bit range on the way),
// and exhausted memory. On every path an unset resolution of image becomes 3780, because the
// sampling copy reads it in dots per inch; the resolution is not adapted to the new size.
bool ScaleImage(BitmapImage& image, char mode, std::int32_t value);

} // namespace dorvane
