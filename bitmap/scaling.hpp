#pragma once

#include "bitmap_image.hpp"

#include <cstdint>
#include <optional>

namespace dorvane {

struct ScaledSize {
    std::int32_t Width;
    std::int32_t Height;
};

// The size that ScaleImage gives an image of width x height; nothing where it refuses (an
// unknown mode, a size beyond the limits below).
std::optional<ScaledSize> ScaledSizeOf(char mode, std::int32_t width, std::int32_t height,
                                       std::int32_t value);

// Where new column or row index of newSize ones falls among oldSize old ones: between old Index
// and Index + 1, Fraction of the way. Only for index <= newSize - 2.
struct ScaleSample {
    std::int32_t Index;
    double Fraction;
};
ScaleSample ScaleSampleAt(std::int32_t index, std::int32_t oldSize, std::int32_t newSize);

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
