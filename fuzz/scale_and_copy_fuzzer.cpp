// ScaleImage and the pixel and region copies with fuzzed images, modes, sizes and coordinates,
// extreme 32-bit values included. Besides what the sanitizers catch: a refused scaling changes
// nothing, an accepted one keeps the corner colours and is what the pipeline's scaling of the
// same pixels gives (on a vector path and a number of threads of the input's choosing), a
// single-pixel copy changes exactly the clamped destination pixel, and no copy changes anything
// but destination pixels.
#include "bitmap_image.hpp"
#include "fuzz_support.hpp"
#include "kernels.hpp"
#include "region_copy.hpp"
#include "scale_job.hpp"
#include "scaling.hpp"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace {

using namespace dorvane;
using namespace dorvane::fuzzing;

constexpr std::int32_t MaxSide = 40;
constexpr double ScaleBudget = 1 << 16;
constexpr std::int32_t FallbackResolution = 3780;

// Depth, size, palette and pixels: what a refused scaling, and a copy to another image, keep.
struct Snapshot {
    std::int32_t Depth;
    std::int32_t Width;
    std::int32_t Height;
    std::vector<PixelRgba> Palette;
    std::vector<PixelRgba> Pixels;

    explicit Snapshot(const BitmapImage& image)
        : Depth(image.GetBitDepth()), Width(image.GetWidth()), Height(image.GetHeight()),
          Palette(image.PaletteEntries().begin(), image.PaletteEntries().end()) {
        for (std::int32_t x = 0; x < Width; ++x) {
            Pixels.insert(Pixels.end(), image.Column(x).begin(), image.Column(x).end());
        }
    }
    friend bool operator==(const Snapshot&, const Snapshot&) = default;

    bool SameShape(const Snapshot& other) const {
        return Depth == other.Depth && Width == other.Width && Height == other.Height &&
               Palette == other.Palette;
    }
    // Clamped like PixelAt.
    PixelRgba& At(std::int32_t x, std::int32_t y) {
        x = std::clamp(x, 0, Width - 1);
        y = std::clamp(y, 0, Height - 1);
        return Pixels[static_cast<std::size_t>(x) * static_cast<std::size_t>(Height) +
                      static_cast<std::size_t>(y)];
    }
};

PixelRgba ConsumePixel(FuzzedDataProvider& input) {
    PixelRgba pixel;
    pixel.Blue = input.ConsumeIntegral<std::uint8_t>();
    pixel.Green = input.ConsumeIntegral<std::uint8_t>();
    pixel.Red = input.ConsumeIntegral<std::uint8_t>();
    pixel.Alpha = input.ConsumeIntegral<std::uint8_t>();
    return pixel;
}

// Pixels from a handful of colours, so that key colours and equal neighbours are common.
BitmapImage ConsumeImage(FuzzedDataProvider& input) {
    BitmapImage image;
    image.ChangeBitDepth(input.PickValueInArray({1, 4, 8, 16, 24, 32}));
    image.SetDimensions(input.ConsumeIntegralInRange<std::int32_t>(1, MaxSide),
                        input.ConsumeIntegralInRange<std::int32_t>(1, MaxSide));
    image.XResolution = input.ConsumeBool() ? 0 : input.ConsumeIntegral<std::int32_t>();
    image.YResolution = input.ConsumeBool() ? 0 : input.ConsumeIntegral<std::int32_t>();
    const std::vector<PixelRgba> colours{ConsumePixel(input), ConsumePixel(input),
                                         ConsumePixel(input), ConsumePixel(input)};
    for (std::int32_t x = 0; x < image.GetWidth(); ++x) {
        for (PixelRgba& pixel : image.Column(x)) {
            pixel = colours[input.ConsumeIntegralInRange<std::size_t>(0, colours.size() - 1)];
        }
    }
    return image;
}

// Mostly near the images, sometimes anywhere in the 32-bit range.
std::int32_t ConsumeCoordinate(FuzzedDataProvider& input, std::int32_t near) {
    return input.ConsumeBool() ? input.ConsumeIntegral<std::int32_t>()
                               : input.ConsumeIntegralInRange<std::int32_t>(-near, near);
}

