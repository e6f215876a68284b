#include "DorvaneBMPBlur.h"

#include "bitmap_image.hpp"
#include "bmp_file_builder.hpp"
#include "file_jobs.hpp"
#include "memory_jobs.hpp"
#include "scale_job.hpp"
#include "scaling.hpp"
#include "temp_directory.hpp"
#include "vector_paths.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <limits>
#include <random>
#include <string>
#include <vector>

using namespace dorvane;
using namespace dorvane::testing;

namespace {

void SetSize(BitmapImage& image, std::int32_t width, std::int32_t height) {
    ASSERT_TRUE(image.SetDimensions(width, height));
}

// Every pixel a different colour, with an alpha of its own.
void FillDistinct(BitmapImage& image) {
    for (std::int32_t x = 0; x < image.GetWidth(); ++x) {
        for (std::int32_t y = 0; y < image.GetHeight(); ++y) {
            image.PixelAt(x, y) = PixelRgba{
                static_cast<std::uint8_t>(10 * x + y), static_cast<std::uint8_t>(20 + 7 * y),
                static_cast<std::uint8_t>(200 - 3 * x - y), static_cast<std::uint8_t>(1 + x + y)};
        }
    }
}

PixelRgba Rgb(std::uint8_t blue, std::uint8_t green, std::uint8_t red) {
    return PixelRgba{blue, green, red, 0};
}

// Noise with runs of equal and of gray pixels, whose sums meet the rounding of the weights.
BitmapImage Noise(std::int32_t width, std::int32_t height, std::uint32_t seed) {
    BitmapImage image;
    EXPECT_TRUE(image.SetDimensions(width, height));
    std::mt19937 random(seed);
    PixelRgba pixel{};
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            const auto draw = static_cast<std::uint32_t>(random());
            if (draw % 4 != 0) {
                pixel = {static_cast<std::uint8_t>(draw >> 8),
                         static_cast<std::uint8_t>(draw >> 16),
                         static_cast<std::uint8_t>(draw >> 24), static_cast<std::uint8_t>(draw)};
                if (draw % 8 == 1) {
                    pixel.Green = pixel.Red = pixel.Blue;
                }
            }
            image.PixelAt(x, y) = pixel;
        }
    }
    return image;
}

// An image's pixels as rows of red, green and blue from the top.
std::vector<std::uint8_t> RgbRows(const BitmapImage& image) {
    std::vector<std::uint8_t> rgb;
    for (std::int32_t y = 0; y < image.GetHeight(); ++y) {
        for (std::int32_t x = 0; x < image.GetWidth(); ++x) {
            const PixelRgba& pixel = image.PixelAt(x, y);
            rgb.insert(rgb.end(), {pixel.Red, pixel.Green, pixel.Blue});
        }
    }
    return rgb;
}

struct ScaleCase {
    char Mode;
    std::int32_t Value, Width, Height;
};

std::string Describe(const ScaleCase& c) {
    return std::string(1, c.Mode) + " " + std::to_string(c.Value) + " of " +
           std::to_string(c.Width) + " x " + std::to_string(c.Height);
}

// Every mode in either case, sides of 1 before and after, "F" on a square, enlarging and
// shrinking, new rows of 3 to 60 bytes around the vectors' runs of 6, 12 and 24, and shrinkings
// about as far as the gather's windows reach.
std::vector<ScaleCase> ScaleCases() {
    std::vector<ScaleCase> cases = {
        {'P', 50, 40, 30}, {'p', 150, 17, 9}, {'P', 100, 11, 7}, {'P', 3, 200, 90},
        {'P', 50, 3, 3},   {'W', 1, 9, 5},    {'H', 1, 9, 5},    {'w', 23, 1, 6},
        {'h', 17, 6, 1},   {'W', 5, 1, 1},    {'F', 13, 10, 10}, {'f', 29, 12, 7},
        {'F', 9, 7, 12},   {'w', 7, 30, 3},   {'h', 9, 3, 30},   {'H', 2, 64, 64},
        {'P', 37, 300, 4}, {'P', 39, 300, 4}, {'P', 49, 301, 3}, {'P', 51, 299, 3},
    };
    for (std::int32_t newWidth = 2; newWidth <= 20; ++newWidth) {
        cases.push_back({'W', newWidth, 7, 5});
    }
    return cases;
}

} // namespace

