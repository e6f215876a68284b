#include "gaussian_blur.hpp"
#include "plane_fixture.hpp"

#include <gtest/gtest.h>

using namespace dorvane;
using BlurTest = dorvane::testing::PlaneTest;

TEST_F(BlurTest, KernelWeightsAddUpTo159AndScaleIsTheNearestFloat) {
    std::int32_t sum = 0;
    for (const std::int32_t weight : GaussianKernel) {
        sum += weight;
    }
    EXPECT_EQ(sum, 159);
    EXPECT_EQ(static_cast<double>(GaussianScale), 0.006289307959377765655517578125);
}

TEST_F(BlurTest, ConvolveAtRoundsToFloatAfterEveryTap) {
    MakePlanes(5, 5, 1);
    EXPECT_EQ(static_cast<double>(ConvolveAt(GaussianKernel, 5, GaussianScale, 2, 2)),
              0.9999998807907104);
    MakePlanes(5, 5, 255);
    EXPECT_EQ(static_cast<double>(ConvolveAt(GaussianKernel, 5, GaussianScale, 2, 2)),
              255.00003051757812);
}

TEST_F(BlurTest, ConvolveAtOfSizeThreeReadsOnlyTheTopLeftCorner) {
    MakePlanes(3, 3, 1);
    Kernel5x5 kernel{};
    kernel.fill(1000); // entries outside the 3 x 3 corner must not count
    for (const int index : {0, 1, 2, 5, 6, 7, 10, 11, 12}) {
        kernel[static_cast<std::size_t>(index)] = 1;
    }
    ImagePlane[0][1] = 10; // window column a = 0, row b = 1: weight k[1]
    kernel[1] = 3;
    EXPECT_EQ(ConvolveAt(kernel, 3, 1.0F, 1, 1), 8.0F + 30.0F);
}

TEST_F(BlurTest, KernelIndexRunsAlongXFirst) {
    MakePlanes(3, 3, 0);
    ImagePlane[2][0] = 1; // column a = 2, row b = 0: k[10]
    Kernel5x5 kernel{};
    kernel[10] = 7;
    kernel[2] = 100; // the transposed position, column 0 row 2
    EXPECT_EQ(ConvolveAt(kernel, 3, 1.0F, 1, 1), 7.0F);
}

TEST_F(BlurTest, UniformPlanesOfOneLoseTheirInteriorOthersStay) {
    MakePlanes(7, 7, 1);
    GaussianBlurStage();
    for (std::uint32_t x = 0; x < 7; ++x) {
        for (std::uint32_t y = 0; y < 7; ++y) {
            const bool interior = x >= 2 && x <= 4 && y >= 2 && y <= 4;
            EXPECT_EQ(ImagePlane[x][y], interior ? 0 : 1) << x << "," << y;
        }
    }
    for (const std::int32_t value : {0, 100, 200, 254, 255}) {
        MakePlanes(8, 8, value);
        GaussianBlurStage();
        for (const auto& column : Snapshot()) {
            for (const std::int32_t cell : column) {
                ASSERT_EQ(cell, value);
            }
        }
    }
}

TEST_F(BlurTest, SmoothsInPlaceSoLaterCellsSeeEarlierResults) {
    MakePlanes(6, 5, 0);
    ImagePlane[2][2] = 255;
    GaussianBlurStage();
    auto expected = dorvane::testing::PlaneValues(6, std::vector<std::int32_t>(5, 0));
    expected[2][2] = 24;
    expected[3][2] = 1; // 19 if (3, 2) were computed from the unsmoothed plane
    EXPECT_EQ(Snapshot(), expected);
}

TEST_F(BlurTest, VisitsColumnByColumnThenDownEachColumn) {
    // On a 6 x 6 plane the four visited cells see different smoothed neighbours depending on the
    // order; this pattern tells column-major from row-major visiting.
    MakePlanes(6, 6, 0);
    ImagePlane[2][2] = 255;
    ImagePlane[3][3] = 255;
    ImagePlane[1][4] = 200;
    GaussianBlurStage();
    const auto result = Snapshot();
    // Row-major visiting would give 43, 35, 25, 36.
    EXPECT_EQ(result[2][2], 43);
    EXPECT_EQ(result[2][3], 33);
    EXPECT_EQ(result[3][2], 26);
    EXPECT_EQ(result[3][3], 35);
}

TEST_F(BlurTest, PlanesSmallerThanFiveAreLeftAlone) {
    struct Size {
        std::uint32_t Width, Height;
    };
    for (const Size size : {Size{1, 1}, Size{1, 9}, Size{4, 100}, Size{100, 4}}) {
        MakePlanes(size.Width, size.Height, 0);
        ImagePlane[0][0] = 255;
        ImagePlane[size.Width - 1][size.Height - 1] = 17;
        const auto before = Snapshot();
        GaussianBlurStage();
        EXPECT_EQ(Snapshot(), before) << size.Width << "x" << size.Height;
    }
    MakePlanes(5, 5, 0);
    ImagePlane[2][2] = 159;
    GaussianBlurStage();
    EXPECT_EQ(ImagePlane[2][2], 14); // the single visited cell of a 5 x 5 plane
}

TEST_F(BlurTest, ReleasedPlanesAreLeftAlone) {
    MakePlanes(8, 8, 1);
    ReleasePlanes();
    GaussianBlurStage(); // the size stays, the cells are gone: nothing to do, nothing to crash
    EXPECT_EQ(ImagePlane, nullptr);
}
