#pragma once

#include "durability.hpp"
#include "file_failure.hpp"
#include "luma.hpp"
#include "pixel_rgba.hpp"

#include <cstdint>

namespace dorvane {

inline constexpr std::int32_t LoadFailed = 1;

// Reads the BMP file at path, records its size and bit depth, allocates the three work planes
// and fills ImagePlane with the floored luma of every pixel. Returns LoadFailed, with nothing
// allocated and no global changed, when the file cannot be read or memory runs out (failure then
// says why); 0 otherwise, with failure saying whether the file was cut short.
std::int32_t LoadGrayPlanes(const char* path);
std::int32_t LoadGrayPlanes(const char* path, FileFailure& failure);

// Writes ImagePlane as a gray image of the planes' size at SourceBitDepth to OutputPath, or to
// output, with the standard palette of that depth. Returns whether the file was written; failure
// says why not.
bool StoreGrayImage();
bool StoreGrayImage(FileFailure& failure);
bool StoreGrayImage(const char* output, Durability durability, FileFailure& failure);

// The luma of count pixels into gray, one byte each.
void LumaRow(const PixelRgba* pixels, std::uint8_t* gray, std::uint32_t count);
// The same for a row of a 24 or 32 bpp file, as the file holds it (blue, green, red).
void LumaRowOfFile(const std::uint8_t* row, std::int32_t depth, std::uint8_t* gray,
                   std::uint32_t count);

} // namespace dorvane