TEST(ScaleImage, NewSizeFollowsTheFlooredArithmetic) {
    struct Case {
        char Mode;
        std::int32_t Value, Width, Height, NewWidth, NewHeight;
    };
    const Case cases[] = {
        {'W', 49, 3, 15, 49, 244}, // (49 / 3) * 15 is 244.99999999999997
        {'H', 49, 15, 3, 244, 49}, // likewise along the other axis
        {'W', 100, 300, 200, 100, 66},
        // (25 * 116) * 0.01, where 25 * 1.16 would floor to 28 ...
        {'P', 116, 25, 25, 29, 29},
        // ... and (228 / 100) * 25 to 56.
        {'P', 228, 25, 25, 57, 57},
        {'P', 50, 3, 3, 1, 1},
        {'P', 0, 4, 4, 1, 1},
        {'P', -20, 4, 4, 1, 1},
        {'W', 0, 5, 3, 1, 1},
        {'W', -5, 5, 3, 1, 1},
        {'F', 50, 200, 100, 50, 25},
        {'F', 50, 100, 200, 25, 50},
        {'F', 50, 100, 100, 50, 50},
        // A square follows the height rule: (15 / 11) * 11 floors to 14.
        {'F', 15, 11, 11, 14, 15},
        {'p', 116, 25, 25, 29, 29},
        {'w', 49, 3, 15, 49, 244},
        {'h', 49, 15, 3, 244, 49},
        {'f', 50, 200, 100, 50, 25},
    };
    for (const Case& c : cases) {
        BitmapImage image;
        SetSize(image, c.Width, c.Height);
        EXPECT_TRUE(ScaleImage(image, c.Mode, c.Value)) << c.Mode << c.Value;
        EXPECT_EQ(image.GetWidth(), c.NewWidth) << c.Mode << c.Value;
        EXPECT_EQ(image.GetHeight(), c.NewHeight) << c.Mode << c.Value;
        EXPECT_EQ(image.GetBitDepth(), 24);
    }
}

TEST(ScaleImage, WideningTwoByTwoInterpolatesEveryRowAlike) {
    BitmapImage image;
    SetSize(image, 2, 2);
    for (std::int32_t y = 0; y < 2; ++y) {
        image.PixelAt(0, y) = PixelRgba{10, 20, 0, 5};
        image.PixelAt(1, y) = PixelRgba{30, 40, 255, 5};
    }
    image.PixelAt(1, 1).Alpha = 9;

    ASSERT_TRUE(ScaleImage(image, 'W', 4));
    ASSERT_EQ(image.GetWidth(), 4);
    ASSERT_EQ(image.GetHeight(), 4);
    const PixelRgba row[] = {Rgb(10, 20, 0), Rgb(16, 26, 85), Rgb(23, 33, 170), Rgb(30, 40, 255)};
    for (std::int32_t y = 0; y < 4; ++y) {
        for (std::int32_t x = 0; x < 4; ++x) {
            PixelRgba expected = row[x];
            if (x == 3 && y == 3) {
                expected.Alpha = 9; // the last corner is the old one, alpha included
            }
            EXPECT_EQ(image.PixelAt(x, y), expected) << x << "," << y;
        }
    }
}

TEST(ScaleImage, InteriorSumsKeepTheirExactFormAndOrder) {
    // On gray pixels only the form of the weights and the order of the sums tell the channels
    // apart in their last bit: Blue is summed in another order than Red and Green.
    struct Case {
        std::uint8_t Grays[2][2]; // [x][y]
        std::int32_t NewSide, X, Y;
        std::uint8_t RedGreen, Blue;
    };
    const Case cases[] = {
        {{{12, 90}, {166, 88}}, 4, 1, 1, 71, 72},
        // Here w00 = (1 - fx) * (1 - fy) would give 52.
        {{{161, 10}, {192, 68}}, 7, 2, 5, 53, 53},
    };
    for (const Case& c : cases) {
        BitmapImage image;
        SetSize(image, 2, 2);
        for (std::int32_t x = 0; x < 2; ++x) {
            for (std::int32_t y = 0; y < 2; ++y) {
                const std::uint8_t gray = c.Grays[x][y];
                image.PixelAt(x, y) = PixelRgba{gray, gray, gray, 0};
            }
        }
        ASSERT_TRUE(ScaleImage(image, 'W', c.NewSide));
        EXPECT_EQ(image.PixelAt(c.X, c.Y), Rgb(c.Blue, c.RedGreen, c.RedGreen)) << c.NewSide;
    }
}

