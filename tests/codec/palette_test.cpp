#include "bitmap_image.hpp"

#include <gtest/gtest.h>

using namespace dorvane;

namespace {

BitmapImage ImageOfDepth(std::int32_t depth) {
    BitmapImage image;
    EXPECT_TRUE(image.ChangeBitDepth(depth));
    return image;
}

} // namespace

TEST(Palette, StandardOneBitIsBlackThenWhite) {
    BitmapImage image = ImageOfDepth(1);
    EXPECT_EQ(image.PaletteEntry(0), (PixelRgba{0, 0, 0, 0}));
    EXPECT_EQ(image.PaletteEntry(1), (PixelRgba{255, 255, 255, 0}));
    EXPECT_EQ(image.PaletteEntry(2), DefaultColour);
    EXPECT_FALSE(image.SetPaletteEntry(2, PixelRgba{}));
}

TEST(Palette, StandardFourBitTable) {
    BitmapImage image = ImageOfDepth(4);
    // (Blue, Green, Red) of all 16 entries; entry 8 is the light gray.
    const std::uint8_t expected[16][3] = {
        {0, 0, 0},       {0, 0, 128},   {0, 128, 0},   {0, 128, 128},
        {128, 0, 0},     {128, 0, 128}, {128, 128, 0}, {128, 128, 128},
        {192, 192, 192}, {0, 0, 255},   {0, 255, 0},   {0, 255, 255},
        {255, 0, 0},     {255, 0, 255}, {255, 255, 0}, {255, 255, 255},
    };
    for (std::int32_t i = 0; i < 16; ++i) {
        EXPECT_EQ(image.PaletteEntry(i),
                  (PixelRgba{expected[i][0], expected[i][1], expected[i][2], 0}))
            << "entry " << i;
    }
}

TEST(Palette, StandardEightBitCubeWithSystemColours) {
    BitmapImage image = ImageOfDepth(8);
    struct Case {
        std::int32_t Index;
        PixelRgba Colour;
    };
    for (const Case& c : {
             Case{0, {0, 0, 0, 0}},
             Case{1, {0, 0, 128, 0}},
             Case{4, {128, 0, 0, 0}},
             Case{6, {128, 128, 0, 0}},
             Case{7, {192, 192, 192, 0}},
             Case{8, {192, 220, 192, 0}},
             Case{9, {240, 202, 166, 0}},
             Case{10, {0, 32, 64, 0}},
             Case{100, {64, 128, 128, 0}},
             Case{164, {128, 128, 128, 0}},
             Case{245, {192, 192, 160, 0}},
             Case{246, {240, 251, 255, 0}},
             Case{247, {164, 160, 160, 0}},
             Case{248, {128, 128, 128, 0}},
             Case{249, {0, 0, 255, 0}},
             Case{252, {255, 0, 0, 0}},
             Case{254, {255, 255, 0, 0}},
             Case{255, {255, 255, 255, 0}},
         }) {
        EXPECT_EQ(image.PaletteEntry(c.Index), c.Colour) << "entry " << c.Index;
    }
}

TEST(Palette, EntryAccessRejectsNegativeAndPastTheEndIndices) {
    BitmapImage image = ImageOfDepth(4);
    for (const std::int32_t index : {-1, 16, INT32_MIN, INT32_MAX}) {
        EXPECT_EQ(image.PaletteEntry(index), DefaultColour) << index;
        EXPECT_FALSE(image.SetPaletteEntry(index, PixelRgba{1, 1, 1, 1})) << index;
    }
    EXPECT_TRUE(image.SetPaletteEntry(15, PixelRgba{1, 2, 3, 4}));
    EXPECT_EQ(image.PaletteEntry(15), (PixelRgba{1, 2, 3, 4}));
}

TEST(Palette, GrayRampsPerDepth) {
    BitmapImage one = ImageOfDepth(1);
    ASSERT_TRUE(one.FillGrayPalette());
    EXPECT_EQ(one.PaletteEntry(1), (PixelRgba{255, 255, 255, 0}));

    BitmapImage four = ImageOfDepth(4);
    ASSERT_TRUE(four.FillGrayPalette());
    EXPECT_EQ(four.PaletteEntry(1), (PixelRgba{17, 17, 17, 0}));
    EXPECT_EQ(four.PaletteEntry(15), (PixelRgba{255, 255, 255, 0}));

    BitmapImage eight = ImageOfDepth(8);
    ASSERT_TRUE(eight.FillGrayPalette());
    for (std::int32_t i = 0; i < 256; ++i) {
        const auto gray = static_cast<std::uint8_t>(i);
        EXPECT_EQ(eight.PaletteEntry(i), (PixelRgba{gray, gray, gray, 0}));
    }

    BitmapImage rgb;
    EXPECT_FALSE(rgb.FillGrayPalette());
    EXPECT_FALSE(rgb.FillStandardPalette());
}
