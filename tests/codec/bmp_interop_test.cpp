// Interoperability with ImageMagick: files we write decode to the same pixels in ImageMagick,
// and files that ImageMagick writes (and the suite's good files) decode to the same pixels in our
// reader. Skipped when ImageMagick's convert is not installed.
#include "bitmap_image.hpp"
#include "bmp_file_builder.hpp"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

using namespace dorvane;
using namespace dorvane::testing;
namespace fs = std::filesystem;

namespace {

const char* const Convert = "/usr/bin/convert";

bool ConvertAvailable() {
    static const bool available =
        fs::exists(Convert) &&
        std::system(
            (std::string(Convert) + " -version 2>/dev/null | grep -q ImageMagick").c_str()) == 0;
    return available;
}

std::string Quoted(const std::string& text) {
    return "'" + text + "'";
}

bool RunConvert(const std::string& arguments) {
    return std::system((std::string(Convert) + " " + arguments + " 2>/dev/null").c_str()) == 0;
}

// Pixels as ImageMagick decodes a file: width, height and RGB bytes row by row from the top.
struct Decoded {
    std::int32_t Width = 0, Height = 0;
    Bytes Rgb;

    PixelRgba At(std::int32_t x, std::int32_t y) const {
        const std::size_t at = 3 * (static_cast<std::size_t>(y) * static_cast<std::size_t>(Width) +
                                    static_cast<std::size_t>(x));
        return PixelRgba{Rgb[at + 2], Rgb[at + 1], Rgb[at], 0};
    }
};

Decoded DecodeWithImageMagick(const std::string& bmp, const TempDirectory& folder) {
    const std::string ppm = folder.File("decoded.ppm");
    Decoded decoded;
    if (!RunConvert(Quoted(bmp) + " -depth 8 " + Quoted("ppm:" + ppm))) {
        ADD_FAILURE() << "convert could not read " << bmp;
        return decoded;
    }
    const Bytes bytes = ReadFileBytes(ppm);
    // "P6\n<width> <height>\n255\n" then the samples.
    std::size_t position = 0;
    std::vector<std::string> fields;
    while (fields.size() < 4 && position < bytes.size()) {
        while (position < bytes.size() && std::isspace(bytes[position]) != 0) {
            ++position;
        }
        std::string field;
        while (position < bytes.size() && std::isspace(bytes[position]) == 0) {
            field += static_cast<char>(bytes[position++]);
        }
        fields.push_back(field);
    }
    ++position; // the single white space after the maximum value
    if (fields.size() != 4 || fields[0] != "P6" || fields[3] != "255") {
        ADD_FAILURE() << "unexpected PPM from convert for " << bmp;
        return decoded;
    }
    decoded.Width = std::stoi(fields[1]);
    decoded.Height = std::stoi(fields[2]);
    decoded.Rgb.assign(bytes.begin() + static_cast<std::ptrdiff_t>(position), bytes.end());
    EXPECT_EQ(decoded.Rgb.size(), 3U * static_cast<std::size_t>(decoded.Width) *
                                      static_cast<std::size_t>(decoded.Height));
    return decoded;
}

// ImageMagick scales the 5- and 6-bit fields of 16 bpp pixels to 8 bits with low-bit
// replication; our reader and writer keep the top five bits. The top five bits agree.
PixelRgba TopFiveBits(PixelRgba pixel) {
    return PixelRgba{static_cast<std::uint8_t>(pixel.Blue & 0xF8),
                     static_cast<std::uint8_t>(pixel.Green & 0xF8),
                     static_cast<std::uint8_t>(pixel.Red & 0xF8), 0};
}

PixelRgba WithoutAlpha(PixelRgba pixel) {
    pixel.Alpha = 0;
    return pixel;
}

void ExpectSamePixels(const BitmapImage& ours, const Decoded& theirs, bool sixteenBit,
                      const std::string& what) {
    ASSERT_EQ(theirs.Width, ours.GetWidth()) << what;
    ASSERT_EQ(theirs.Height, ours.GetHeight()) << what;
    for (std::int32_t y = 0; y < ours.GetHeight(); ++y) {
        for (std::int32_t x = 0; x < ours.GetWidth(); ++x) {
            PixelRgba mine = WithoutAlpha(ours.PixelAt(x, y));
            PixelRgba other = theirs.At(x, y);
            if (sixteenBit) {
                mine = TopFiveBits(mine);
                other = TopFiveBits(other);
            }
            ASSERT_EQ(mine, other) << what << " at " << x << "," << y;
        }
    }
}

class BmpInterop : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!ConvertAvailable()) {
            GTEST_SKIP() << "ImageMagick's convert is not installed";
        }
    }
    TempDirectory Folder;
};

} // namespace

