#include "DorvaneBMPBlur.h"

#include "bitmap_image.hpp"
#include "bytes_entries.hpp"
#include "file_jobs.hpp"
#include "gray_planes.hpp"
#include "literal_blur.hpp"
#include "pipeline_state.hpp"
#include "temp_directory.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace dorvane;
using dorvane::testing::TempDirectory;

namespace {

std::u16string Wide(const std::string& ascii) {
    return {ascii.begin(), ascii.end()};
}

std::int32_t Blur(const std::string& source, const std::string& output) {
    return BMPBlur(Wide(source).c_str(), Wide(output).c_str());
}

std::int32_t Edges(const std::string& source, const std::string& output) {
    FileFailure failure;
    return DetectEdgesInFiles(Wide(source).c_str(), Wide(output).c_str(), 0, failure);
}

// The pipeline's two entries take the same paths and fail the same ways.
using Entry = std::int32_t (*)(const std::string& source, const std::string& output);
constexpr Entry Entries[] = {Blur, Edges};

// A W x H picture with colours that vary in every channel, saved at the given depth.
void WritePattern(const std::string& path, std::int32_t depth, std::int32_t width,
                  std::int32_t height, std::uint8_t seed = 0) {
    BitmapImage image;
    ASSERT_TRUE(image.ChangeBitDepth(depth));
    ASSERT_TRUE(image.SetDimensions(width, height));
    for (std::int32_t x = 0; x < width; ++x) {
        for (std::int32_t y = 0; y < height; ++y) {
            const auto v = static_cast<std::uint8_t>(x * 37 + y * 91 + seed);
            image.PixelAt(x, y) = PixelRgba{v, static_cast<std::uint8_t>(v * 3),
                                            static_cast<std::uint8_t>(255 - v), 0};
        }
    }
    ASSERT_TRUE(image.SaveBmp(path.c_str()));
}

void WriteSolid(const std::string& path, std::int32_t depth, PixelRgba colour) {
    BitmapImage image;
    ASSERT_TRUE(image.ChangeBitDepth(depth));
    image.PixelAt(0, 0) = colour;
    // At palette depths the colour becomes entry 0, so the file holds it exactly.
    image.SetPaletteEntry(0, colour);
    ASSERT_TRUE(image.SaveBmp(path.c_str()));
}

// What the output pixel of gray g reads back as at a depth: the nearest standard palette entry
// at palette depths, the top five bits of each channel at 16 bpp, g itself otherwise.
PixelRgba StoredGray(std::int32_t depth, std::uint8_t gray) {
    if (depth == 16) {
        const auto top = static_cast<std::uint8_t>(gray & 0xF8);
        return {top, top, top, 0};
    }
    BitmapImage reference;
    reference.ChangeBitDepth(depth);
    const PixelRgba pixel{gray, gray, gray, 0};
    return depth <= 8 ? reference.PaletteEntry(reference.NearestPaletteIndex(pixel)) : pixel;
}

std::vector<char> Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

} // namespace

class BmpBlurDepthTest : public ::testing::TestWithParam<std::int32_t> {};

TEST_P(BmpBlurDepthTest, OutputKeepsSizeAndDepthAndHoldsTheBlurredGray) {
    const std::int32_t depth = GetParam();
    TempDirectory folder;
    const std::string source = folder.File("source.bmp");
    const std::string output = folder.File("output.bmp");
    WritePattern(source, depth, 11, 7);
    ASSERT_EQ(Blur(source, output), BMPBLUR_OK);

    // The expected gray plane, through the stages one by one with the literal blur.
    ASSERT_EQ(LoadGrayPlanes(source.c_str()), 0);
    dorvane::testing::LiteralGaussianBlur();
    BitmapImage result;
    ASSERT_TRUE(result.LoadBmp(output.c_str()));
    EXPECT_EQ(result.GetBitDepth(), depth);
    EXPECT_EQ(result.GetWidth(), 11);
    EXPECT_EQ(result.GetHeight(), 7);
    for (std::int32_t x = 0; x < 11; ++x) {
        for (std::int32_t y = 0; y < 7; ++y) {
            const auto gray = static_cast<std::uint8_t>(ImagePlane[x][y]);
            ASSERT_EQ(result.PixelAt(x, y), StoredGray(depth, gray)) << x << "," << y;
        }
    }
    ReleasePlanes();
}

