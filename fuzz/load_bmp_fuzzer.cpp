// LoadBmp on arbitrary bytes in memory. Beyond what the sanitizers catch, the outcome must be one
// that the reader's rules allow, the palette must hold what the file gave it, and an accepted
// image must come back unchanged from a save into memory and a second load.
#include "bitmap_image.hpp"
#include "bmp_headers.hpp"
#include "fuzz_support.hpp"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <unordered_map>
#include <vector>

namespace {

using namespace dorvane;
using namespace dorvane::fuzzing;

// Headers may ask for up to 2^28 pixels, which a load makes even from a 54-byte file; inputs
// that ask for more than this are skipped to keep every run fast.
constexpr std::int64_t PixelBudget = std::int64_t{1} << 16;
constexpr std::int32_t PreparedResolution = 111;
constexpr PixelRgba PreparedPixel{1, 2, 3, 4};

// A state that neither a rejection nor a load can produce, so "unchanged" is recognisable.
void Prepare(BitmapImage& image) {
    image.ChangeBitDepth(24);
    image.SetDimensions(2, 1);
    image.PixelAt(1, 0) = PreparedPixel;
    image.XResolution = PreparedResolution;
    image.YResolution = PreparedResolution;
}

bool IsUnchanged(const BitmapImage& image) {
    return image.GetBitDepth() == 24 && image.GetWidth() == 2 && image.GetHeight() == 1 &&
           image.PixelAt(1, 0) == PreparedPixel && image.PixelAt(0, 0) == DefaultColour;
}

bool IsReset(const BitmapImage& image) {
    constexpr PixelRgba black{0, 0, 0, 0};
    return image.GetBitDepth() == 1 && image.GetWidth() == 1 && image.GetHeight() == 1 &&
           image.PixelAt(0, 0) == DefaultColour && image.PaletteEntries().size() == 2 &&
           image.PaletteEntry(0) == black && image.PaletteEntry(1) == DefaultColour;
}

bool HeaderAcceptable(const RawHeader& header) {
    const std::uint16_t depth = header.BitCount;
    const bool depthKnown = HasPaletteDepth(depth) || depth == 16 || depth == 24 || depth == 32;
    const bool compressionKnown =
        header.Compression == BiRgb || (header.Compression == BiBitfields && depth == 16);
    // A longer info header must end by bfOffBits where a palette follows it.
    const bool paletteHasItsPlace = !HasPaletteDepth(depth) ||
                                    header.InfoSize <= InfoHeaderFieldsSize ||
                                    header.PaletteOffset() <= header.OffBits;
    return header.InfoSize >= InfoHeaderFieldsSize && depthKnown && compressionKnown &&
           header.Width > 0 && header.Height > 0 &&
           BmpDimensionsWithinLimits(header.Width, header.Height) && paletteHasItsPlace;
}

void CheckRefusal(const BitmapImage& image, const std::uint8_t* data, std::size_t size) {
    // The signature is compared only when both of its bytes arrived.
    const bool signatureDiffers = size >= 2 && (data[0] != 'B' || data[1] != 'M');
    if (signatureDiffers) {
        Check(IsUnchanged(image), "a file without the signature changed the image");
        return;
    }
    Check(IsReset(image), "a rejected file did not reset the image");
    if (size < HeadersSize) {
        Check(image.XResolution == PreparedResolution && image.YResolution == PreparedResolution,
              "a file shorter than its headers changed the resolution");
        return;
    }
    const RawHeader header(data, size);
    Check(!HeaderAcceptable(header), "a file with acceptable headers was rejected");
    Check(image.XResolution == header.XPelsPerMeter && image.YResolution == header.YPelsPerMeter,
          "a rejection after the headers lost their resolution");
}

// Entries the offset covers, from the end of the info header on, come from the file, byte by byte
// as far as the file goes, over the standard entry; the rest are the default colour.
void CheckPalette(const BitmapImage& image, const RawHeader& header, const std::uint8_t* data,
                  std::size_t size) {
    BitmapImage standard;
    standard.ChangeBitDepth(image.GetBitDepth());
    const auto entries = image.PaletteEntries();
    Check(entries.size() == standard.PaletteEntries().size(), "the palette has the wrong size");
    const std::uint64_t start = header.PaletteOffset(); // at most OffBits, or 54
    const auto offset =
        static_cast<std::int32_t>(header.OffBits - static_cast<std::uint32_t>(start));
    const std::size_t covered = offset <= 0 ? 0 : static_cast<std::size_t>(offset / 4);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        PixelRgba expected = DefaultColour;
        if (i < covered) {
            expected = standard.PaletteEntries()[i];
            auto* bytes = reinterpret_cast<std::uint8_t*>(&expected);
            for (std::size_t k = 0; k < sizeof expected; ++k) {
                const std::uint64_t at = start + 4 * i + k;
                if (at < size) {
                    bytes[k] = data[at];
                }
            }
        }
        Check(entries[i] == expected, "a palette entry differs from the file");
    }
}

