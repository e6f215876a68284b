// Palette access and the standard and gray palettes of BitmapImage.
#include "bitmap_image.hpp"
#include "int_power.hpp"

namespace dorvane {
namespace {

// Index bits 2, 1, 0 select blue, green and red at the given intensity.
PixelRgba FromIndexBits(std::int32_t index, std::uint8_t intensity) {
    const auto channel = [&](std::int32_t bit) {
        return static_cast<std::uint8_t>(((index >> bit) & 1) * intensity);
    };
    return PixelRgba{channel(2), channel(1), channel(0), 0};
}

void FillStandard4(std::span<PixelRgba> palette) {
    for (std::int32_t index = 0; index < 8; ++index) {
        palette[static_cast<std::size_t>(index)] = FromIndexBits(index, 128);
        palette[static_cast<std::size_t>(index + 8)] = FromIndexBits(index, 255);
    }
    palette[8] = PixelRgba{192, 192, 192, 0};
}

void FillStandard8(std::span<PixelRgba> palette) {
    for (std::int32_t b = 0; b < 4; ++b) {
        for (std::int32_t g = 0; g < 8; ++g) {
            for (std::int32_t r = 0; r < 8; ++r) {
                palette[static_cast<std::size_t>(64 * b + 8 * g + r)] =
                    PixelRgba{static_cast<std::uint8_t>(64 * b), static_cast<std::uint8_t>(32 * g),
                              static_cast<std::uint8_t>(32 * r), 0};
            }
        }
    }
    for (std::int32_t index = 0; index < 7; ++index) {
        palette[static_cast<std::size_t>(index)] = FromIndexBits(index, 128);
    }
    struct Override {
        std::size_t Index;
        PixelRgba Colour;
    };
    static constexpr Override overrides[] = {
        {7, {192, 192, 192, 0}},   {8, {192, 220, 192, 0}},   {9, {240, 202, 166, 0}},
        {246, {240, 251, 255, 0}}, {247, {164, 160, 160, 0}}, {248, {128, 128, 128, 0}},
        {249, {0, 0, 255, 0}},     {250, {0, 255, 0, 0}},     {251, {0, 255, 255, 0}},
        {252, {255, 0, 0, 0}},     {253, {255, 0, 255, 0}},   {254, {255, 255, 0, 0}},
        {255, {255, 255, 255, 0}},
    };
    for (const Override& entry : overrides) {
        palette[entry.Index] = entry.Colour;
    }
}

} // namespace

std::int32_t BitmapImage::PaletteSize() const {
    return IntPower(2, BitDepth == 32 ? 24 : BitDepth);
}

PixelRgba BitmapImage::PaletteEntry(std::int32_t index) const {
    if (!HasPaletteDepth(BitDepth) || index < 0 ||
        static_cast<std::size_t>(index) >= Palette.size()) {
        return DefaultColour;
    }
    return Palette[static_cast<std::size_t>(index)];
}

bool BitmapImage::SetPaletteEntry(std::int32_t index, PixelRgba colour) {
    if (!HasPaletteDepth(BitDepth) || index < 0 ||
        static_cast<std::size_t>(index) >= Palette.size()) {
        return false;
    }
    Palette[static_cast<std::size_t>(index)] = colour;
    return true;
}

bool BitmapImage::FillStandardPalette() {
    switch (BitDepth) {
    case 1:
        Palette[0] = PixelRgba{0, 0, 0, 0};
        Palette[1] = PixelRgba{255, 255, 255, 0};
        return true;
    case 4:
        FillStandard4(Palette);
        return true;
    case 8:
        FillStandard8(Palette);
        return true;
    default:
        return false;
    }
}

bool BitmapImage::FillGrayPalette() {
    if (!HasPaletteDepth(BitDepth)) {
        return false;
    }
    const std::int32_t count = PaletteSize();
    const std::int32_t step = BitDepth == 1 ? 255 : 255 / (count - 1);
    for (std::int32_t index = 0; index < count; ++index) {
        const auto gray = static_cast<std::uint8_t>(index * step);
        SetPaletteEntry(index, PixelRgba{gray, gray, gray, 0});
    }
    return true;
}

} // namespace dorvane
