#include "bitmap_image.hpp"
#include "int_power.hpp"

#include <gtest/gtest.h>

using namespace dorvane;

TEST(BitmapImage, NewImageIs24BitOneByOneWithoutPalette) {
    BitmapImage image;
    EXPECT_EQ(image.GetBitDepth(), 24);
    EXPECT_EQ(image.GetWidth(), 1);
    EXPECT_EQ(image.GetHeight(), 1);
    EXPECT_EQ(image.PaletteSize(), 16777216);
    EXPECT_TRUE(image.PaletteEntries().empty());
    EXPECT_EQ(image.HorizontalDpi(), 96);
    EXPECT_EQ(image.XResolution, 3780);
    EXPECT_EQ(image.YResolution, 0);
}

TEST(BitmapImage, ChangeBitDepthRebuildsOrDropsThePalette) {
    BitmapImage image;
    ASSERT_TRUE(image.ChangeBitDepth(8));
    EXPECT_EQ(image.GetBitDepth(), 8);
    EXPECT_EQ(image.PaletteEntries().size(), 256U);
    EXPECT_EQ(image.PaletteEntry(8), (PixelRgba{192, 220, 192, 0}));

    image.SetPaletteEntry(8, PixelRgba{1, 2, 3, 4});
    ASSERT_TRUE(image.ChangeBitDepth(8)); // the same depth still restores the standard palette
    EXPECT_EQ(image.PaletteEntry(8), (PixelRgba{192, 220, 192, 0}));

    ASSERT_TRUE(image.ChangeBitDepth(16));
    EXPECT_TRUE(image.PaletteEntries().empty());
    EXPECT_EQ(image.PaletteEntry(0), DefaultColour);
}

TEST(BitmapImage, UnsupportedDepthsChangeNothing) {
    for (const std::int32_t depth : {2, 0, 12, -8, 64}) {
        BitmapImage image;
        ASSERT_TRUE(image.ChangeBitDepth(4));
        image.SetPaletteEntry(3, PixelRgba{9, 9, 9, 9});
        EXPECT_FALSE(image.ChangeBitDepth(depth)) << depth;
        EXPECT_EQ(image.GetBitDepth(), 4);
        EXPECT_EQ(image.PaletteEntry(3), (PixelRgba{9, 9, 9, 9}));
    }
}

TEST(BitmapImage, SetDimensionsGivesWhitePixelsAndRejectsEmptySizes) {
    BitmapImage image;
    ASSERT_TRUE(image.SetDimensions(3, 2));
    for (std::int32_t x = 0; x < 3; ++x) {
        for (std::int32_t y = 0; y < 2; ++y) {
            EXPECT_EQ(image.PixelAt(x, y), DefaultColour);
        }
    }
    image.PixelAt(1, 1).Red = 7;
    EXPECT_FALSE(image.SetDimensions(0, 5));
    EXPECT_FALSE(image.SetDimensions(5, -1));
    EXPECT_EQ(image.GetWidth(), 3);
    EXPECT_EQ(image.GetHeight(), 2);
    EXPECT_EQ(image.PixelAt(1, 1).Red, 7);
}

TEST(BitmapImage, SetDimensionsThatCannotBeAllocatedLeavesTheImageAsItWas) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer aborts on a failed operator new instead of throwing";
#endif
    BitmapImage image;
    ASSERT_TRUE(image.SetDimensions(2, 2));
    image.PixelAt(1, 1).Blue = 5;
    // 2^31 - 1 columns of 2^31 - 1 pixels can never be had.
    EXPECT_FALSE(image.SetDimensions(0x7FFFFFFF, 0x7FFFFFFF));
    EXPECT_EQ(image.GetWidth(), 2);
    EXPECT_EQ(image.PixelAt(1, 1).Blue, 5);
}

TEST(BitmapImage, PixelAtClampsUpperBoundFirstThenLower) {
    BitmapImage image;
    ASSERT_TRUE(image.SetDimensions(4, 3));
    for (std::int32_t x = 0; x < 4; ++x) {
        for (std::int32_t y = 0; y < 3; ++y) {
            image.PixelAt(x, y) =
                PixelRgba{static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y), 0, 0};
        }
    }
    struct Case {
        std::int32_t X, Y, ExpectedX, ExpectedY;
    };
    for (const Case& c : {Case{-5, 99, 0, 2}, Case{4, -1, 3, 0}, Case{2, 1, 2, 1},
                          Case{INT32_MIN, INT32_MAX, 0, 2}}) {
        const PixelRgba expected{static_cast<std::uint8_t>(c.ExpectedX),
                                 static_cast<std::uint8_t>(c.ExpectedY), 0, 0};
        EXPECT_EQ(image.PixelAt(c.X, c.Y), expected) << c.X << "," << c.Y;
        EXPECT_EQ(image.ReadPixel(c.X, c.Y), expected) << c.X << "," << c.Y;
    }
}