// Whether ScaleImage either refuses the size for certain or makes at most ScaleBudget pixels;
// the estimate is the unfloored new size, which is at most 1 above the real one.
bool Affordable(char mode, std::int32_t width, std::int32_t height, std::int32_t value) {
    int upper = std::toupper(static_cast<unsigned char>(mode));
    if (upper == 'F') {
        upper = width > height ? 'W' : 'H';
    }
    double newWidth = 1;
    double newHeight = 1;
    switch (upper) {
    case 'P':
        newWidth = static_cast<double>(std::int64_t{width} * value) * 0.01;
        newHeight = static_cast<double>(std::int64_t{height} * value) * 0.01;
        break;
    case 'W':
        newWidth = value;
        newHeight = static_cast<double>(value) / width * height;
        break;
    case 'H':
        newWidth = static_cast<double>(value) / height * width;
        newHeight = value;
        break;
    default:
        return true;
    }
    newWidth = std::max(newWidth, 1.0);
    newHeight = std::max(newHeight, 1.0);
    constexpr double maxSide = MaxBmpDimension;
    constexpr double maxPixels = MaxBmpPixelCount;
    const bool refused = newWidth > maxSide + 1 || newHeight > maxSide + 1 ||
                         (newWidth - 1) * (newHeight - 1) > maxPixels;
    return refused || newWidth * newHeight <= ScaleBudget;
}

bool IsScalingMode(char mode) {
    const int upper = std::toupper(static_cast<unsigned char>(mode));
    return upper == 'P' || upper == 'W' || upper == 'H' || upper == 'F';
}

bool SameColour(const PixelRgba& a, const PixelRgba& b) {
    return a.Red == b.Red && a.Green == b.Green && a.Blue == b.Blue;
}

// The pipeline's scaling of before's pixels, as ScaleImage(mode, value) made scaled of them.
void CheckFastPath(FuzzedDataProvider& input, Snapshot& before, char mode, std::int32_t value,
                   BitmapImage& scaled) {
    std::vector<const vectors::Kernels*> tables;
    for (const vectors::Path& path : vectors::Paths()) {
        if (path.Table != nullptr) {
            tables.push_back(path.Table);
        }
    }
    vectors::Use(*tables[input.ConsumeIntegralInRange<std::size_t>(0, tables.size() - 1)]);
    const std::optional<ScaledSize> size = ScaledSizeOf(mode, before.Width, before.Height, value);
    Check(size && size->Width == scaled.GetWidth() && size->Height == scaled.GetHeight(),
          "the pipeline's new size is not ScaleImage's");
    std::vector<std::uint8_t> rgb;
    for (std::int32_t y = 0; y < before.Height; ++y) {
        for (std::int32_t x = 0; x < before.Width; ++x) {
            const PixelRgba& pixel = before.At(x, y);
            rgb.insert(rgb.end(), {pixel.Red, pixel.Green, pixel.Blue});
        }
    }
    std::vector<std::uint8_t> out(std::size_t{3} * static_cast<std::size_t>(size->Width) *
                                  static_cast<std::size_t>(size->Height));
    Check(ScaleRgbArray({rgb.data(), static_cast<std::uint32_t>(before.Width),
                         static_cast<std::uint32_t>(before.Height), 3},
                        *size, out.data(), input.ConsumeIntegralInRange<std::uint32_t>(1, 3)),
          "the pipeline's scaling ran out of memory");
    const std::uint8_t* pixel = out.data();
    for (std::int32_t y = 0; y < size->Height; ++y) {
        for (std::int32_t x = 0; x < size->Width; ++x, pixel += 3) {
            const PixelRgba& expected = scaled.PixelAt(x, y);
            Check(pixel[0] == expected.Red && pixel[1] == expected.Green &&
                      pixel[2] == expected.Blue,
                  "the pipeline's scaling is not ScaleImage's");
        }
    }
}