TEST(ScaleImage, FullPercentageKeepsColoursAndDropsPaletteAndAlpha) {
    BitmapImage image;
    SetSize(image, 4, 3);
    ASSERT_TRUE(image.ChangeBitDepth(8));
    FillDistinct(image);
    image.XResolution = 2835;
    image.YResolution = 2835;

    ASSERT_TRUE(ScaleImage(image, 'P', 100));
    EXPECT_EQ(image.GetBitDepth(), 24);
    EXPECT_TRUE(image.PaletteEntries().empty());
    EXPECT_EQ(image.XResolution, 2835);
    EXPECT_EQ(image.YResolution, 2835);
    BitmapImage original;
    SetSize(original, 4, 3);
    FillDistinct(original);
    for (std::int32_t x = 0; x < 4; ++x) {
        for (std::int32_t y = 0; y < 3; ++y) {
            PixelRgba expected = original.PixelAt(x, y);
            if (x != 3 || y != 2) {
                expected.Alpha = 0;
            }
            EXPECT_EQ(image.PixelAt(x, y), expected) << x << "," << y;
        }
    }
}

TEST(ScaleImage, HalvingThreeByThreeKeepsTheLastCornerWhole) {
    BitmapImage image;
    SetSize(image, 3, 3);
    FillDistinct(image);
    const PixelRgba corner = image.PixelAt(2, 2);
    ASSERT_TRUE(ScaleImage(image, 'P', 50));
    ASSERT_EQ(image.GetWidth(), 1);
    ASSERT_EQ(image.GetHeight(), 1);
    EXPECT_EQ(image.PixelAt(0, 0), corner);
}

TEST(ScaleImage, SingleNewRowSamplesOnlyTheOldLastRow) {
    BitmapImage image;
    SetSize(image, 8, 2);
    for (std::int32_t x = 0; x < 8; ++x) {
        image.PixelAt(x, 0) = Rgb(99, 99, 200);
        image.PixelAt(x, 1) = Rgb(1, 2, static_cast<std::uint8_t>(10 * x));
    }
    ASSERT_TRUE(ScaleImage(image, 'H', 1));
    ASSERT_EQ(image.GetWidth(), 4);
    ASSERT_EQ(image.GetHeight(), 1);
    // Columns 0, 7/3 and 14/3 of the old last row, then its last pixel.
    const std::uint8_t reds[] = {0, 23, 46, 70};
    for (std::int32_t x = 0; x < 4; ++x) {
        EXPECT_EQ(image.PixelAt(x, 0), Rgb(1, 2, reds[x])) << x;
    }
}

TEST(ScaleImage, EnlargingOnePixelWideRepeatsEachRowsColour) {
    BitmapImage image;
    SetSize(image, 1, 3);
    image.PixelAt(0, 0) = Rgb(0, 0, 0);
    image.PixelAt(0, 1) = Rgb(90, 60, 30);
    image.PixelAt(0, 2) = Rgb(200, 100, 250);
    ASSERT_TRUE(ScaleImage(image, 'H', 9));
    ASSERT_EQ(image.GetWidth(), 3);
    ASSERT_EQ(image.GetHeight(), 9);
    for (std::int32_t y = 0; y < 9; ++y) {
        const PixelRgba first =
            Rgb(image.PixelAt(0, y).Blue, image.PixelAt(0, y).Green, image.PixelAt(0, y).Red);
        for (std::int32_t x = 1; x < 3; ++x) {
            const PixelRgba& pixel = image.PixelAt(x, y);
            EXPECT_EQ(Rgb(pixel.Blue, pixel.Green, pixel.Red), first) << x << "," << y;
        }
    }
    EXPECT_EQ(image.PixelAt(0, 0), Rgb(0, 0, 0));
    EXPECT_EQ(image.PixelAt(2, 4), Rgb(90, 60, 30)); // row 4 of 9 lies on old row 1
    EXPECT_EQ(image.PixelAt(1, 8), Rgb(200, 100, 250));
}

