#include "gradient_stage.hpp"
#include "hysteresis.hpp"
#include "non_maximum_suppression.hpp"
#include "plane_fixture.hpp"

#include <gtest/gtest.h>

#include <array>
#include <limits>

using namespace dorvane;
using EdgeStagesTest = dorvane::testing::PlaneTest;

namespace {

// A 3 x 3 image written as it looks: rows[y][x].
using Window = std::array<std::array<std::int32_t, 3>, 3>;

void LoadWindow(const Window& rows) {
    for (std::uint32_t x = 0; x < 3; ++x) {
        for (std::uint32_t y = 0; y < 3; ++y) {
            ImagePlane[x][y] = rows[y][x];
        }
    }
}

void FillPlanes(std::int32_t image, std::int32_t magnitude, float direction) {
    for (std::uint32_t x = 0; x < PlaneWidth; ++x) {
        for (std::uint32_t y = 0; y < PlaneHeight; ++y) {
            ImagePlane[x][y] = image;
            MagnitudePlane[x][y] = magnitude;
            DirectionPlane[x][y] = direction;
        }
    }
}

} // namespace

TEST(QuantiseDirection, BoundariesGoToTheFirstSectorThatHoldsThem) {
    struct Case {
        float Angle;
        std::int32_t Direction;
    };
    const Case cases[] = {{22.5F, 0},        {67.5F, 45},      {112.5F, 90},  {157.5F, 0},
                          {180.0F, 0},       {-22.5F, 0},      {-67.5F, 90},  {-112.5F, 45},
                          {-157.5F, 0},      {-180.0F, 0},     {0.0F, 0},     {45.0F, 45},
                          {90.0F, 90},       {135.0F, 135},    {-45.0F, 135}, {-135.0F, 45},
                          {157.49998F, 135}, {-180.00015F, -1}};
    for (const Case& c : cases) {
        EXPECT_EQ(QuantiseDirection(c.Angle), c.Direction) << c.Angle;
    }
    // The angles of gradients pointing straight left, down and up.
    EXPECT_EQ(QuantiseDirection(180.00015258789062F), -1);
    EXPECT_EQ(QuantiseDirection(90.00007629394531F), 90);
    EXPECT_EQ(QuantiseDirection(-90.00007629394531F), 90);
}

TEST_F(EdgeStagesTest, GradientOfOneWindow) {
    struct Case {
        const char* Name;
        Window Rows;
        std::int32_t Magnitude;
        float Direction;
    };
    const Case cases[] = {
        {"flat", {{{9, 9, 9}, {9, 9, 9}, {9, 9, 9}}}, 0, 0.0F},
        {"brighter left", {{{10, 0, 0}, {10, 0, 0}, {10, 0, 0}}}, 40, 0.0F},
        // Angle 180.00015, in no sector; 180 / pi would give exactly 180, direction 0.
        {"brighter right", {{{0, 0, 10}, {0, 0, 10}, {0, 0, 10}}}, 40, -1.0F},
        {"brighter below", {{{0, 0, 0}, {0, 0, 0}, {10, 10, 10}}}, 40, 90.0F},
        {"brighter above", {{{10, 10, 10}, {0, 0, 0}, {0, 0, 0}}}, 40, 90.0F},
        {"brighter below left", {{{0, 0, 0}, {5, 0, 0}, {10, 5, 0}}}, 28, 45.0F},
        {"brighter above left", {{{10, 5, 0}, {5, 0, 0}, {0, 0, 0}}}, 28, 135.0F},
        // gc = 6, gr = 8 (gc and gr always share their parity, so 3 and 4 cannot occur).
        {"six eight ten", {{{0, 0, 0}, {3, 0, 0}, {0, 4, 0}}}, 10, 45.0F},
        {"truncated root of 8", {{{0, 0, 0}, {0, 0, 0}, {2, 0, 0}}}, 2, 45.0F},
        // gc = -816, gr = +-338: +-157.50003 degrees, where 180 / pi gives +-157.49989.
        {"just past 157.5", {{{0, 0, 204}, {0, 0, 204}, {0, 169, 204}}}, 883, 0.0F},
        {"just past -157.5", {{{0, 169, 204}, {0, 0, 204}, {0, 0, 204}}}, 883, 0.0F},
    };
    for (const Case& c : cases) {
        MakePlanes(3, 3);
        LoadWindow(c.Rows);
        GradientStage();
        EXPECT_EQ(MagnitudePlane[1][1], c.Magnitude) << c.Name;
        EXPECT_EQ(DirectionPlane[1][1], c.Direction) << c.Name;
    }
}