// False when the input asks for a scaling too large to run quickly.
bool ScaleAndCheck(FuzzedDataProvider& input, BitmapImage& image) {
    const char mode = input.PickValueInArray(
        {'P', 'p', 'W', 'w', 'H', 'h', 'F', 'f', 'X', '\0', input.ConsumeIntegral<char>()});
    const std::int32_t value = ConsumeCoordinate(input, 400);
    if (!Affordable(mode, image.GetWidth(), image.GetHeight(), value)) {
        return false;
    }
    Snapshot before(image);
    const std::int32_t xResolution = image.XResolution;
    const std::int32_t yResolution = image.YResolution;
    const bool scaled = ScaleImage(image, mode, value);

    Check(image.XResolution == (xResolution == 0 ? FallbackResolution : xResolution) &&
              image.YResolution == (yResolution == 0 ? FallbackResolution : yResolution),
          "scaling changed a resolution that was set");
    if (!scaled) {
        Check(Snapshot(image) == before, "a refused scaling changed the image");
        return true;
    }
    Check(IsScalingMode(mode), "an unknown mode scaled the image");
    Check(image.GetBitDepth() == 24 && image.PaletteEntries().empty(),
          "a scaled image is not 24 bpp without a palette");
    const std::int32_t right = image.GetWidth() - 1;
    const std::int32_t bottom = image.GetHeight() - 1;
    Check(image.PixelAt(right, bottom) == before.At(before.Width - 1, before.Height - 1),
          "the last corner is not the old last corner");
    if (right > 0 && bottom > 0) {
        Check(SameColour(image.PixelAt(0, 0), before.At(0, 0)) &&
                  SameColour(image.PixelAt(right, 0), before.At(before.Width - 1, 0)) &&
                  SameColour(image.PixelAt(0, bottom), before.At(0, before.Height - 1)),
              "a corner lost its colour");
    }
    CheckFastPath(input, before, mode, value, image);
    return true;
}

void CopyAndCheck(FuzzedDataProvider& input, BitmapImage& source, BitmapImage& other) {
    const bool withinOne = input.ConsumeBool();
    BitmapImage& destination = withinOne ? source : other;
    const Snapshot sourceBefore(source);
    Snapshot expected(destination);
    const std::int32_t x = ConsumeCoordinate(input, 2 * MaxSide);
    const std::int32_t y = ConsumeCoordinate(input, 2 * MaxSide);
    const std::int32_t toX = ConsumeCoordinate(input, 2 * MaxSide);
    const std::int32_t toY = ConsumeCoordinate(input, 2 * MaxSide);
    // Often the colour of a source pixel, with any alpha.
    PixelRgba key = input.ConsumeBool() ? source.PixelAt(x, y) : ConsumePixel(input);
    key.Alpha = input.ConsumeIntegral<std::uint8_t>();

    const int operation = input.ConsumeIntegralInRange(0, 3);
    if (operation <= 1) {
        const PixelRgba& pixel = source.PixelAt(x, y);
        if (operation == 0 || !SameColour(pixel, key)) {
            expected.At(toX, toY) = pixel;
        }
        if (operation == 0) {
            CopyPixel(source, x, y, destination, toX, toY);
        } else {
            CopyPixelKeyed(source, x, y, destination, toX, toY, key);
        }
        Check(Snapshot(destination) == expected, "a pixel copy changed the wrong pixels");
        return;
    }
    const std::int32_t right = ConsumeCoordinate(input, 2 * MaxSide);
    const std::int32_t otherRow = ConsumeCoordinate(input, 2 * MaxSide);
    if (operation == 2) {
        CopyRegion(source, x, right, y, otherRow, destination, toX, toY);
    } else {
        CopyRegionKeyed(source, x, right, y, otherRow, destination, toX, toY, key);
    }
    Check(Snapshot(destination).SameShape(expected), "a region copy changed more than pixels");
    if (!withinOne) {
        Check(Snapshot(source) == sourceBefore, "a region copy changed its source");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    BitmapImage first = ConsumeImage(input);
    BitmapImage second = ConsumeImage(input);
    // A few operations in a row, so that scaled images are copied and copied ones scaled.
    for (int step = 0; step < 4 && input.remaining_bytes() > 0; ++step) {
        BitmapImage& image = input.ConsumeBool() ? first : second;
        BitmapImage& partner = &image == &first ? second : first;
        if (input.ConsumeBool()) {
            if (!ScaleAndCheck(input, image)) {
                return -1;
            }
        } else {
            CopyAndCheck(input, image, partner);
        }
    }
    return 0;
}
