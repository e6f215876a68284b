#include "array_jobs.hpp"
#include "gray_planes.hpp"
#include "pixel_rgba.hpp"
#include "vector_paths.hpp"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

using namespace dorvane;
using dorvane::testing::ForEachPath;

TEST(Luma, WeighsGreenRedBlueAndFloors) {
    struct Case {
        std::uint8_t Red, Green, Blue;
        std::int32_t Gray;
    };
    for (const Case& c : {Case{0, 0, 0, 0}, Case{1, 1, 1, 0}, Case{128, 128, 128, 127},
                          Case{255, 255, 255, 255}, Case{255, 0, 0, 76}, Case{0, 255, 0, 149},
                          Case{0, 0, 255, 29}, Case{100, 150, 200, 140}}) {
        EXPECT_EQ(Luma(c.Red, c.Green, c.Blue), c.Gray)
            << int{c.Red} << "," << int{c.Green} << "," << int{c.Blue};
    }
}

TEST(Luma, EveryGrayMapsToItselfOrOneBelow) {
    for (int value = 0; value < 256; ++value) {
        const auto v = static_cast<std::uint8_t>(value);
        const std::int32_t gray = Luma(v, v, v);
        EXPECT_TRUE(gray == value || gray == value - 1) << value;
    }
}

// The rows' vector code against Luma: every colour once (4096 rows of 4096, blue varying along
// the row), runs of each gray that cross the groups of eight, and grays beside a colour that is
// not gray but whose weighted sum 1000 divides as well, and a row of several thousand of them;
// as file rows of 24 and 32 bpp, as pixels and as the red, green and blue bytes of an array
// (depth 3 below, the long row on three threads); on every path.
TEST(Luma, RowsGiveTheLumaOfEachPixel) {
    constexpr std::uint32_t side = 4096;
    const auto weighted = [](const PixelRgba& p) {
        return 587 * p.Green + 299 * p.Red + 114 * p.Blue;
    };
    PixelRgba awkward; // the first colour that is not gray and whose weighted sum 1000 divides
    for (std::uint32_t c = 1; weighted(awkward) % 1000 != 0 || awkward.Red == awkward.Green; ++c) {
        awkward = {static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(c >> 8),
                   static_cast<std::uint8_t>(c >> 16), 0};
    }
    std::vector<std::vector<PixelRgba>> rows(side, std::vector<PixelRgba>(side));
    for (std::uint32_t c = 0; c < side * side; ++c) {
        rows[c / side][c % side] = {static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(c >> 8),
                                    static_cast<std::uint8_t>(c >> 16), 0};
    }
    std::vector<PixelRgba>& grays = rows.emplace_back();
    for (std::uint32_t v = 0; v < 256; ++v) {
        const auto value = static_cast<std::uint8_t>(v);
        grays.insert(grays.end(), 9, PixelRgba{value, value, value, 0});
        grays.insert(grays.end(), 7, PixelRgba{value, value, value, 0});
        grays.push_back(awkward);
    }
    // A long row, which an array's luma shares among threads in runs of a few thousand pixels.
    std::vector<PixelRgba> longRow;
    for (std::size_t r = 0; r < 3; ++r) {
        longRow.insert(longRow.end(), rows[r].begin(), rows[r].end());
    }
    longRow.insert(longRow.end(), grays.begin(), grays.end());
    rows.push_back(std::move(longRow));
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint8_t> gray;
    ForEachPath([&](const vectors::Kernels& kernels) {
        for (const std::vector<PixelRgba>& row : rows) {
            const auto count = static_cast<std::uint32_t>(row.size());
            gray.resize(count);
            // 0: the plane's row, 3 and -3: an array's pixels red first and blue first.
            for (const std::int32_t depth : {0, 3, -3, 24, 32}) {
                if (depth == 0) {
                    LumaRow(row.data(), gray.data(), count);
                } else if (depth == 3) {
                    bytes.clear();
                    for (const PixelRgba& p : row) {
                        bytes.insert(bytes.end(), {p.Red, p.Green, p.Blue});
                    }
                    LumaOfRgb(bytes.data(), count, gray.data(), count > side ? 3 : 1);
                } else if (depth == -3) {
                    bytes.clear();
                    for (const PixelRgba& p : row) {
                        bytes.insert(bytes.end(), {p.Blue, p.Green, p.Red});
                    }
                    LumaOfBgr(bytes.data(), count, gray.data(), count > side ? 3 : 1);
                } else {
                    bytes.clear();
                    for (const PixelRgba& p : row) {
                        bytes.insert(bytes.end(), {p.Blue, p.Green, p.Red});
                        if (depth == 32) {
                            bytes.push_back(0);
                        }
                    }
                    LumaRowOfFile(bytes.data(), depth, gray.data(), count);
                }
                for (std::uint32_t i = 0; i < count; ++i) {
                    const PixelRgba& p = row[i];
                    if (gray[i] != Luma(p.Red, p.Green, p.Blue)) {
                        FAIL() << kernels.Name << ", depth " << depth << ": " << int{p.Red} << ","
                               << int{p.Green} << "," << int{p.Blue};
                    }
                }
            }
        }
    });
}