TEST_F(EdgeStagesTest, GradientWritesInsideAOneCellFrameAndLeavesTheImageAlone) {
    MakePlanes(5, 4);
    FillPlanes(0, -5, 7.0F);
    for (std::uint32_t x = 0; x < 5; ++x) {
        for (std::uint32_t y = 0; y < 4; ++y) {
            ImagePlane[x][y] = static_cast<std::int32_t>(x * 40 + y * 7);
        }
    }
    const auto image = Snapshot();
    GradientStage();
    EXPECT_EQ(Snapshot(), image);
    for (std::uint32_t x = 0; x < 5; ++x) {
        for (std::uint32_t y = 0; y < 4; ++y) {
            const bool interior = x >= 1 && x <= 3 && y >= 1 && y <= 2;
            // Ramp: gc = -320, gr = 56, angle 170.07.
            EXPECT_EQ(MagnitudePlane[x][y], interior ? 324 : -5) << x << "," << y;
            EXPECT_EQ(DirectionPlane[x][y], interior ? 0.0F : 7.0F) << x << "," << y;
        }
    }
}

TEST_F(EdgeStagesTest, ExtremeImageValuesSaturateTheMagnitude) {
    MakePlanes(3, 3);
    constexpr std::int32_t Big = 1'000'000'000; // gc = 8e9
    LoadWindow({{{Big, 0, -Big}, {Big, 0, -Big}, {Big, 0, -Big}}});
    GradientStage();
    EXPECT_EQ(MagnitudePlane[1][1], std::numeric_limits<std::int32_t>::max());
}

TEST_F(EdgeStagesTest, SuppressionComparesWithTheTwoNeighboursAlongTheDirection) {
    struct Case {
        float Direction;
        std::uint32_t FirstX, FirstY, SecondX, SecondY;
    };
    const Case cases[] = {
        {0.0F, 2, 1, 0, 1},   {45.0F, 2, 2, 0, 0}, {90.0F, 1, 2, 1, 0},
        {135.0F, 2, 0, 0, 2}, {45.9F, 2, 2, 0, 0}, {-0.5F, 2, 1, 0, 1}, // the last two truncated
    };
    for (const Case& c : cases) {
        // The centre beats only its two neighbours along the direction; a tie is no maximum.
        for (const std::int32_t first : {5, 10}) {
            for (const std::int32_t second : {5, 10}) {
                MakePlanes(3, 3);
                FillPlanes(17, 20, 0.0F);
                MagnitudePlane[1][1] = 10;
                MagnitudePlane[c.FirstX][c.FirstY] = first;
                MagnitudePlane[c.SecondX][c.SecondY] = second;
                DirectionPlane[1][1] = c.Direction;
                NonMaximumSuppressionStage();
                EXPECT_EQ(ImagePlane[1][1], first < 10 && second < 10 ? 0 : 255)
                    << c.Direction << " " << first << " " << second;
            }
        }
    }
}

TEST_F(EdgeStagesTest, SuppressionLeavesCellsWithoutADirectionAlone) {
    for (const float direction :
         {-1.0F, 1.0F, 44.9F, 136.0F, 1e20F, -1e20F, std::numeric_limits<float>::quiet_NaN()}) {
        MakePlanes(3, 3);
        FillPlanes(17, 0, direction);
        NonMaximumSuppressionStage();
        EXPECT_EQ(ImagePlane[1][1], 17) << direction;
    }
    // A step brighter on the right has no direction either.
    MakePlanes(4, 3);
    for (std::uint32_t y = 0; y < 3; ++y) {
        ImagePlane[2][y] = ImagePlane[3][y] = 200;
    }
    const auto image = Snapshot();
    GradientStage();
    NonMaximumSuppressionStage();
    EXPECT_EQ(Snapshot(), image);
}

