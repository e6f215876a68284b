#pragma once

#include "file_failure.hpp"
#include "pixel_rgba.hpp"

#include <cstdint>
#include <span>
#include <vector>

namespace dorvane {

// The codec's in-memory image: one full colour per pixel whatever the bit depth, stored column by
// column (pixel (x, y) is element y of column x), a palette exactly at 1, 4 and 8 bpp, and a
// resolution in pixels per metre (0 means unset).
//
// Every operation either completes or leaves the image as it was; failures, including exhausted
// memory, are reported as false. Copy construction is the one operation that cannot report: it
// throws std::bad_alloc when memory runs out, as any C++ container does.
class BitmapImage {
  public:
    // 24 bpp, 1 x 1, no palette, resolution unset.
    BitmapImage();
    // Deep copy. Reads the source's resolution through dots per inch, which stores 3780 into an
    // unset source resolution and rounds the copy's resolution down (3780 becomes 3779).
    BitmapImage(BitmapImage& source);
    BitmapImage& operator=(const BitmapImage&) = delete;
    ~BitmapImage() = default;

    std::int32_t GetBitDepth() const { return BitDepth; }
    std::int32_t GetWidth() const { return Width; }
    std::int32_t GetHeight() const { return Height; }

    // Entries that the bit depth implies: 2^depth, except 2^24 at 32 bpp.
    std::int32_t PaletteSize() const;
    // Sets one of 1, 4, 8, 16, 24, 32 and replaces the palette by the standard one of that depth.
    bool ChangeBitDepth(std::int32_t depth);
    // Replaces the pixels by width x height pixels of the default colour.
    bool SetDimensions(std::int32_t width, std::int32_t height);

    // Clamped access: each coordinate is clamped against the upper bound first, then the lower.
    PixelRgba& PixelAt(std::int32_t x, std::int32_t y);
    const PixelRgba& PixelAt(std::int32_t x, std::int32_t y) const;
    PixelRgba ReadPixel(std::int32_t x, std::int32_t y) const { return PixelAt(x, y); }
    // Stores colour at (x, y); outside the image it stores nothing and returns false.
    bool WritePixel(std::int32_t x, std::int32_t y, PixelRgba colour);
    // Unchecked column access for loops that already know 0 <= x < Width.
    std::span<PixelRgba> Column(std::int32_t x) { return Pixels[static_cast<std::size_t>(x)]; }
    std::span<const PixelRgba> Column(std::int32_t x) const {
        return Pixels[static_cast<std::size_t>(x)];
    }

    // Out-of-range indices, and images without a palette, give the default colour / false.
    PixelRgba PaletteEntry(std::int32_t index) const;
    bool SetPaletteEntry(std::int32_t index, PixelRgba colour);
    // The palette entries themselves; empty when the depth has no palette.
    std::span<PixelRgba> PaletteEntries() { return Palette; }
    std::span<const PixelRgba> PaletteEntries() const { return Palette; }
    bool FillStandardPalette();
    bool FillGrayPalette();

    void SetResolutionDpi(std::int32_t horizontalDpi, std::int32_t verticalDpi);
    // Both store 3780 (96 dpi) into an unset resolution before converting it.
    std::int32_t HorizontalDpi();
    std::int32_t VerticalDpi();

    // Reads a BMP file; see bmp_reader.cpp for what each rejection leaves behind. On failure,
    // failure says why: the system's error, or the rule of the format that the file breaks. On
    // success, whether rows were missing (failure.Truncated()).
    bool LoadBmp(const char* path);
    bool LoadBmp(const char* path, FileFailure& failure);
    // The same from the bytes of a file in memory: the load of a file that holds exactly them.
    bool LoadBmp(std::span<const std::uint8_t> bytes, FileFailure& failure);
    // Writes the image as a BMP file of its own bit depth. The destination is either replaced
    // whole or left as it was. On failure, failure says which step failed and the system's error.
    bool SaveBmp(const char* path) const;
    bool SaveBmp(const char* path, FileFailure& failure) const;
    // The same file's bytes, appended to bytes; false only when memory runs out, bytes then as
    // it was.
    bool SaveBmp(std::vector<std::uint8_t>& bytes, FileFailure& failure) const;

    // Row encoders of the writer: fill buffer with file row y; false, buffer untouched, when the
    // row does not fit.
    bool PackRow32(std::span<std::uint8_t> buffer, std::int32_t y) const;
    bool PackRow24(std::span<std::uint8_t> buffer, std::int32_t y) const;
    bool PackRow8(std::span<std::uint8_t> buffer, std::int32_t y) const;
    bool PackRow4(std::span<std::uint8_t> buffer, std::int32_t y) const;
    bool PackRow1(std::span<std::uint8_t> buffer, std::int32_t y) const;
    // Lowest index among the palette entries nearest to pixel (RGB distance; alpha ignored).
    std::uint8_t NearestPaletteIndex(const PixelRgba& pixel) const;

    // Pixels per metre; no invariant ties them, so they are plain fields.
    std::int32_t XResolution = 0;
    std::int32_t YResolution = 0;

  private:
    std::int32_t BitDepth = 24;
    std::int32_t Width = 1;
    std::int32_t Height = 1;
    std::vector<std::vector<PixelRgba>> Pixels;
    std::vector<PixelRgba> Palette;
};

// True for the depths that carry a palette: 1, 4 and 8.
constexpr bool HasPaletteDepth(std::int32_t depth) {
    return depth == 1 || depth == 4 || depth == 8;
}

} // namespace dorvane
