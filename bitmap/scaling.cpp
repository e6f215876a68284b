#include "scaling.hpp"
#include "bmp_reader.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>
#include <new>
#include <optional>

namespace dorvane {
namespace {

// A new side from its unfloored value: below 1 is raised to 1; outside the 32-bit range it is
// refused, which also keeps the conversion to int defined.
std::optional<std::int32_t> NewSide(double side) {
    const double floored = std::floor(side);
    if (floored < std::numeric_limits<std::int32_t>::min() ||
        floored > std::numeric_limits<std::int32_t>::max()) {
        return std::nullopt;
    }
    return std::max(static_cast<std::int32_t>(floored), 1);
}

std::optional<std::int32_t> PercentOf(std::int32_t side, std::int32_t percent) {
    const std::int64_t product = std::int64_t{side} * percent;
    if (product < std::numeric_limits<std::int32_t>::min() ||
        product > std::numeric_limits<std::int32_t>::max()) {
        return std::nullopt;
    }
    // The whole product times 0.01: side * (percent * 0.01) floors differently for some sides.
    return NewSide(static_cast<double>(product) * 0.01);
}

// (value / side) * other, in this order: it floors differently from (value * other) / side.
std::optional<std::int32_t> Proportional(std::int32_t value, std::int32_t side,
                                         std::int32_t other) {
    return NewSide(static_cast<double>(value) / side * other);
}

// No image larger than the reader would load is made: it is refused rather than allocated.
std::optional<ScaledSize> Combine(std::optional<std::int32_t> width,
                                  std::optional<std::int32_t> height) {
    if (!width || !height || !BmpDimensionsWithinLimits(*width, *height)) {
        return std::nullopt;
    }
    return ScaledSize{*width, *height};
}

} // namespace

std::optional<ScaledSize> ScaledSizeOf(char mode, std::int32_t width, std::int32_t height,
                                       std::int32_t value) {
    mode = static_cast<char>(std::toupper(static_cast<unsigned char>(mode)));
    if (mode == 'F') {
        mode = width > height ? 'W' : 'H';
    }
    switch (mode) {
    case 'P':
        return Combine(PercentOf(width, value), PercentOf(height, value));
    case 'W':
        return Combine(NewSide(value), Proportional(value, width, height));
    case 'H':
        return Combine(Proportional(value, height, width), NewSide(value));
    default:
        return std::nullopt;
    }
}

ScaleSample ScaleSampleAt(std::int32_t index, std::int32_t oldSize, std::int32_t newSize) {
    const double position = static_cast<double>(index) * (oldSize - 1.0) / (newSize - 1.0);
    const double whole = std::floor(position);
    return {static_cast<std::int32_t>(whole), position - whole};
}

namespace {

// Sums lie within (-1, 256): truncated toward zero as unsigned, of which the low byte is kept.
std::uint8_t ToChannel(double sum) {
    return static_cast<std::uint8_t>(static_cast<std::uint32_t>(sum) & 0xFFU);
}

struct Weights {
    double W00, W10, W01, W11;
};

// Red and Green are summed in one order, Blue in another; the truncated results depend on it.
double RedGreenSum(double p00, double p10, double p01, double p11, const Weights& w) {
    return ((p10 * w.W10 + p01 * w.W01) + p11 * w.W11) + p00 * w.W00;
}

double BlueSum(double p00, double p10, double p01, double p11, const Weights& w) {
    return ((p11 * w.W11 + p00 * w.W00) + p10 * w.W10) + p01 * w.W01;
}

// Bilinear from the four neighbours; the neighbour past a last column or row is clamped onto it.
void FillInterior(PixelRgba& target, const BitmapImage& source, ScaleSample x, ScaleSample y) {
    const PixelRgba& p00 = source.PixelAt(x.Index, y.Index);
    const PixelRgba& p10 = source.PixelAt(x.Index + 1, y.Index);
    const PixelRgba& p01 = source.PixelAt(x.Index, y.Index + 1);
    const PixelRgba& p11 = source.PixelAt(x.Index + 1, y.Index + 1);
    const double fx = x.Fraction;
    const double fy = y.Fraction;
    const double w11 = fx * fy;
    const Weights w{((1.0 - fx) - fy) + w11, fx - w11, fy - w11, w11};
    target.Red = ToChannel(RedGreenSum(p00.Red, p10.Red, p01.Red, p11.Red, w));
    target.Green = ToChannel(RedGreenSum(p00.Green, p10.Green, p01.Green, p11.Green, w));
    target.Blue = ToChannel(BlueSum(p00.Blue, p10.Blue, p01.Blue, p11.Blue, w));
}

// Linear between a and b along the last column or row.
void FillEdge(PixelRgba& target, const PixelRgba& a, const PixelRgba& b, double f) {
    const auto mix = [f](double from, double to) { return ToChannel(to * f + from * (1.0 - f)); };
    target.Red = mix(a.Red, b.Red);
    target.Green = mix(a.Green, b.Green);
    target.Blue = mix(a.Blue, b.Blue);
}

// The new first and last columns and rows come only from the old ones, so the corners keep their
// colours. Alpha stays that of the fresh pixels except at the last corner, copied whole.
void Resample(const BitmapImage& source, BitmapImage& image) {
    const std::int32_t width = source.GetWidth();
    const std::int32_t height = source.GetHeight();
    const std::int32_t newWidth = image.GetWidth();
    const std::int32_t newHeight = image.GetHeight();
    for (std::int32_t j = 0; j <= newHeight - 2; ++j) {
        const ScaleSample y = ScaleSampleAt(j, height, newHeight);
        for (std::int32_t i = 0; i <= newWidth - 2; ++i) {
            FillInterior(image.PixelAt(i, j), source, ScaleSampleAt(i, width, newWidth), y);
        }
        FillEdge(image.PixelAt(newWidth - 1, j), source.PixelAt(width - 1, y.Index),
                 source.PixelAt(width - 1, y.Index + 1), y.Fraction);
    }
    for (std::int32_t i = 0; i <= newWidth - 2; ++i) {
        const ScaleSample x = ScaleSampleAt(i, width, newWidth);
        FillEdge(image.PixelAt(i, newHeight - 1), source.PixelAt(x.Index, height - 1),
                 source.PixelAt(x.Index + 1, height - 1), x.Fraction);
    }
    image.PixelAt(newWidth - 1, newHeight - 1) = source.PixelAt(width - 1, height - 1);
}

} // namespace

bool ScaleImage(BitmapImage& image, char mode, std::int32_t value) {
    // The copy comes first, whatever the mode: reading its resolution is a documented effect.
    std::optional<BitmapImage> source;
    try {
        source.emplace(image);
    } catch (const std::bad_alloc&) {
        return false;
    }
    const std::optional<ScaledSize> size =
        ScaledSizeOf(mode, source->GetWidth(), source->GetHeight(), value);
    if (!size || !image.SetDimensions(size->Width, size->Height)) {
        return false;
    }
    image.ChangeBitDepth(24); // drops the palette; cannot fail
    Resample(*source, image);
    return true;
}

} // namespace dorvane