TEST_F(EdgeStagesTest, HysteresisOfTheCentreOfAFiveByFivePlane) {
    struct Case {
        std::int32_t Centre;
        std::uint32_t StrongX, StrongY; // where a magnitude of 81 sits; (2, 2) for none
        std::int32_t Expected;
    };
    // The last four: the thresholds themselves look at the 3 x 3 block only.
    const Case cases[] = {{64, 1, 2, 255}, {81, 2, 2, 0},  {70, 2, 2, 255}, {65, 2, 2, 255},
                          {80, 2, 2, 255}, {70, 3, 2, 0},  {65, 1, 1, 0},   {80, 3, 3, 0},
                          {66, 0, 0, 0},   {79, 2, 4, 0},  {65, 0, 0, 255}, {80, 4, 2, 255},
                          {65, 2, 4, 255}, {80, 4, 4, 255}};
    for (const Case& c : cases) {
        MakePlanes(5, 5);
        FillPlanes(17, 0, 0.0F);
        MagnitudePlane[c.StrongX][c.StrongY] = 81;
        MagnitudePlane[2][2] = c.Centre;
        HysteresisStage();
        EXPECT_EQ(ImagePlane[2][2], c.Expected)
            << c.Centre << " with 81 at " << c.StrongX << "," << c.StrongY;
    }
}

TEST_F(EdgeStagesTest, HysteresisOverwritesInsideATwoCellFrame) {
    MakePlanes(7, 6);
    FillPlanes(17, 100, 0.0F);
    HysteresisStage();
    for (std::uint32_t x = 0; x < 7; ++x) {
        for (std::uint32_t y = 0; y < 6; ++y) {
            const bool interior = x >= 2 && x <= 4 && y >= 2 && y <= 3;
            EXPECT_EQ(ImagePlane[x][y], interior ? 0 : 17) << x << "," << y;
        }
    }
}

TEST_F(EdgeStagesTest, PlanesTooSmallForAStageOrReleasedAreLeftAlone) {
    struct Case {
        void (*Stage)();
        std::uint32_t Width, Height;
    };
    const Case cases[] = {
        {GradientStage, 0, 0},
        {GradientStage, 2, 9},
        {GradientStage, 9, 2},
        {NonMaximumSuppressionStage, 1, 1},
        {NonMaximumSuppressionStage, 2, 9},
        {NonMaximumSuppressionStage, 9, 2},
        {HysteresisStage, 1, 1},
        {HysteresisStage, 4, 9},
        {HysteresisStage, 9, 4},
    };
    for (const Case& c : cases) {
        // Any visit would change a cell: the gradient of a flat image is 0, the other stages
        // write 0 or 255.
        MakePlanes(c.Width, c.Height);
        FillPlanes(17, -5, 0.0F);
        c.Stage();
        for (std::uint32_t x = 0; x < c.Width; ++x) {
            for (std::uint32_t y = 0; y < c.Height; ++y) {
                ASSERT_EQ(ImagePlane[x][y], 17) << c.Width << "x" << c.Height;
                ASSERT_EQ(MagnitudePlane[x][y], -5) << c.Width << "x" << c.Height;
            }
        }
    }
    // After a release the sizes of the last load stay, but the planes are gone.
    for (void (*stage)() : {GradientStage, NonMaximumSuppressionStage, HysteresisStage}) {
        MakePlanes(6, 6);
        ReleasePlanes();
        stage();
    }
}

TEST_F(EdgeStagesTest, StagesInOrderTurnAStepIntoAnEdgeMap) {
    // Four bright columns, then three dark ones: magnitude 1020 in columns 3 and 4.
    MakePlanes(7, 7);
    for (std::uint32_t x = 0; x < 4; ++x) {
        for (std::uint32_t y = 0; y < 7; ++y) {
            ImagePlane[x][y] = 255;
        }
    }
    const auto image = Snapshot();
    GradientStage();
    NonMaximumSuppressionStage();
    HysteresisStage();
    for (std::uint32_t x = 0; x < 7; ++x) {
        for (std::uint32_t y = 0; y < 7; ++y) {
            const bool frame = x == 0 || x == 6 || y == 0 || y == 6;
            const bool ring = !frame && (x == 1 || x == 5 || y == 1 || y == 5);
            // The frame is never visited; the ring is suppression's (the two-cell-wide ridge
            // ties), the rest hysteresis'.
            const std::int32_t expected = frame ? image[x][y] : ring || x == 2 ? 255 : 0;
            EXPECT_EQ(ImagePlane[x][y], expected) << x << "," << y;
        }
    }
}
