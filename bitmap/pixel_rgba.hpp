#pragma once

#include <cstdint>

namespace dorvane {

// Channel order B, G, R, A is also the order of a palette entry and of a 32 bpp pixel on disk,
// so pixels move between memory and file as four bytes without reordering.
struct PixelRgba {
    std::uint8_t Blue = 0;
    std::uint8_t Green = 0;
    std::uint8_t Red = 0;
    std::uint8_t Alpha = 0;

    friend bool operator==(const PixelRgba&, const PixelRgba&) = default;
};
static_assert(sizeof(PixelRgba) == 4);

// The codec's default colour: white with alpha 0.
inline constexpr PixelRgba DefaultColour{255, 255, 255, 0};

} // namespace dorvane
