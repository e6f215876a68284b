#pragma once

#include "bitmap_image.hpp"

#include <cstdint>
#include <span>

namespace dorvane {

// Writes the file that format.SaveBmp(path) would write were format resized to columns.size() x
// height and pixel (x, y) set to Red = Green = Blue = the low byte of columns[x][y], alpha 0:
// format gives the bit depth, the palette and the resolution. The gray image is never built, so
// saving a gray picture costs no image-sized memory. False for an empty size, else as SaveBmp.
bool SaveGrayBmp(const BitmapImage& format, std::span<const std::int32_t* const> columns,
                 std::int32_t height, const char* path);

} // namespace dorvane
