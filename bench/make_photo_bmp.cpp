// make_photo_bmp WIDTH HEIGHT DEPTH OUTPUT: writes a photo-like BMP file, the same bytes on every
// run and every machine, for the benchmarks and the comparison with other tools. At 8 bpp the
// picture is a gray photograph with a gray palette, as 8-bit BMP files usually are; at the other
// depths it is in colour (1 and 4 bpp take the nearest colours of the standard palette).
#include "bitmap_image.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <random>
#include <string_view>

namespace {

using dorvane::BitmapImage;
using dorvane::PixelRgba;

std::uint8_t Channel(double value) {
    return static_cast<std::uint8_t>(std::clamp(std::floor(value), 0.0, 255.0));
}

// Sky and ground with broad gradients, a disc and a bar with hard edges, fine texture, sensor
// noise on every channel, and clipped highlights.
void PaintPhoto(BitmapImage& image) {
    std::mt19937 random(20261207); // raw draws only: the distributions differ between libraries
    const double w = image.GetWidth();
    const double h = image.GetHeight();
    for (std::int32_t x = 0; x < image.GetWidth(); ++x) {
        const double u = x / w;
        const auto column = image.Column(x);
        for (std::int32_t y = 0; y < image.GetHeight(); ++y) {
            const double v = y / h;
            const double light = 40.0 * std::sin(3.1 * u + 1.7 * v);
            double red = 0.0;
            double green = 0.0;
            double blue = 0.0;
            if (v < 0.55) { // sky, bright to clipping near the top
                red = 150.0 - 120.0 * v + light;
                green = 190.0 - 90.0 * v + light;
                blue = 300.0 - 100.0 * v + light;
            } else { // ground
                red = 120.0 - 80.0 * v + light;
                green = 150.0 - 60.0 * v + light;
                blue = 70.0 - 40.0 * v + light;
            }
            const double du = u - 0.62;
            const double dv = v - 0.45;
            if (du * du + dv * dv < 0.03) {
                red = 200.0 - 60.0 * u;
                green = 60.0 + 40.0 * v;
                blue = 50.0;
            }
            if (u > 0.15 && u < 0.3 && v > 0.3) {
                red = green = blue = 180.0 - 40.0 * v;
            }
            const double texture = 6.0 * std::sin(97.0 * u) * std::cos(61.0 * v);
            const auto noise = static_cast<std::uint32_t>(random());
            auto jitter = [noise](int shift) { return static_cast<double>((noise >> shift) % 9); };
            PixelRgba& pixel = column[static_cast<std::size_t>(y)];
            pixel.Red = Channel(red + texture + jitter(0) - 4.0);
            pixel.Green = Channel(green + texture + jitter(8) - 4.0);
            pixel.Blue = Channel(blue + texture + jitter(16) - 4.0);
        }
    }
}

// 8 bpp: the floored luma of the colour photograph, on the gray palette.
void MakeGray(BitmapImage& image) {
    for (std::int32_t x = 0; x < image.GetWidth(); ++x) {
        for (PixelRgba& pixel : image.Column(x)) {
            const auto gray = Channel(0.587 * pixel.Green + 0.299 * pixel.Red + 0.114 * pixel.Blue);
            pixel = PixelRgba{gray, gray, gray, 0};
        }
    }
    image.FillGrayPalette();
}

bool Parse(std::string_view text, std::int32_t& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

} // namespace

int main(int argc, char** argv) {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t depth = 0;
    if (argc != 5 || !Parse(argv[1], width) || !Parse(argv[2], height) || !Parse(argv[3], depth)) {
        std::cerr << "usage: make_photo_bmp WIDTH HEIGHT DEPTH OUTPUT\n";
        return 64;
    }
    BitmapImage image;
    if (!image.ChangeBitDepth(depth) || !image.SetDimensions(width, height)) {
        std::cerr << "make_photo_bmp: unsupported depth or size\n";
        return 3;
    }
    PaintPhoto(image);
    if (depth == 8) {
        MakeGray(image);
    }
    if (!image.SaveBmp(argv[4])) {
        std::cerr << "make_photo_bmp: cannot write " << argv[4] << '\n';
        return 2;
    }
    return 0;
}
