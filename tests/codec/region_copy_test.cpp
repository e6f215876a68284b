#include "bitmap_image.hpp"
#include "region_copy.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

using namespace dorvane;

namespace {

constexpr std::int32_t int32Max = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t int32Min = std::numeric_limits<std::int32_t>::min();

// A pixel that names its source position, so a copied pixel tells where it came from.
PixelRgba Marked(std::int32_t x, std::int32_t y) {
    return PixelRgba{static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y), 7,
                     static_cast<std::uint8_t>(100 + x + y)};
}

void MakeMarked(BitmapImage& image, std::int32_t width, std::int32_t height) {
    ASSERT_TRUE(image.SetDimensions(width, height));
    for (std::int32_t x = 0; x < width; ++x) {
        for (std::int32_t y = 0; y < height; ++y) {
            image.PixelAt(x, y) = Marked(x, y);
        }
    }
}

void MakeBlank(BitmapImage& image, std::int32_t width, std::int32_t height) {
    ASSERT_TRUE(image.SetDimensions(width, height));
}

std::int32_t CountChanged(const BitmapImage& image) {
    std::int32_t changed = 0;
    for (std::int32_t x = 0; x < image.GetWidth(); ++x) {
        for (std::int32_t y = 0; y < image.GetHeight(); ++y) {
            changed += image.PixelAt(x, y) == DefaultColour ? 0 : 1;
        }
    }
    return changed;
}

} // namespace

TEST(CopyPixel, ClampsBothPositionsAndCopiesAllFourBytes) {
    BitmapImage source;
    MakeMarked(source, 4, 3);
    BitmapImage destination;
    MakeBlank(destination, 2, 2);
    ASSERT_TRUE(destination.ChangeBitDepth(8));

    CopyPixel(source, -1, 3 + 5, destination, 0, 0);
    EXPECT_EQ(destination.PixelAt(0, 0), Marked(0, 2));
    CopyPixel(source, 2, 1, destination, 9, -4);
    EXPECT_EQ(destination.PixelAt(1, 0), Marked(2, 1));
    EXPECT_EQ(destination.GetBitDepth(), 8); // colours move, depths stay
    EXPECT_EQ(source.GetBitDepth(), 24);
}

TEST(CopyPixelKeyed, LeavesOutTheKeyColourWhateverItsAlpha) {
    const PixelRgba key{10, 20, 30, 0};
    struct Case {
        PixelRgba Source;
        bool Copied;
    };
    const Case cases[] = {
        {PixelRgba{10, 20, 30, 0}, false},  {PixelRgba{10, 20, 30, 200}, false},
        {PixelRgba{11, 20, 30, 200}, true}, {PixelRgba{10, 21, 30, 200}, true},
        {PixelRgba{10, 20, 31, 200}, true},
    };
    for (const Case& c : cases) {
        BitmapImage source;
        source.PixelAt(0, 0) = c.Source;
        BitmapImage destination;
        CopyPixelKeyed(source, 0, 0, destination, 0, 0, key);
        EXPECT_EQ(destination.PixelAt(0, 0), c.Copied ? c.Source : DefaultColour)
            << int{c.Source.Blue} << "," << int{c.Source.Green} << "," << int{c.Source.Red};
    }
}

TEST(CopyRegion, CopiesTheRectangleToItsPlace) {
    BitmapImage source;
    MakeMarked(source, 6, 5);
    BitmapImage destination;
    MakeBlank(destination, 8, 8);
    CopyRegion(source, 1, 3, 1, 2, destination, 4, 5);
    EXPECT_EQ(CountChanged(destination), 6);
    for (std::int32_t x = 1; x <= 3; ++x) {
        for (std::int32_t y = 1; y <= 2; ++y) {
            EXPECT_EQ(destination.PixelAt(4 + x - 1, 5 + y - 1), Marked(x, y));
        }
    }
}

TEST(CopyRegion, RowBoundsComeInEitherOrderAndAreSortedBeforeClipping) {
    BitmapImage source;
    MakeMarked(source, 3, 3);
    BitmapImage ordered;
    MakeBlank(ordered, 3, 3);
    BitmapImage reversed;
    MakeBlank(reversed, 3, 3);
    CopyRegion(source, 0, 2, -2, 5, ordered, 0, 0);
    CopyRegion(source, 0, 2, 5, -2, reversed, 0, 0);
    for (std::int32_t x = 0; x < 3; ++x) {
        for (std::int32_t y = 0; y < 3; ++y) {
            EXPECT_EQ(ordered.PixelAt(x, y), Marked(x, y));
            EXPECT_EQ(reversed.PixelAt(x, y), Marked(x, y));
        }
    }
}

