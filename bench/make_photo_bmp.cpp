// make_photo_bmp WIDTH HEIGHT DEPTH OUTPUT [flat]: writes a photo-like BMP file, the same bytes on
// every run and every machine, for the benchmarks and the comparison with other tools. At 8 bpp
// the picture is a gray photograph with a gray palette, as 8-bit BMP files usually are; at the
// other depths it is in colour (1 and 4 bpp take the nearest colours of the standard palette).
// With "flat", the picture is a scanned page or screenshot instead: white, black text-like
// strokes and rules, a few light-gray boxes; large runs of equal pixels, unlike a photograph.
#include "bitmap_image.hpp"

#include <algorithm>
#include <array>
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

void FillRect(BitmapImage& image, std::int32_t x0, std::int32_t y0, std::int32_t x1,
              std::int32_t y1, std::uint8_t gray) {
    for (std::int32_t x = std::max(x0, 0); x < std::min(x1, image.GetWidth()); ++x) {
        const auto column = image.Column(x);
        for (std::int32_t y = std::max(y0, 0); y < std::min(y1, image.GetHeight()); ++y) {
            column[static_cast<std::size_t>(y)] = PixelRgba{gray, gray, gray, 0};
        }
    }
}

// A page: light-gray boxes (a header bar, a sidebar, two blocks), black rules, and lines of
// "words" whose glyphs are 2 px strokes picked by random bits in 9 x 14 px cells, 22 px apart.
void PaintFlat(BitmapImage& image) {
    std::mt19937 random(20261208);
    const std::int32_t w = image.GetWidth();
    const std::int32_t h = image.GetHeight();
    FillRect(image, 0, 0, w, h, 255);
    FillRect(image, 0, 0, w, h / 12, 236);
    FillRect(image, w * 3 / 4, h / 6, w * 19 / 20, h * 2 / 3, 242);
    FillRect(image, w / 10, h * 2 / 5, w * 2 / 3, h / 2, 230);
    FillRect(image, w / 10, h * 3 / 4, w * 2 / 3, h * 5 / 6, 245);
    FillRect(image, 0, h / 12, w, h / 12 + 3, 0);
    FillRect(image, w / 10, h * 7 / 10, w * 2 / 3, h * 7 / 10 + 2, 0);
    FillRect(image, w * 3 / 4 - 2, h / 6, w * 3 / 4, h * 2 / 3, 0);
    // The strokes a glyph may have, as x, y, width, height: left, right, top, middle, bottom.
    constexpr std::array<std::array<std::int32_t, 4>, 5> strokes{
        {{0, 0, 2, 14}, {5, 0, 2, 14}, {0, 0, 7, 2}, {0, 6, 7, 2}, {0, 12, 7, 2}}};
    for (std::int32_t top = h / 8; top + 14 < h * 19 / 20; top += 22) {
        std::int32_t x = w / 10;
        const std::int32_t right = random() % 4 == 0 ? w * 7 / 15 : w * 2 / 3; // a paragraph ends
        while (x + 9 < right) {
            const auto word = 2 + static_cast<std::int32_t>(random() % 8);
            for (std::int32_t glyph = 0; glyph < word && x + 9 < right; ++glyph, x += 9) {
                const auto bits = static_cast<std::uint32_t>(random() % 31 + 1); // not blank
                for (std::size_t s = 0; s < strokes.size(); ++s) {
                    if ((bits >> s) & 1U) {
                        const auto [sx, sy, sw, sh] = strokes[s];
                        FillRect(image, x + sx, top + sy, x + sx + sw, top + sy + sh, 0);
                    }
                }
            }
            x += 9; // the space between words
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
    const bool flat = argc == 6 && std::string_view(argv[5]) == "flat";
    if ((argc != 5 && !flat) || !Parse(argv[1], width) || !Parse(argv[2], height) ||
        !Parse(argv[3], depth)) {
        std::cerr << "usage: make_photo_bmp WIDTH HEIGHT DEPTH OUTPUT [flat]\n";
        return 64;
    }
    BitmapImage image;
    if (!image.ChangeBitDepth(depth) || !image.SetDimensions(width, height)) {
        std::cerr << "make_photo_bmp: unsupported depth or size\n";
        return 3;
    }
    if (flat) {
        PaintFlat(image);
    } else {
        PaintPhoto(image);
    }
    if (depth == 8) {
        MakeGray(image);
    }
    if (!image.SaveBmp(argv[4])) {
        std::cerr << "make_photo_bmp: cannot write " << argv[4] << '\n';
        return 2;
    }
    return 0;
}