INSTANTIATE_TEST_SUITE_P(EveryDepth, BmpBlurDepthTest, ::testing::Values(1, 4, 8, 16, 24, 32));

TEST(BmpBlur, SinglePixelsGiveTheirLuma) {
    struct Case {
        std::int32_t Depth;
        PixelRgba Source;
        PixelRgba Output;
    };
    for (const Case& c : {
             Case{24, {0, 0, 255, 0}, {76, 76, 76, 0}},    // pure red
             Case{24, {0, 255, 0, 0}, {149, 149, 149, 0}}, // pure green
             Case{32, {255, 0, 0, 9}, {29, 29, 29, 0}},    // pure blue; alpha dropped
             Case{24, {1, 1, 1, 0}, {0, 0, 0, 0}},
             Case{8, {128, 128, 128, 0}, {128, 128, 128, 0}}, // 127 maps to entry 164
             Case{8, {100, 100, 100, 0}, {128, 96, 96, 0}},   // entry 155
             Case{1, {255, 255, 255, 0}, {255, 255, 255, 0}},
         }) {
        TempDirectory folder;
        WriteSolid(folder.File("in.bmp"), c.Depth, c.Source);
        ASSERT_EQ(Blur(folder.File("in.bmp"), folder.File("out.bmp")), BMPBLUR_OK);
        BitmapImage result;
        ASSERT_TRUE(result.LoadBmp(folder.File("out.bmp").c_str()));
        EXPECT_EQ(result.GetBitDepth(), c.Depth);
        EXPECT_EQ(result.PixelAt(0, 0), c.Output) << "depth " << c.Depth;
    }
}

TEST(BmpBlur, EightBitOutputCarriesTheStandardPalette) {
    TempDirectory folder;
    WritePattern(folder.File("in.bmp"), 8, 6, 6);
    ASSERT_EQ(Blur(folder.File("in.bmp"), folder.File("out.bmp")), BMPBLUR_OK);
    BitmapImage result;
    ASSERT_TRUE(result.LoadBmp(folder.File("out.bmp").c_str()));
    BitmapImage standard;
    standard.ChangeBitDepth(8);
    for (std::int32_t i = 0; i < 256; ++i) {
        ASSERT_EQ(result.PaletteEntry(i), standard.PaletteEntry(i)) << i;
    }
}

TEST(BmpBlur, UnreadableSourcesCreateNoOutput) {
    TempDirectory folder;
    std::ofstream(folder.File("text.bmp")) << "not a picture";
    const std::string rle = std::string(DORVANE_BMPSUITE_DIR) + "/g/pal8rle.bmp";
    for (const Entry entry : Entries) {
        for (const std::string& source :
             {folder.File("missing.bmp"), folder.File("text.bmp"), rle, folder.Path.string()}) {
            EXPECT_EQ(entry(source, folder.File("out.bmp")), BMPBLUR_SOURCE_UNREADABLE) << source;
            EXPECT_FALSE(std::filesystem::exists(folder.File("out.bmp"))) << source;
        }
    }
}

TEST(BmpBlur, UnwritableOutputsAreReported) {
    TempDirectory folder;
    WritePattern(folder.File("in.bmp"), 24, 5, 5);
    for (const Entry entry : Entries) {
        EXPECT_EQ(entry(folder.File("in.bmp"), folder.File("no/such/folder/out.bmp")),
                  BMPBLUR_OUTPUT_UNWRITABLE);
        EXPECT_EQ(entry(folder.File("in.bmp"), "/dev/full"), BMPBLUR_OUTPUT_UNWRITABLE);
        EXPECT_EQ(entry(folder.File("in.bmp"), folder.Path.string()), BMPBLUR_OUTPUT_UNWRITABLE);
        EXPECT_EQ(entry(folder.File("in.bmp"), ""), BMPBLUR_OUTPUT_UNWRITABLE);
        // Planes are released whatever happened.
        EXPECT_EQ(ImagePlane, nullptr);
    }
}

