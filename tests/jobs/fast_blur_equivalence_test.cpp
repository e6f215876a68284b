#include "array_jobs.hpp"
#include "byte_blur.hpp"
#include "gaussian_blur.hpp"
#include "literal_blur.hpp"
#include "plane_fixture.hpp"
#include "vector_paths.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

using namespace dorvane;
using dorvane::testing::ForEachPath;
using dorvane::testing::LiteralGaussianBlur;
using dorvane::testing::PlaneValues;

namespace {

template <typename Draw>
PlaneValues MakeValues(std::uint32_t width, std::uint32_t height, Draw draw) {
    PlaneValues values(width, std::vector<std::int32_t>(height));
    for (auto& column : values) {
        for (auto& cell : column) {
            cell = draw();
        }
    }
    return values;
}

std::int32_t Draw(std::mt19937& random, std::int32_t low, std::int32_t high) {
    return std::uniform_int_distribution<std::int32_t>(low, high)(random);
}

class FastBlurTest : public dorvane::testing::PlaneTest {
  protected:
    // Blurs the plane with the literal stage, then on every path with the fast one at each
    // thread count and, when it holds bytes, with the byte blur, and names the first cell where
    // they differ.
    static ::testing::AssertionResult
    MatchesLiteral(const PlaneValues& plane, std::initializer_list<std::uint32_t> threads = {1}) {
        Load(plane);
        LiteralGaussianBlur();
        const PlaneValues expected = Snapshot();
        ::testing::AssertionResult matches = ::testing::AssertionSuccess();
        ForEachPath([&](const vectors::Kernels& kernels) {
            const std::string path = kernels.Name;
            for (const std::uint32_t count : threads) {
                Load(plane);
                GaussianBlurStage(count);
                if (matches) {
                    matches =
                        Compare(Snapshot(), expected, std::to_string(count) + " threads, " + path);
                }
            }
            if (matches && HoldsBytes(plane)) {
                matches = Compare(BlurBytes(plane), expected, path + " bytes");
            }
        });
        if (!matches || !HoldsBytes(plane)) {
            return matches;
        }
        if (auto result = Compare(BlurArray(plane), expected, "row-major array"); !result) {
            return result;
        }
        return ::testing::AssertionSuccess();
    }

    static ::testing::AssertionResult Compare(const PlaneValues& actual,
                                              const PlaneValues& expected, const std::string& how) {
        for (std::size_t x = 0; x < expected.size(); ++x) {
            for (std::size_t y = 0; y < expected[x].size(); ++y) {
                if (actual[x][y] != expected[x][y]) {
                    return ::testing::AssertionFailure()
                           << expected.size() << "x" << expected[x].size() << " plane, " << how
                           << ": cell (" << x << ", " << y << ") is " << actual[x][y]
                           << ", literal " << expected[x][y];
                }
            }
        }
        return ::testing::AssertionSuccess();
    }

    static bool HoldsBytes(const PlaneValues& plane) {
        return std::ranges::all_of(plane, [](const std::vector<std::int32_t>& column) {
            return std::ranges::all_of(column, [](std::int32_t v) { return v >= 0 && v <= 255; });
        });
    }

    // The plane as a byte picture, blurred by the path in use, and back.
    static PlaneValues BlurBytes(const PlaneValues& plane, std::uint32_t threads = 1) {
        const auto width = static_cast<std::uint32_t>(plane.size());
        const auto height = static_cast<std::uint32_t>(plane.front().size());
        std::vector<std::uint8_t> pixels(std::size_t{width} * height);
        const GrayColumns tiles{pixels.data(), width, height};
        for (std::uint32_t x = 0; x < width; ++x) {
            for (std::uint32_t y = 0; y < height; ++y) {
                tiles.Column(x)[y] = static_cast<std::uint8_t>(plane[x][y]);
            }
        }
        BlurGrayColumns(tiles, threads);
        PlaneValues result(width, std::vector<std::int32_t>(height));
        for (std::uint32_t x = 0; x < width; ++x) {
            for (std::uint32_t y = 0; y < height; ++y) {
                result[x][y] = tiles.Column(x)[y];
            }
        }
        return result;
    }

    // The plane as an array of rows, as a caller holds it, blurred into another array.
    static PlaneValues BlurArray(const PlaneValues& plane, std::uint32_t threads = 0) {
        const auto width = static_cast<std::uint32_t>(plane.size());
        const auto height = static_cast<std::uint32_t>(plane.front().size());
        std::vector<std::uint8_t> rows(std::size_t{width} * height);
        std::vector<std::uint8_t> blurred(rows.size());
        for (std::uint32_t x = 0; x < width; ++x) {
            for (std::uint32_t y = 0; y < height; ++y) {
                rows[std::size_t{y} * width + x] = static_cast<std::uint8_t>(plane[x][y]);
            }
        }
        FileFailure failure;
        EXPECT_TRUE(
            BlurGrayArray(rows.data(), GrayArray{blurred.data(), width, height}, threads, failure))
            << failure.Reason();
        PlaneValues result(width, std::vector<std::int32_t>(height));
        for (std::uint32_t x = 0; x < width; ++x) {
            for (std::uint32_t y = 0; y < height; ++y) {
                result[x][y] = blurred[std::size_t{y} * width + x];
            }
        }
        return result;
    }

