#include "region_copy.hpp"

#include <algorithm>

namespace dorvane {
namespace {

// Clips the region in the order callers rely on and calls copy(x, y, destinationX, destinationY)
// for each pixel, row by row. The arithmetic is 64-bit so that extreme bounds and positions
// cannot overflow; every coordinate handed on fits 32 bits again.
template <typename Copy>
void ForEachRegionPixel(const BitmapImage& source, std::int64_t left, std::int64_t right,
                        std::int64_t rowBound1, std::int64_t rowBound2,
                        const BitmapImage& destination, std::int64_t destinationX,
                        std::int64_t destinationY, Copy copy) {
    std::int64_t firstRow = std::min(rowBound1, rowBound2);
    std::int64_t lastRow = std::max(rowBound1, rowBound2);
    if (right >= source.GetWidth()) {
        right = source.GetWidth() - 1;
    }
    if (left < 0) {
        left = 0;
    }
    if (lastRow >= source.GetHeight()) {
        lastRow = source.GetHeight() - 1;
    }
    if (firstRow < 0) {
        firstRow = 0;
    }
    if ((right - left) + destinationX >= destination.GetWidth()) {
        right = left - destinationX + destination.GetWidth() - 1;
    }
    if ((lastRow - firstRow) + destinationY >= destination.GetHeight()) {
        lastRow = firstRow - destinationY + destination.GetHeight() - 1;
    }
    for (std::int64_t y = firstRow; y <= lastRow; ++y) {
        for (std::int64_t x = left; x <= right; ++x) {
            copy(static_cast<std::int32_t>(x), static_cast<std::int32_t>(y),
                 static_cast<std::int32_t>(destinationX + (x - left)),
                 static_cast<std::int32_t>(destinationY + (y - firstRow)));
        }
    }
}

bool HasKeyColour(const PixelRgba& pixel, const PixelRgba& key) {
    return pixel.Red == key.Red && pixel.Green == key.Green && pixel.Blue == key.Blue;
}

} // namespace

void CopyPixel(const BitmapImage& source, std::int32_t x, std::int32_t y, BitmapImage& destination,
               std::int32_t destinationX, std::int32_t destinationY) {
    destination.PixelAt(destinationX, destinationY) = source.PixelAt(x, y);
}

void CopyPixelKeyed(const BitmapImage& source, std::int32_t x, std::int32_t y,
                    BitmapImage& destination, std::int32_t destinationX, std::int32_t destinationY,
                    const PixelRgba& key) {
    if (!HasKeyColour(source.PixelAt(x, y), key)) {
        CopyPixel(source, x, y, destination, destinationX, destinationY);
    }
}

void CopyRegion(const BitmapImage& source, std::int32_t left, std::int32_t right,
                std::int32_t rowBound1, std::int32_t rowBound2, BitmapImage& destination,
                std::int32_t destinationX, std::int32_t destinationY) {
    ForEachRegionPixel(source, left, right, rowBound1, rowBound2, destination, destinationX,
                       destinationY,
                       [&](std::int32_t x, std::int32_t y, std::int32_t toX, std::int32_t toY) {
                           CopyPixel(source, x, y, destination, toX, toY);
                       });
}

void CopyRegionKeyed(const BitmapImage& source, std::int32_t left, std::int32_t right,
                     std::int32_t rowBound1, std::int32_t rowBound2, BitmapImage& destination,
                     std::int32_t destinationX, std::int32_t destinationY, const PixelRgba& key) {
    ForEachRegionPixel(source, left, right, rowBound1, rowBound2, destination, destinationX,
                       destinationY,
                       [&](std::int32_t x, std::int32_t y, std::int32_t toX, std::int32_t toY) {
                           CopyPixelKeyed(source, x, y, destination, toX, toY, key);
                       });
}

} // namespace dorvane
