#include "array_jobs.hpp"
#include "edge_classes.hpp"
#include "edge_job.hpp"
#include "edge_map.hpp"
#include "gradient_stage.hpp"
#include "hysteresis.hpp"
#include "non_maximum_suppression.hpp"
#include "plane_fixture.hpp"
#include "vector_paths.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

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

namespace {

using dorvane::testing::ForEachPath;
using dorvane::testing::PlaneValues;

// The class of a magnitude as hysteresis reads it.
std::uint8_t ClassOfMagnitude(std::int32_t m) {
    const bool strong = m > HysteresisHigh;
    const bool near = m >= HysteresisLow;
    const bool far = m > HysteresisLow && m < HysteresisHigh;
    return static_cast<std::uint8_t>((strong ? vectors::StrongClass : 0) |
                                     (near ? vectors::NearClass : 0) |
                                     (far ? vectors::FarClass : 0));
}

} // namespace

// Every gradient of a byte picture: each 3 x 3 sum of grays weighted 1, 2, 1 lies in 0..1020.
// The magnitude as GradientStage takes it (squares and sum in float, root in double rounded to
// float, truncated) falls in the class that the clamped 16-bit squares give.
TEST(EdgeClasses, TheClampedSquaresGiveTheClassOfEveryGradient) {
    constexpr std::int32_t Most = 1020;
    for (std::int32_t gc = -Most; gc <= Most; ++gc) {
        for (std::int32_t gr = -Most; gr <= Most; ++gr) {
            const auto c = static_cast<float>(gc);
            const auto r = static_cast<float>(gr);
            const float squares = r * r + c * c;
            const auto magnitude = static_cast<float>(std::sqrt(static_cast<double>(squares)));
            const auto m = static_cast<std::int32_t>(magnitude);
            ASSERT_EQ(
                vectors::EdgeClassOf(static_cast<std::int16_t>(gc), static_cast<std::int16_t>(gr)),
                ClassOfMagnitude(m))
                << gc << ", " << gr;
        }
    }
}

namespace {

std::int32_t Draw(std::mt19937& random, std::int32_t low, std::int32_t high) {
    return std::uniform_int_distribution<std::int32_t>(low, high)(random);
}

template <typename Cell>
PlaneValues MakeValues(std::uint32_t width, std::uint32_t height, Cell cell) {
    PlaneValues values(width, std::vector<std::int32_t>(height));
    for (std::uint32_t x = 0; x < width; ++x) {
        for (std::uint32_t y = 0; y < height; ++y) {
            values[x][y] = cell(x, y);
        }
    }
    return values;
}

class EdgeMapTest : public dorvane::testing::PlaneTest {
  protected:
    // The literal stages on the plane: with the blur first as the edge job runs them, or without
    // it. The frame of two cells is background, as the job leaves it.
    static PlaneValues LiteralMap(const PlaneValues& plane, bool blur) {
        Load(plane);
        if (blur) {
            DetectEdgesInPlanes(1);
            return Snapshot();
        }
        GradientStage();
        NonMaximumSuppressionStage();
        HysteresisStage();
        PlaneValues map = Snapshot();
        for (std::uint32_t x = 0; x < PlaneWidth; ++x) {
            for (std::uint32_t y = 0; y < PlaneHeight; ++y) {
                if (x < 2 || y < 2 || x + 2 >= PlaneWidth || y + 2 >= PlaneHeight) {
                    map[x][y] = BackgroundCell;
                }
            }
        }
        return map;
    }

    // The plane's bytes in columns, mapped by the path in use on threads threads.
    static PlaneValues ColumnsMap(const PlaneValues& plane, bool blur, std::uint32_t threads) {
        const auto width = static_cast<std::uint32_t>(plane.size());
        const auto height = static_cast<std::uint32_t>(plane.front().size());
        std::vector<std::uint8_t> pixels(std::size_t{width} * height);
        const GrayColumns columns{pixels.data(), width, height};
        for (std::uint32_t x = 0; x < width; ++x) {
            std::ranges::copy(plane[x], columns.Column(x));
        }
        if (blur) {
            BlurGrayColumns(columns, threads);
        }
        EXPECT_TRUE(EdgeMapColumns(columns, threads));
        return MakeValues(width, height,
                          [&](std::uint32_t x, std::uint32_t y) { return columns.Column(x)[y]; });
    }

    // The plane as an array of rows, as a caller holds it, mapped into another array.
    static PlaneValues ArrayMap(const PlaneValues& plane, std::uint32_t threads) {
        const auto width = static_cast<std::uint32_t>(plane.size());
        const auto height = static_cast<std::uint32_t>(plane.front().size());
        std::vector<std::uint8_t> rows(std::size_t{width} * height);
        std::vector<std::uint8_t> map(rows.size());
        for (std::uint32_t x = 0; x < width; ++x) {
            for (std::uint32_t y = 0; y < height; ++y) {
                rows[std::size_t{y} * width + x] = static_cast<std::uint8_t>(plane[x][y]);
            }
        }
        FileFailure failure;
        EXPECT_TRUE(DetectEdgesInGrayArray(rows.data(), GrayArray{map.data(), width, height},
                                           threads, failure))
            << failure.Reason();
        return MakeValues(width, height, [&](std::uint32_t x, std::uint32_t y) {
            return map[std::size_t{y} * width + x];
        });
    }