    static void Load(const PlaneValues& plane) {
        const auto width = static_cast<std::uint32_t>(plane.size());
        const auto height = static_cast<std::uint32_t>(plane.front().size());
        MakePlanes(width, height);
        for (std::uint32_t x = 0; x < width; ++x) {
            for (std::uint32_t y = 0; y < height; ++y) {
                ImagePlane[x][y] = plane[x][y];
            }
        }
    }
};

TEST_F(FastBlurTest, MatchesAtEverySizeUpToTwelve) {
    std::mt19937 random(7);
    for (std::uint32_t width = 1; width <= 12; ++width) {
        for (std::uint32_t height = 1; height <= 12; ++height) {
            const std::int32_t low = Draw(random, 0, 202);
            const std::int32_t uniform = Draw(random, 0, 255);
            const PlaneValues planes[] = {
                MakeValues(width, height, [&] { return Draw(random, 0, 255); }),
                MakeValues(width, height, [&] { return Draw(random, 0, 1) * 255; }),
                MakeValues(width, height, [&] { return low + Draw(random, 0, 1) * 53; }),
                MakeValues(width, height, [&] { return uniform; }),
            };
            for (const PlaneValues& plane : planes) {
                EXPECT_TRUE(MatchesLiteral(plane));
            }
        }
    }
}

// Every window of a uniform plane sums to a multiple of 159, where the float chain alone decides
// between the quotient and one less (a plane of 1 loses its interior, one of 100 keeps it).
TEST_F(FastBlurTest, MatchesOnUniformPlanesOfEveryValue) {
    for (std::int32_t value = 0; value <= 255; ++value) {
        EXPECT_TRUE(MatchesLiteral(MakeValues(9, 7, [&] { return value; })));
    }
}

// Two levels that differ by a multiple of 3 or of 53 give many window sums divisible by 159.
TEST_F(FastBlurTest, MatchesOnTwoLevelPlanes) {
    std::mt19937 random(11);
    for (std::int32_t low = 0; low <= 255; ++low) {
        for (const std::int32_t step : {1, 3, 53, 106, 159, 212}) {
            if (low + step > 255) {
                continue;
            }
            const auto plane = MakeValues(10, 9, [&] { return low + Draw(random, 0, 1) * step; });
            EXPECT_TRUE(MatchesLiteral(plane)) << "levels " << low << " and " << low + step;
        }
    }
}

TEST_F(FastBlurTest, MatchesOnLargerPlanesWhateverTheThreadCount) {
    std::mt19937 random(13);
    const auto noise = [&] { return Draw(random, 0, 255); };
    EXPECT_TRUE(MatchesLiteral(MakeValues(64, 48, noise), {1, 2, 3, 8}));
    // A smooth ramp with a little noise, as photographs have.
    std::int32_t cell = 0;
    const auto ramp = [&] { return (cell++ / 7) % 200 + Draw(random, 0, 3); };
    EXPECT_TRUE(MatchesLiteral(MakeValues(64, 48, ramp), {1, 2, 3}));
    // Columns taller than one block, so that threads wait for one another part-way down; the
    // widths end the last run of columns at each of its places.
    for (const std::uint32_t width : {21U, 22U, 23U, 24U}) {
        EXPECT_TRUE(MatchesLiteral(MakeValues(width, 700, noise), {1, 2, 3, 8})) << width;
    }
    const auto flat = [&] { return 120 + Draw(random, 0, 1) * 53; };
    EXPECT_TRUE(MatchesLiteral(MakeValues(23, 700, flat), {2, 3}));
}

TEST_F(FastBlurTest, MatchesWithTheThreadsItChoosesOnABigPlane) {
    std::mt19937 random(17);
    const PlaneValues plane = MakeValues(1100, 500, [&] { return Draw(random, 0, 255); });
    Load(plane);
    LiteralGaussianBlur();
    const PlaneValues expected = Snapshot();
    // Many strips of the byte blur, the last one partly beyond the picture, taken by threads
    // in turn; and the same through an array of rows.
    ForEachPath([&](const vectors::Kernels& kernels) {
        Load(plane);
        GaussianBlurStage();
        EXPECT_EQ(Snapshot(), expected) << kernels.Name;
        for (const std::uint32_t threads : {1U, 2U, 3U}) {
            EXPECT_TRUE(Compare(BlurBytes(plane, threads), expected,
                                std::to_string(threads) + " threads, " + kernels.Name + " bytes"));
            // The rows move into columns and back on the threads too, in runs of rows that end
            // short of the picture's last rows and columns.
            EXPECT_TRUE(Compare(BlurArray(plane, threads), expected,
                                std::to_string(threads) + " threads, " + kernels.Name + " array"));
        }
    });
}

// Nothing the pipeline loads, but the stage must still give the literal result.
TEST_F(FastBlurTest, MatchesOnPlanesHoldingValuesOutsideTheGrayRange) {
    std::mt19937 random(19);
    EXPECT_TRUE(MatchesLiteral(MakeValues(40, 30, [&] { return Draw(random, -2000, 2000); })));
    struct Cell {
        std::size_t X, Y;
    };
    // A corner of the frame, the middle of a column, the last cell, and a cell above the first
    // visited one that no other window of its block reads.
    for (const Cell cell : {Cell{0, 0}, Cell{9, 300}, Cell{19, 599}, Cell{2, 1}}) {
        for (const std::int32_t odd : {-1, 256, 100000, -100000}) {
            PlaneValues plane = MakeValues(20, 600, [&] { return Draw(random, 0, 255); });
            plane[cell.X][cell.Y] = odd;
            EXPECT_TRUE(MatchesLiteral(plane, {1, 2})) << odd << " at " << cell.X << "," << cell.Y;
        }
    }
}

} // namespace