TEST(CopyRegion, EmptyAfterClippingCopiesNothing) {
    struct Case {
        const char* Name;
        std::int32_t Left, Right, Row1, Row2, DestinationX, DestinationY;
    };
    const Case cases[] = {
        {"left beyond right", 3, 1, 0, 2, 0, 0},
        {"starts past the last column", 4, 6, 0, 2, 0, 0},
        {"ends before column 0", -5, -1, 0, 2, 0, 0},
        {"rows past the last row", 0, 2, 3, 9, 0, 0},
        {"rows before row 0", 0, 2, -4, -1, 0, 0},
        {"destination x past its last column", 0, 2, 0, 2, 5, 0},
        {"destination y past its last row", 0, 2, 0, 2, 0, 5},
        {"destination far past, no overflow", 0, 2, 0, 2, int32Max, int32Max},
        {"huge extent, no overflow", int32Max, int32Min, int32Max, int32Max, 0, 0},
    };
    for (const Case& c : cases) {
        BitmapImage source;
        MakeMarked(source, 4, 3);
        BitmapImage destination;
        MakeBlank(destination, 5, 5);
        CopyRegion(source, c.Left, c.Right, c.Row1, c.Row2, destination, c.DestinationX,
                   c.DestinationY);
        EXPECT_EQ(CountChanged(destination), 0) << c.Name;
    }
}

TEST(CopyRegion, ClippingAtSourceColumnZeroDoesNotShiftTheDestination) {
    BitmapImage source;
    MakeMarked(source, 5, 1);
    BitmapImage destination;
    MakeBlank(destination, 12, 1);
    CopyRegion(source, -3, 1, 0, 0, destination, 10, 0);
    EXPECT_EQ(destination.PixelAt(10, 0), Marked(0, 0));
    EXPECT_EQ(destination.PixelAt(11, 0), Marked(1, 0));
    EXPECT_EQ(CountChanged(destination), 2);
}

TEST(CopyRegion, DestinationClipIsMeasuredFromTheClippedLeftColumn) {
    // Clipped at the destination before the source, the region would shrink to one column.
    BitmapImage source;
    MakeMarked(source, 5, 1);
    BitmapImage destination;
    MakeBlank(destination, 5, 1);
    CopyRegion(source, -3, 4, 0, 0, destination, 1, 0);
    EXPECT_EQ(destination.PixelAt(0, 0), DefaultColour);
    for (std::int32_t x = 0; x < 4; ++x) {
        EXPECT_EQ(destination.PixelAt(1 + x, 0), Marked(x, 0)) << x;
    }
}

TEST(CopyRegion, PartsBeforeDestinationZeroFoldOntoIt) {
    BitmapImage source;
    MakeMarked(source, 6, 6);
    BitmapImage destination;
    MakeBlank(destination, 4, 4);
    // Five columns 1..5 at x -2: columns 1 and 2 land on column 0 first, then column 3 stays.
    CopyRegion(source, 1, 5, 0, 0, destination, -2, 0);
    EXPECT_EQ(destination.PixelAt(0, 0), Marked(3, 0));
    EXPECT_EQ(destination.PixelAt(1, 0), Marked(4, 0));
    EXPECT_EQ(destination.PixelAt(2, 0), Marked(5, 0));
    EXPECT_EQ(destination.PixelAt(3, 0), DefaultColour);

    // Entirely before column 0 and row 0: the region's last column and row stay at the edge.
    CopyRegion(source, 0, 2, 1, 3, destination, -10, -10);
    EXPECT_EQ(destination.PixelAt(0, 0), Marked(2, 3));
}

TEST(CopyRegion, ExtremePositionsFoldWithoutOverflow) {
    BitmapImage source;
    MakeMarked(source, 3, 2);
    BitmapImage destination;
    MakeBlank(destination, 2, 2);
    CopyRegion(source, int32Min, int32Max, int32Max, int32Min, destination, int32Min, int32Min);
    EXPECT_EQ(destination.PixelAt(0, 0), Marked(2, 1));
    EXPECT_EQ(CountChanged(destination), 1);
}

TEST(CopyRegion, OverlappingSelfCopyRereadsWhatItWrote) {
    BitmapImage image;
    MakeMarked(image, 3, 3);
    CopyRegion(image, 0, 1, 0, 1, image, 1, 1);
    EXPECT_EQ(image.PixelAt(1, 1), Marked(0, 0));
    EXPECT_EQ(image.PixelAt(2, 1), Marked(1, 0));
    EXPECT_EQ(image.PixelAt(1, 2), Marked(0, 1));
    EXPECT_EQ(image.PixelAt(2, 2), Marked(0, 0)); // (1, 1) had already been overwritten
}

TEST(CopyRegionKeyed, KeyColouredPixelsLetFoldedOnesShowThrough) {
    BitmapImage source;
    MakeMarked(source, 5, 2);
    const PixelRgba key{50, 60, 70, 0};
    source.PixelAt(2, 1) = PixelRgba{50, 60, 70, 9};
    source.PixelAt(1, 1) = key;
    BitmapImage destination;
    MakeBlank(destination, 4, 2);
    CopyRegionKeyed(source, 0, 4, 0, 1, destination, -2, 0, key);
    EXPECT_EQ(destination.PixelAt(0, 0), Marked(2, 0));
    // Row 1: columns 1 and 2 are key-coloured, so column 0 keeps the region's first column.
    EXPECT_EQ(destination.PixelAt(0, 1), Marked(0, 1));
    EXPECT_EQ(destination.PixelAt(1, 1), Marked(3, 1));
    EXPECT_EQ(destination.PixelAt(2, 1), Marked(4, 1));
}
