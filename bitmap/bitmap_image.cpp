#include "bitmap_image.hpp"
#include "int_power.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <utility>

namespace dorvane {
namespace {

constexpr double MetresPerInch = 0.0254;
constexpr double InchesPerMetre = 39.37007874015748;
// 96 dots per inch, used wherever an unset resolution needs a value.
constexpr std::int32_t FallbackResolution = 3780;

bool IsSupportedDepth(std::int32_t depth) {
    return HasPaletteDepth(depth) || depth == 16 || depth == 24 || depth == 32;
}

// Truncates toward zero; values beyond the 32-bit range saturate instead of being undefined.
std::int32_t TruncateToInt32(double value) {
    constexpr double low = std::numeric_limits<std::int32_t>::min();
    constexpr double high = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(std::clamp(std::trunc(value), low, high));
}

std::int32_t DpiOf(std::int32_t& resolution) {
    if (resolution == 0) {
        resolution = FallbackResolution;
    }
    return TruncateToInt32(resolution * MetresPerInch);
}

} // namespace

BitmapImage::BitmapImage() : Pixels(1, std::vector<PixelRgba>(1, DefaultColour)) {}

BitmapImage::BitmapImage(BitmapImage& source)
    : BitDepth(source.BitDepth), Width(source.Width), Height(source.Height), Pixels(source.Pixels),
      Palette(source.Palette) {
    // Through dots per inch, vertical first: an unset source resolution becomes 3780, the copy
    // 3779.
    const std::int32_t verticalDpi = source.VerticalDpi();
    const std::int32_t horizontalDpi = source.HorizontalDpi();
    SetResolutionDpi(horizontalDpi, verticalDpi);
}

bool BitmapImage::ChangeBitDepth(std::int32_t depth) {
    if (!IsSupportedDepth(depth)) {
        return false;
    }
    std::vector<PixelRgba> palette;
    if (HasPaletteDepth(depth)) {
        try {
            palette.resize(static_cast<std::size_t>(IntPower(2, depth)));
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    BitDepth = depth;
    Palette = std::move(palette);
    FillStandardPalette();
    return true;
}

bool BitmapImage::SetDimensions(std::int32_t width, std::int32_t height) {
    if (width < 1 || height < 1) {
        return false;
    }
    // Build the new storage first so that a failed allocation leaves the old pixels in place.
    std::vector<std::vector<PixelRgba>> pixels;
    try {
        pixels.reserve(static_cast<std::size_t>(width));
        for (std::int32_t x = 0; x < width; ++x) {
            pixels.emplace_back(static_cast<std::size_t>(height), DefaultColour);
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    Pixels = std::move(pixels);
    Width = width;
    Height = height;
    return true;
}

const PixelRgba& BitmapImage::PixelAt(std::int32_t x, std::int32_t y) const {
    if (x >= Width) {
        x = Width - 1;
    }
    if (x < 0) {
        x = 0;
    }
    if (y >= Height) {
        y = Height - 1;
    }
    if (y < 0) {
        y = 0;
    }
    return Pixels[static_cast<std::size_t>(x)][static_cast<std::size_t>(y)];
}

PixelRgba& BitmapImage::PixelAt(std::int32_t x, std::int32_t y) {
    return const_cast<PixelRgba&>(std::as_const(*this).PixelAt(x, y));
}

bool BitmapImage::WritePixel(std::int32_t x, std::int32_t y, PixelRgba colour) {
    if (x < 0 || x >= Width || y < 0 || y >= Height) {
        return false;
    }
    Pixels[static_cast<std::size_t>(x)][static_cast<std::size_t>(y)] = colour;
    return true;
}

void BitmapImage::SetResolutionDpi(std::int32_t horizontalDpi, std::int32_t verticalDpi) {
    XResolution = TruncateToInt32(horizontalDpi * InchesPerMetre);
    YResolution = TruncateToInt32(verticalDpi * InchesPerMetre);
}

std::int32_t BitmapImage::HorizontalDpi() {
    return DpiOf(XResolution);
}

std::int32_t BitmapImage::VerticalDpi() {
    return DpiOf(YResolution);
}

} // namespace dorvane