TEST_F(BmpInterop, ImageMagickReadsWhatWeWriteAtEveryDepth) {
    for (const std::int32_t depth : {1, 4, 8, 16, 24, 32}) {
        for (const auto& [width, height] : {std::pair{13, 7}, std::pair{1, 1}, std::pair{33, 2}}) {
            BitmapImage image;
            ASSERT_TRUE(image.ChangeBitDepth(depth));
            ASSERT_TRUE(image.SetDimensions(width, height));
            for (std::int32_t x = 0; x < width; ++x) {
                for (std::int32_t y = 0; y < height; ++y) {
                    image.PixelAt(x, y) = PixelRgba{static_cast<std::uint8_t>(x * 37 + y * 11),
                                                    static_cast<std::uint8_t>(x * 5 + y * 71),
                                                    static_cast<std::uint8_t>(255 - x * 19),
                                                    static_cast<std::uint8_t>(x + y)};
                }
            }
            if (depth == 8) {
                image.SetPaletteEntry(3, PixelRgba{1, 2, 3, 0}); // the image's own palette
            }
            const std::string path = Folder.File("ours.bmp");
            ASSERT_TRUE(image.SaveBmp(path.c_str()));
            // What the file holds: at palette depths the nearest entry of each pixel.
            BitmapImage expected(image);
            for (std::int32_t x = 0; x < width && depth <= 8; ++x) {
                for (std::int32_t y = 0; y < height; ++y) {
                    expected.PixelAt(x, y) =
                        image.PaletteEntry(image.NearestPaletteIndex(image.PixelAt(x, y)));
                }
            }
            ExpectSamePixels(expected, DecodeWithImageMagick(path, Folder), depth == 16,
                             std::to_string(depth) + " bpp " + std::to_string(width) + "x" +
                                 std::to_string(height));
        }
    }
}

TEST_F(BmpInterop, WeReadWhatImageMagickWrites) {
    struct Case {
        const char* Options;
        std::int32_t Depth;
    };
    for (const Case& c : {Case{"-type TrueColor", 24}, Case{"-type Palette", 8},
                          Case{"-type Palette -colors 12", 4}, Case{"-monochrome", 1}}) {
        const std::string path = Folder.File("theirs.bmp");
        ASSERT_TRUE(RunConvert("-seed 7 -size 29x11 plasma:fractal " + std::string(c.Options) +
                               " -compress none BMP3:" + Quoted(path)))
            << c.Options;
        BitmapImage image;
        ASSERT_TRUE(image.LoadBmp(path.c_str())) << c.Options;
        EXPECT_EQ(image.GetBitDepth(), c.Depth) << c.Options;
        ExpectSamePixels(image, DecodeWithImageMagick(path, Folder), false, c.Options);
    }
}

TEST_F(BmpInterop, WeDecodeTheSuitesGoodFilesAsImageMagickDoes) {
    const fs::path suite = DORVANE_BMPSUITE_DIR;
    if (!fs::is_directory(suite)) {
        GTEST_SKIP() << "no BMP suite at " << suite;
    }
    for (const char* name :
         {"g/pal1.bmp", "g/pal1bg.bmp", "g/pal4.bmp", "g/pal4gs.bmp", "g/pal8.bmp", "g/pal8-0.bmp",
          "g/pal8v4.bmp", "g/pal8v5.bmp", "g/pal8nonsquare.bmp", "g/pal8w124.bmp", "g/pal8w125.bmp",
          "g/pal8w126.bmp", "g/rgb16.bmp", "g/rgb16-565.bmp", "g/rgb16-565pal.bmp",
          "g/rgb16bfdef.bmp", "g/rgb24.bmp", "g/rgb24pal.bmp", "g/rgb32.bmp"}) {
        const std::string path = (suite / name).string();
        BitmapImage image;
        ASSERT_TRUE(image.LoadBmp(path.c_str())) << name;
        ExpectSamePixels(image, DecodeWithImageMagick(path, Folder), image.GetBitDepth() == 16,
                         name);
    }
}