TEST(BitmapImage, WritePixelStoresInsideAndRefusesOutside) {
    BitmapImage image;
    ASSERT_TRUE(image.SetDimensions(2, 2));
    const PixelRgba colour{1, 2, 3, 4};
    EXPECT_TRUE(image.WritePixel(1, 0, colour));
    EXPECT_EQ(image.PixelAt(1, 0), colour);
    for (const auto& [x, y] :
         {std::pair{2, 0}, std::pair{0, 2}, std::pair{-1, 0}, std::pair{0, -1}}) {
        EXPECT_FALSE(image.WritePixel(x, y, colour));
    }
    EXPECT_EQ(image.PixelAt(0, 0), DefaultColour);
    EXPECT_EQ(image.PixelAt(0, 1), DefaultColour);
    EXPECT_EQ(image.PixelAt(1, 1), DefaultColour);
}

TEST(BitmapImage, ResolutionConvertsThroughDotsPerInchWithTruncation) {
    BitmapImage image;
    struct Case {
        std::int32_t Dpi, PixelsPerMetre;
    };
    for (const Case& c : {Case{96, 3779}, Case{72, 2834}, Case{300, 11811}, Case{0, 0}}) {
        image.SetResolutionDpi(c.Dpi, c.Dpi);
        EXPECT_EQ(image.XResolution, c.PixelsPerMetre);
        EXPECT_EQ(image.YResolution, c.PixelsPerMetre);
    }
    image.XResolution = 3780;
    EXPECT_EQ(image.HorizontalDpi(), 96);
    // Far beyond the 32-bit range: saturates rather than being undefined.
    image.SetResolutionDpi(INT32_MAX, INT32_MIN);
    EXPECT_EQ(image.XResolution, INT32_MAX);
    EXPECT_EQ(image.YResolution, INT32_MIN);
}

TEST(BitmapImage, CopyRoundsResolutionThroughDpiAndTouchesAnUnsetSource) {
    struct Case {
        std::int32_t Source, Copy;
    };
    for (const Case& c : {Case{3780, 3779}, Case{0, 3779}, Case{2835, 2834}, Case{2834, 2795},
                          Case{11811, 11771}, Case{39, 0}}) {
        BitmapImage source;
        source.XResolution = c.Source;
        source.YResolution = c.Source;
        BitmapImage copy(source);
        EXPECT_EQ(copy.XResolution, c.Copy) << c.Source;
        EXPECT_EQ(copy.YResolution, c.Copy) << c.Source;
        EXPECT_EQ(source.XResolution, c.Source == 0 ? 3780 : c.Source);
    }
}

TEST(BitmapImage, CopyIsDeepAndCarriesPaletteAndAlpha) {
    BitmapImage source;
    ASSERT_TRUE(source.ChangeBitDepth(8));
    ASSERT_TRUE(source.SetDimensions(3, 2));
    source.SetPaletteEntry(0, PixelRgba{10, 20, 30, 40});
    source.PixelAt(2, 1) = PixelRgba{1, 2, 3, 77};

    BitmapImage copy(source);
    EXPECT_EQ(copy.GetBitDepth(), 8);
    EXPECT_EQ(copy.GetWidth(), 3);
    EXPECT_EQ(copy.GetHeight(), 2);
    EXPECT_EQ(copy.PaletteEntry(0), (PixelRgba{10, 20, 30, 40}));
    EXPECT_EQ(copy.PixelAt(2, 1), (PixelRgba{1, 2, 3, 77}));

    copy.PixelAt(2, 1).Red = 99;
    copy.SetPaletteEntry(0, DefaultColour);
    EXPECT_EQ(source.PixelAt(2, 1).Red, 3);
    EXPECT_EQ(source.PaletteEntry(0), (PixelRgba{10, 20, 30, 40}));
}

TEST(IntPower, WrapsAndTreatsNonPositiveExponentsAsZero) {
    EXPECT_EQ(IntPower(2, 0), 1);
    EXPECT_EQ(IntPower(7, -3), 1);
    EXPECT_EQ(IntPower(2, 10), 1024);
    EXPECT_EQ(IntPower(2, 31), INT32_MIN);
    EXPECT_EQ(IntPower(2, 32), 0);
    EXPECT_EQ(IntPower(-3, 3), -27);
}