TEST(ScaleImage, RefusalsLeaveTheImageAsItWas) {
    constexpr std::int32_t int32Max = std::numeric_limits<std::int32_t>::max();
    constexpr std::int32_t int32Min = std::numeric_limits<std::int32_t>::min();
    struct Case {
        char Mode;
        std::int32_t Value, Width, Height;
    };
    const Case cases[] = {
        {'X', 50, 3, 2},          {'\0', 50, 3, 2},
        {'Q', 100, 3, 2},         {'W', 16'777'217, 1, 1}, // a side beyond the reader's limit
        {'W', 16'385, 1, 1},                               // 16385 x 16385 pixels are beyond it
        {'H', 20'000, 20'000, 1},                          // the width would be 4e8
        {'P', int32Max, 2, 2},                             // 2 * value leaves the 32-bit range
        {'P', int32Min, 2, 2},    {'W', int32Min, 1, 2},   // the height would be -2^32
    };
    for (const Case& c : cases) {
        BitmapImage image;
        SetSize(image, c.Width, c.Height);
        ASSERT_TRUE(image.ChangeBitDepth(4));
        image.SetPaletteEntry(3, PixelRgba{1, 2, 3, 4});
        FillDistinct(image);
        BitmapImage expected;
        SetSize(expected, c.Width, c.Height);
        FillDistinct(expected);

        EXPECT_FALSE(ScaleImage(image, c.Mode, c.Value)) << c.Mode << c.Value;
        EXPECT_EQ(image.GetWidth(), c.Width);
        EXPECT_EQ(image.GetHeight(), c.Height);
        EXPECT_EQ(image.GetBitDepth(), 4);
        EXPECT_EQ(image.PaletteEntry(3), (PixelRgba{1, 2, 3, 4}));
        for (std::int32_t x = 0; x < c.Width; ++x) {
            for (std::int32_t y = 0; y < c.Height; ++y) {
                ASSERT_EQ(image.PixelAt(x, y), expected.PixelAt(x, y)) << x << "," << y;
            }
        }
        // Only the sampling copy's reading of the unset resolution shows.
        EXPECT_EQ(image.XResolution, 3780);
        EXPECT_EQ(image.YResolution, 3780);
    }
}

TEST(ScaleJob, ArraysHoldToScaleImageOnEveryPathAndThreadCount) {
    ForEachPath([](const vectors::Kernels& kernels) {
        std::uint32_t seed = 1;
        for (const ScaleCase& c : ScaleCases()) {
            BitmapImage source = Noise(c.Width, c.Height, seed++);
            BitmapImage expected = source;
            ASSERT_TRUE(ScaleImage(expected, c.Mode, c.Value));
            const std::optional<ScaledSize> size = ScaledSizeOf(c.Mode, c.Width, c.Height, c.Value);
            ASSERT_TRUE(size);
            ASSERT_EQ(size->Width, expected.GetWidth());
            ASSERT_EQ(size->Height, expected.GetHeight());
            const std::vector<std::uint8_t> rgb = RgbRows(source);
            for (const std::uint32_t threads : {1U, 3U}) {
                std::vector<std::uint8_t> scaled(
                    std::size_t{3} * static_cast<std::size_t>(size->Width * size->Height));
                ASSERT_TRUE(ScaleRgbArray({rgb.data(), static_cast<std::uint32_t>(c.Width),
                                           static_cast<std::uint32_t>(c.Height), 3},
                                          *size, scaled.data(), threads));
                EXPECT_EQ(scaled, RgbRows(expected))
                    << kernels.Name << ", " << Describe(c) << ", " << threads << " threads";
            }
        }
    });
}

// Every byte value in every lane of the vectors' groups (each channel of pixels i % 4 = 0 .. 3),
// through the widening to doubles: copied whole at 100 per cent, and held to ScaleImage when
// shrunk.
TEST(ScaleJob, ArraysHoldEveryByteInEveryLaneOnEveryPath) {
    BitmapImage source;
    ASSERT_TRUE(source.SetDimensions(1024, 2));
    for (std::int32_t y = 0; y < 2; ++y) {
        for (std::int32_t x = 0; x < 1024; ++x) {
            const auto value = static_cast<std::uint8_t>(x / 4 + 64 * (x % 4) + 85 * y);
            PixelRgba& pixel = source.PixelAt(x, y);
            pixel.Blue = value;
            pixel.Green = static_cast<std::uint8_t>(255 - value);
            pixel.Red = static_cast<std::uint8_t>(7 * value);
        }
    }
    const std::vector<std::uint8_t> rgb = RgbRows(source);
    ForEachPath([&](const vectors::Kernels& kernels) {
        for (const ScaleCase& c : {ScaleCase{'P', 100, 1024, 2}, ScaleCase{'W', 1000, 1024, 2}}) {
            BitmapImage expected = source;
            ASSERT_TRUE(ScaleImage(expected, c.Mode, c.Value));
            const std::optional<ScaledSize> size = ScaledSizeOf(c.Mode, c.Width, c.Height, c.Value);
            ASSERT_TRUE(size);
            std::vector<std::uint8_t> scaled(std::size_t{3} *
                                             static_cast<std::size_t>(size->Width * size->Height));
            ASSERT_TRUE(ScaleRgbArray({rgb.data(), 1024, 2, 3}, *size, scaled.data(), 1));
            EXPECT_EQ(scaled, RgbRows(expected)) << kernels.Name << ", " << Describe(c);
            if (c.Value == 100) {
                EXPECT_EQ(scaled, rgb) << kernels.Name;
            }
        }
    });
}

// The job's file is SaveBmp's of the image that LoadBmp and ScaleImage give, from a source of
// every depth, on every path and thread count, from the file or its bytes.
TEST(ScaleJob, FilesHoldToLoadScaleAndSaveAtEveryDepth) {
    const TempDirectory folder;
    const std::string source = folder.File("source.bmp");
    const std::string expectedPath = folder.File("expected.bmp");
    const std::string output = folder.File("output.bmp");
    const ScaleCase cases[] = {{'P', 150, 13, 9}, {'w', 1, 13, 9},  {'H', 1, 13, 9},
                               {'P', 40, 13, 9},  {'F', 20, 13, 9}, {'W', 9, 1, 4},
                               {'P', 50, 61, 5}};
    for (const std::int32_t depth : {1, 4, 8, 16, 24, 32}) {
        for (const ScaleCase& c : cases) {
            BitmapImage picture = Noise(c.Width, c.Height, static_cast<std::uint32_t>(depth));
            ASSERT_TRUE(picture.ChangeBitDepth(depth));
            picture.XResolution = depth == 8 ? 0 : 2835 + depth;
            ASSERT_TRUE(picture.SaveBmp(source.c_str()));
            BitmapImage expected;
            ASSERT_TRUE(expected.LoadBmp(source.c_str()));
            ASSERT_TRUE(ScaleImage(expected, c.Mode, c.Value));
            ASSERT_TRUE(expected.SaveBmp(expectedPath.c_str()));
            const Bytes expectedBytes = ReadFileBytes(expectedPath);
            ForEachPath([&](const vectors::Kernels& kernels) {
                for (const std::uint32_t threads : {1U, 3U}) {
                    FileFailure failure;
                    ASSERT_EQ(ScaleFiles(source.c_str(), output.c_str(), c.Mode, c.Value, {threads},
                                         failure),
                              BMPBLUR_OK)
                        << failure.Reason();
                    EXPECT_FALSE(failure) << failure.Reason();
                    EXPECT_EQ(ReadFileBytes(output), expectedBytes)
                        << kernels.Name << ", " << depth << " bpp, " << Describe(c) << ", "
                        << threads << " threads";
                    std::vector<std::uint8_t> written;
                    ASSERT_EQ(ScaleBytes(ReadFileBytes(source), written, c.Mode, c.Value, {threads},
                                         failure),
                              BMPBLUR_OK)
                        << failure.Reason();
                    EXPECT_EQ(written, expectedBytes)
                        << kernels.Name << ", " << depth << " bpp, " << Describe(c) << ", "
                        << threads << " threads, from bytes";
                }
            });
        }
    }
}

TEST(ScaleJob, RefusesWhatScaleImageRefusesBeforeTouchingEitherFile) {
    const TempDirectory folder;
    const std::string source = folder.File("source.bmp");
    const std::string output = folder.File("output.bmp");
    BitmapImage picture = Noise(3, 2, 7);
    ASSERT_TRUE(picture.SaveBmp(source.c_str()));
    struct Case {
        char Mode;
        std::int32_t Value;
        const char* Path;
        std::int32_t Result;
        FailureKind Why;
    };
    const std::string missing = folder.File("missing.bmp");
    const Case cases[] = {
        {'X', 50, source.c_str(), BMPBLUR_INVALID_ARGUMENT, FailureKind::UnknownScalingMode},
        {'\0', 50, missing.c_str(), BMPBLUR_INVALID_ARGUMENT, FailureKind::UnknownScalingMode},
        {'W', 16'777'217, source.c_str(), BMPBLUR_INVALID_ARGUMENT, FailureKind::ScaledTooLarge},
        {'P', std::numeric_limits<std::int32_t>::max(), source.c_str(), BMPBLUR_INVALID_ARGUMENT,
         FailureKind::ScaledTooLarge},
        {'p', 50, missing.c_str(), BMPBLUR_SOURCE_UNREADABLE, FailureKind::Open},
    };
    for (const Case& c : cases) {
        FileFailure failure;
        EXPECT_EQ(ScaleFiles(c.Path, output.c_str(), c.Mode, c.Value, {}, failure), c.Result)
            << c.Mode << c.Value;
        EXPECT_EQ(failure.Kind, c.Why) << c.Mode << c.Value << ": " << failure.Reason();
        EXPECT_FALSE(std::filesystem::exists(PathOf(output)));
    }
    FileFailure failure;
    EXPECT_EQ(ScaleFiles(nullptr, output.c_str(), 'P', 50, {}, failure), BMPBLUR_INVALID_ARGUMENT);
    EXPECT_EQ(failure.Kind, FailureKind::PathInvalid);
}