    // The literal map against the columns' on every path and on 1 and 3 threads, and the
    // array's, naming the first cell that differs.
    static ::testing::AssertionResult MatchesLiteral(const PlaneValues& plane, bool blur) {
        const PlaneValues expected = LiteralMap(plane, blur);
        ::testing::AssertionResult matches = ::testing::AssertionSuccess();
        ForEachPath([&](const vectors::Kernels& kernels) {
            for (const std::uint32_t threads : {1U, 3U}) {
                const std::string how = std::to_string(threads) + " threads, " + kernels.Name;
                if (matches) {
                    matches = Compare(ColumnsMap(plane, blur, threads), expected, how);
                }
                if (matches && blur) {
                    matches = Compare(ArrayMap(plane, threads), expected, how + ", array");
                }
            }
        });
        return matches;
    }

    static ::testing::AssertionResult Compare(const PlaneValues& actual,
                                              const PlaneValues& expected, const std::string& how) {
        for (std::size_t x = 0; x < expected.size(); ++x) {
            for (std::size_t y = 0; y < expected[x].size(); ++y) {
                if (actual[x][y] != expected[x][y]) {
                    return ::testing::AssertionFailure()
                           << expected.size() << "x" << expected[x].size() << " picture, " << how
                           << ": cell (" << x << ", " << y << ") is " << actual[x][y]
                           << ", literal " << expected[x][y];
                }
            }
        }
        return ::testing::AssertionSuccess();
    }

    static void Load(const PlaneValues& plane) {
        MakePlanes(static_cast<std::uint32_t>(plane.size()),
                   static_cast<std::uint32_t>(plane.front().size()));
        for (std::uint32_t x = 0; x < PlaneWidth; ++x) {
            std::ranges::copy(plane[x], ImagePlane[x]);
        }
    }
};

} // namespace

// Pictures too small for hysteresis, the least it visits, and widths on either side of the
// vectors' and of the strips': noise, a photograph's smooth ramps and hard steps.
TEST_F(EdgeMapTest, TheJobsMapIsTheLiteralStagesAtEverySize) {
    std::mt19937 random(23);
    struct Size {
        std::uint32_t Width, Height;
    };
    // The last two: several strips of columns longer than the map's chunks of 256 rows.
    std::vector<Size> sizes = {{1, 1},   {2, 9},   {9, 2},    {4, 100},  {100, 4},
                               {5, 5},   {6, 7},   {7, 6},    {5, 300},  {300, 5},
                               {7, 700}, {700, 7}, {40, 520}, {129, 260}};
    for (const std::uint32_t width :
         {15U, 16U, 17U, 31U, 32U, 33U, 48U, 63U, 64U, 65U, 127U, 129U}) {
        sizes.push_back({width, 9 + width % 7});
        sizes.push_back({width, 70 + width % 13});
        sizes.push_back({9 + width % 5, width});
    }
    for (const Size size : sizes) {
        const PlaneValues noise =
            MakeValues(size.Width, size.Height, [&](auto, auto) { return Draw(random, 0, 255); });
        const PlaneValues photo = MakeValues(size.Width, size.Height, [&](auto x, auto y) {
            const std::int32_t ramp = static_cast<std::int32_t>(3 * x + 2 * y) % 180;
            const bool disc = (x - 20) * (x - 20) + (y - 12) * (y - 12) < 90;
            return (disc ? 255 - ramp / 3 : ramp) + Draw(random, 0, 6);
        });
        EXPECT_TRUE(MatchesLiteral(noise, true)) << "noise";
        EXPECT_TRUE(MatchesLiteral(photo, true)) << "photo";
    }
}

// Without the blur, grays drawn from a narrow range make gradients all around the thresholds:
// the magnitudes 64, 65, 66, 79, 80 and 81 each occur many times.
TEST_F(EdgeMapTest, TheMapIsTheLiteralStagesWhereMagnitudesLieAtTheThresholds) {
    std::mt19937 random(29);
    std::map<std::int32_t, std::size_t> seen;
    for (const std::int32_t range : {12, 16, 20, 24, 28, 32, 36}) {
        for (const std::uint32_t width : {17U, 40U, 66U}) {
            const PlaneValues plane = MakeValues(width, 61, [&](auto x, auto) {
                return static_cast<std::int32_t>(x) * 2 + Draw(random, 0, range);
            });
            EXPECT_TRUE(MatchesLiteral(plane, false)) << "range " << range;
            Load(plane);
            GradientStage();
            for (std::uint32_t x = 1; x + 1 < PlaneWidth; ++x) {
                for (std::uint32_t y = 1; y + 1 < PlaneHeight; ++y) {
                    ++seen[MagnitudePlane[x][y]];
                }
            }
        }
    }
    for (const std::int32_t m : {64, 65, 66, 79, 80, 81}) {
        EXPECT_GT(seen[m], 50U) << m;
    }
}