TEST(BmpBlur, UnusableArgumentsAreRejectedBeforeAnythingRuns) {
    TempDirectory folder;
    WritePattern(folder.File("in.bmp"), 24, 5, 5);
    const std::u16string in = Wide(folder.File("in.bmp"));
    const std::u16string out = Wide(folder.File("out.bmp"));
    EXPECT_EQ(BMPBlur(nullptr, out.c_str()), BMPBLUR_INVALID_ARGUMENT);
    EXPECT_EQ(BMPBlur(in.c_str(), nullptr), BMPBLUR_INVALID_ARGUMENT);
    const std::u16string unpaired = Wide(folder.File("x")) + u"\xD800.bmp";
    EXPECT_EQ(BMPBlur(in.c_str(), unpaired.c_str()), BMPBLUR_INVALID_ARGUMENT);
    EXPECT_EQ(BMPBlur(unpaired.c_str(), out.c_str()), BMPBLUR_INVALID_ARGUMENT);
    const std::u16string longOutput = Wide(folder.File(std::string(220, 'o')));
    EXPECT_EQ(BMPBlur(in.c_str(), longOutput.c_str()), BMPBLUR_INVALID_ARGUMENT);
    EXPECT_FALSE(std::filesystem::exists(folder.File("out.bmp")));
}

// The exported entry keeps its buffers of fixed size; the C++ entries take any path.
TEST(BmpBlur, SourcePathOf199BytesIsAcceptedAnd200OnlyByTheCppEntries) {
    TempDirectory folder;
    const std::string prefix = folder.File("");
    const std::string fits = prefix + std::string(199 - prefix.size(), 's');
    const std::string tooLong = fits + "s";
    WritePattern(fits, 24, 5, 5);
    WritePattern(tooLong, 24, 5, 5);
    for (const Entry entry : Entries) {
        EXPECT_EQ(entry(fits, folder.File("out.bmp")), BMPBLUR_OK);
        EXPECT_EQ(entry(tooLong, folder.File("out2.bmp")),
                  entry == Blur ? BMPBLUR_INVALID_ARGUMENT : BMPBLUR_OK);
    }
}

TEST(BmpBlur, NonAsciiPathsArriveAsUtf8) {
    TempDirectory folder;
    WritePattern(folder.File("caf\xc3\xa9.bmp"), 24, 5, 5);
    const std::u16string source = Wide(folder.File("caf")) + u"\u00e9.bmp";
    // A character beyond the first 65536, a surrogate pair in UTF-16.
    const std::u16string wideOutput = Wide(folder.File("")) + u"\u6f22\U0001F600.bmp";
    EXPECT_EQ(BMPBlur(source.c_str(), wideOutput.c_str()), BMPBLUR_OK);
    EXPECT_TRUE(std::filesystem::exists(folder.Path / u8"\u6f22\U0001F600.bmp"));
}

TEST(BmpBlur, SavingOverTheSourceReplacesItWhole) {
    TempDirectory folder;
    const std::string path = folder.File("picture.bmp");
    WritePattern(path, 8, 9, 9);
    const std::string copy = folder.File("copy.bmp");
    std::filesystem::copy_file(path, copy);
    ASSERT_EQ(Blur(copy, folder.File("expected.bmp")), BMPBLUR_OK);
    ASSERT_EQ(Blur(path, path), BMPBLUR_OK);
    EXPECT_EQ(Bytes(path), Bytes(folder.File("expected.bmp")));
}

TEST(BmpBlur, ConsecutiveCallsOfDifferentSizesAreIndependent) {
    TempDirectory folder;
    WritePattern(folder.File("wide.bmp"), 24, 40, 6, 1);
    WritePattern(folder.File("tall.bmp"), 24, 6, 40, 2);
    ASSERT_EQ(Blur(folder.File("wide.bmp"), folder.File("wide-out.bmp")), BMPBLUR_OK);
    ASSERT_EQ(Blur(folder.File("tall.bmp"), folder.File("tall-out.bmp")), BMPBLUR_OK);
    BitmapImage wide;
    BitmapImage tall;
    ASSERT_TRUE(wide.LoadBmp(folder.File("wide-out.bmp").c_str()));
    ASSERT_TRUE(tall.LoadBmp(folder.File("tall-out.bmp").c_str()));
    EXPECT_EQ(wide.GetWidth(), 40);
    EXPECT_EQ(tall.GetHeight(), 40);
}

// The jobs from the sample's bytes write what they write from the sample.
TEST(BmpBlur, TheBytesJobsWriteTheFileJobsBytesOfTheSample) {
    const TempDirectory folder;
    const std::string sample = std::string(DORVANE_SOURCE_DIR) + "/samples/landscape.bmp";
    dorvane::testing::ExpectBytesEntriesAsFiles(sample, folder.File("out.bmp"), 'P', 50, "sample");
}