void CheckAccepted(const BitmapImage& image, const std::uint8_t* data, std::size_t size) {
    Check(size >= HeadersSize && data[0] == 'B' && data[1] == 'M',
          "a file without complete headers was accepted");
    const RawHeader header(data, size);
    Check(HeaderAcceptable(header), "a file with unacceptable headers was accepted");
    Check(image.GetBitDepth() == header.BitCount && image.GetWidth() == header.Width &&
              image.GetHeight() == header.Height,
          "the image does not have the header's depth and size");
    Check(image.XResolution == header.XPelsPerMeter && image.YResolution == header.YPelsPerMeter,
          "the image does not have the header's resolution");
    if (HasPaletteDepth(image.GetBitDepth())) {
        CheckPalette(image, header, data, size);
    } else {
        Check(image.PaletteEntries().empty(), "a depth without a palette has one");
    }
}

std::int32_t Reloaded(std::int32_t resolution) {
    return resolution == 0 ? 3780 : resolution;
}

// What a save and a load give back: every pixel exactly at 24 and 32 bpp, the top five bits of
// each channel at 16 bpp, and the nearest palette entry at palette depths.
void CheckRoundTrip(const BitmapImage& image) {
    std::vector<std::uint8_t> file;
    FileFailure failure;
    Check(image.SaveBmp(file, failure), "an accepted image could not be saved");
    BitmapImage again;
    Check(again.LoadBmp(std::span<const std::uint8_t>(file), failure),
          "a saved image could not be loaded");
    Check(again.GetBitDepth() == image.GetBitDepth() && again.GetWidth() == image.GetWidth() &&
              again.GetHeight() == image.GetHeight(),
          "a saved image came back with another depth or size");
    Check(again.XResolution == Reloaded(image.XResolution) &&
              again.YResolution == Reloaded(image.YResolution),
          "a saved image came back with another resolution");
    const bool palette = HasPaletteDepth(image.GetBitDepth());
    if (palette) {
        const auto before = image.PaletteEntries();
        const auto after = again.PaletteEntries();
        Check(before.size() == after.size() &&
                  std::memcmp(before.data(), after.data(), before.size_bytes()) == 0,
              "a saved palette came back changed");
    }
    // A palette image has at most 257 colours: its entries and the default colour.
    std::unordered_map<std::uint32_t, PixelRgba> nearest;
    const auto expected = [&](const PixelRgba& pixel) {
        if (image.GetBitDepth() == 16) {
            // Decoded channels are multiples of 8 up to 248; pixels that no value reached are
            // white, which 5-6-5 keeps as 248.
            return PixelRgba{static_cast<std::uint8_t>(pixel.Blue & 0xF8U),
                             static_cast<std::uint8_t>(pixel.Green & 0xF8U),
                             static_cast<std::uint8_t>(pixel.Red & 0xF8U), pixel.Alpha};
        }
        if (!palette) {
            return pixel;
        }
        std::uint32_t key = 0;
        std::memcpy(&key, &pixel, sizeof key);
        const auto [entry, added] = nearest.try_emplace(key);
        if (added) {
            entry->second = image.PaletteEntry(image.NearestPaletteIndex(pixel));
        }
        return entry->second;
    };
    for (std::int32_t x = 0; x < image.GetWidth(); ++x) {
        for (std::int32_t y = 0; y < image.GetHeight(); ++y) {
            Check(again.PixelAt(x, y) == expected(image.PixelAt(x, y)),
                  "a saved pixel came back changed");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const RawHeader header(data, size);
    if (!WithinBudget(header.Width, header.Height, PixelBudget)) {
        return -1; // not added to the corpus
    }
    BitmapImage image;
    Prepare(image);
    FileFailure failure;
    if (!image.LoadBmp(std::span<const std::uint8_t>(data, size), failure)) {
        CheckRefusal(image, data, size);
        return 0;
    }
    CheckAccepted(image, data, size);
    CheckRoundTrip(image);
    return 0;
}
