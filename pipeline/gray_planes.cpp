#include "gray_planes.hpp"

#include "bitmap_image.hpp"
#include "pipeline_state.hpp"

#include <cmath>
#include <new>

namespace dorvane {

std::int32_t Luma(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    // The order of the additions is part of the result.
    double sum = green * 0.587;
    sum = sum + red * 0.299;
    sum = sum + blue * 0.114;
    return static_cast<std::int32_t>(std::floor(sum));
}

std::int32_t LoadGrayPlanes(const char* path) {
    try {
        BitmapImage image;
        if (!image.LoadBmp(path)) {
            return LoadFailed;
        }
        const auto width = static_cast<std::uint32_t>(image.GetWidth());
        const auto height = static_cast<std::uint32_t>(image.GetHeight());
        if (!AllocatePlanes(width, height)) {
            return LoadFailed;
        }
        SourceBitDepth = static_cast<std::int8_t>(image.GetBitDepth());
        for (std::uint32_t x = 0; x < width; ++x) {
            const auto column = image.Column(static_cast<std::int32_t>(x));
            std::int32_t* cells = ImagePlane[x];
            for (std::uint32_t y = 0; y < height; ++y) {
                cells[y] = Luma(column[y].Red, column[y].Green, column[y].Blue);
            }
        }
        return 0;
    } catch (const std::bad_alloc&) {
        return LoadFailed;
    }
}

bool StoreGrayImage() {
    try {
        BitmapImage image;
        if (!image.ChangeBitDepth(SourceBitDepth) ||
            !image.SetDimensions(static_cast<std::int32_t>(PlaneWidth),
                                 static_cast<std::int32_t>(PlaneHeight))) {
            return false;
        }
        for (std::uint32_t x = 0; x < PlaneWidth; ++x) {
            const auto column = image.Column(static_cast<std::int32_t>(x));
            const std::int32_t* cells = ImagePlane[x];
            for (std::uint32_t y = 0; y < PlaneHeight; ++y) {
                // The low byte of the cell, as the plane may hold values beyond 0..255.
                const auto gray = static_cast<std::uint8_t>(cells[y]);
                column[y].Red = gray;
                column[y].Green = gray;
                column[y].Blue = gray;
            }
        }
        return image.SaveBmp(OutputPath);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

} // namespace dorvane
