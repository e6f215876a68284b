// Every path of the kernel table, by name: those this processor runs are held to the plain forms
// of their block transposes, gray row encoders, channel reversals, scaling gathers and edge map
// kernels (the blur's step and the luma are held to theirs by the equivalence tests, which walk
// the paths), those it does not are skipped, saying why.
#include "bitmap_image.hpp"
#include "bmp_writer.hpp"
#include "edge_classes.hpp"
#include "kernels.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <numeric>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace dorvane {
namespace {

class VectorPath : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        for (const vectors::Path& path : vectors::Paths()) {
            if (path.Name == GetParam() && path.Table == nullptr) {
                GTEST_SKIP() << GetParam() << " does not run here: " << path.Absence;
            }
            if (path.Name == GetParam()) {
                Kernels = path.Table;
            }
        }
        ASSERT_NE(Kernels, nullptr) << "no path " << GetParam();
        ASSERT_EQ(Kernels->Name, GetParam());
    }

    const vectors::Kernels* Kernels = nullptr;
};

TEST_P(VectorPath, TransposesBlocksOfSixteenBySixteen) {
    std::mt19937 random(5);
    // Runs of odd strides from odd places, so that none is aligned.
    constexpr std::ptrdiff_t InStride = 37;
    constexpr std::ptrdiff_t OutStride = 41;
    std::vector<std::uint8_t> from(16 * InStride + 3);
    std::vector<std::uint8_t> to(16 * OutStride + 5);
    for (int round = 0; round < 20; ++round) {
        for (std::uint8_t& byte : from) {
            byte = static_cast<std::uint8_t>(random());
        }
        const std::uint8_t* in = from.data() + 3;
        std::uint8_t* out = to.data() + 5;
        Kernels->Transpose(in, InStride, OutStride, out);
        for (std::ptrdiff_t i = 0; i < 16; ++i) {
            for (std::ptrdiff_t j = 0; j < 16; ++j) {
                ASSERT_EQ(out[i * OutStride + j], in[j * InStride + i])
                    << "round " << round << ", " << i << "," << j;
            }
        }
    }
}

// As the codec's GrayRowEncoder, at every width up to a few vectors' worth and from unaligned
// grays, touching nothing after the row.
TEST_P(VectorPath, EncodesGrayRowsAsTheCodec) {
    std::mt19937 random(9);
    for (const std::int32_t depth : {24, 32}) {
        BitmapImage format;
        ASSERT_TRUE(format.ChangeBitDepth(depth));
        const GrayRowEncoder codec(format);
        const auto pixelBytes = static_cast<std::size_t>(depth / 8);
        for (std::size_t width = 0; width <= 100; ++width) {
            std::vector<std::uint8_t> grays(width + 3);
            for (std::uint8_t& gray : grays) {
                gray = static_cast<std::uint8_t>(random());
            }
            std::vector<std::uint8_t> expected(pixelBytes * width + 8, 0xA5);
            std::vector<std::uint8_t> actual(expected.size(), 0xA5);
            codec(grays.data() + 3, static_cast<std::int32_t>(width), expected.data());
            Kernels->EncodeGrays(grays.data() + 3, width, pixelBytes, actual.data());
            ASSERT_EQ(actual, expected) << "depth " << depth << ", width " << width;
        }
    }
}

// Every pair of pixel sizes, at every count up to a few vectors' worth and at a photo's row, from
// the last bytes of the input (so that a sanitizer sees a read past them) into a row followed by
// bytes that must stay as they were.
TEST_P(VectorPath, ReversesChannelsOfEveryCount) {
    std::mt19937 random(13);
    std::vector<std::size_t> counts(71);
    std::iota(counts.begin(), counts.end(), 0);
    counts.push_back(4001);
    for (const auto& [inBytes, outBytes] :
         {std::pair<std::size_t, std::size_t>{3, 3}, {4, 3}, {3, 4}}) {
        for (const std::size_t count : counts) {
            std::vector<std::uint8_t> in(inBytes * count + 1);
            for (std::uint8_t& byte : in) {
                byte = static_cast<std::uint8_t>(random());
            }
            const std::uint8_t* pixels = in.data() + 1;
            std::vector<std::uint8_t> expected(outBytes * count + 16, 0xA5);
            for (std::size_t i = 0; i < count; ++i) {
                for (std::size_t c = 0; c < outBytes; ++c) {
                    expected[outBytes * i + c] = c < 3 ? pixels[inBytes * i + 2 - c] : 0;
                }
            }
            std::vector<std::uint8_t> actual(expected.size(), 0xA5);
            Kernels->ReverseChannels(pixels, inBytes, count, outBytes, actual.data());
            ASSERT_EQ(actual, expected) << inBytes << " to " << outBytes << " bytes, " << count;
        }
    }
}

// Every group count up to a few vectors' worth, at both pixel sizes, picks anywhere in their
// windows, the furthest window ending where the row does (so that a sanitizer sees a read past it),
// into runs followed by bytes that must stay as they were.
TEST_P(VectorPath, GathersThePickedBytesOfEveryGroup) {
    std::mt19937 random(21);
    for (const std::size_t step : {std::size_t{3}, std::size_t{4}}) {
        for (std::size_t groups = 0; groups <= 20; ++groups) {
            std::vector<std::uint32_t> starts(groups);
            std::vector<std::uint8_t> picks(16 * groups);
            for (std::size_t g = 0; g < groups; ++g) {
                starts[g] = static_cast<std::uint32_t>(5 * g + random() % 7);
                for (std::size_t b = 0; b < 16; ++b) {
                    picks[16 * g + b] = static_cast<std::uint8_t>(random() % (32 - step));
                }
            }
            const std::size_t length = groups == 0 ? 0 : *std::ranges::max_element(starts) + 32;
            std::vector<std::uint8_t> row(length);
            for (std::uint8_t& byte : row) {
                byte = static_cast<std::uint8_t>(random());
            }
            std::array<std::vector<std::uint8_t>, 2> expected;
            expected.fill(std::vector<std::uint8_t>(12 * groups + 16, 0xA5));
            for (std::size_t g = 0; g < groups; ++g) {
                for (std::size_t b = 0; b < 12; ++b) {
                    const std::size_t at = starts[g] + picks[16 * g + b];
                    expected[0][12 * g + b] = row[at];
                    expected[1][12 * g + b] = row[at + step];
                }
            }
            std::array<std::vector<std::uint8_t>, 2> actual;
            actual.fill(std::vector<std::uint8_t>(expected[0].size(), 0xA5));
            Kernels->GatherColumns(row.data(), row.data(), starts.data(), picks.data(), step,
                                   groups, actual[0].data(), actual[1].data());
            ASSERT_EQ(actual, expected) << step << " bytes a pixel, " << groups << " groups";
        }
    }
}

// Columns of every count up to a few vectors' worth, around the plain loops' chunks and of a
// photo's height, their cells around the thresholds, each read from its own block that ends where
// the kernel's reading must (so that a sanitizer sees a read past it), into a run followed by
// bytes that must stay as they were.
TEST_P(VectorPath, ClassifiesAndMapsColumnsOfEveryCount) {
    std::mt19937 random(17);
    std::vector<std::size_t> counts(71);
    std::iota(counts.begin(), counts.end(), 0);
    // Either side of the plain loops' chunks of 256 rows, and a photo's height.
    counts.insert(counts.end(), {255, 256, 257, 3001});
    const auto cell = [&](std::size_t i, std::uint32_t range) {
        return static_cast<std::uint8_t>(i * 3 % 128 + random() % range);
    };
    for (const std::size_t count : counts) {
        // Grays one row above and below the cells.
        std::vector<std::vector<std::uint8_t>> grays(3, std::vector<std::uint8_t>(count + 2));
        for (std::size_t i = 0; i < count + 2; ++i) {
            for (std::size_t a = 0; a < 3; ++a) {
                grays[a][i] = cell(i + 40 * a, 30);
            }
        }
        const auto gray = [&](std::size_t a, std::size_t i) { return std::int32_t{grays[a][i]}; };
        std::vector<std::uint8_t> expected(count + 16, 0xA5);
        for (std::size_t i = 0; i < count; ++i) {
            const std::int32_t gc = (gray(0, i) + 2 * gray(0, i + 1) + gray(0, i + 2)) -
                                    (gray(2, i) + 2 * gray(2, i + 1) + gray(2, i + 2));
            const std::int32_t gr = (gray(0, i + 2) + 2 * gray(1, i + 2) + gray(2, i + 2)) -
                                    (gray(0, i) + 2 * gray(1, i) + gray(2, i));
            expected[i] =
                vectors::EdgeClassOf(static_cast<std::int16_t>(gc), static_cast<std::int16_t>(gr));
        }
        std::vector<std::uint8_t> classes(expected.size(), 0xA5);
        Kernels->EdgeClasses({grays[0].data() + 1, grays[1].data() + 1, grays[2].data() + 1}, count,
                             classes.data());
        ASSERT_EQ(classes, expected) << "classes, " << count;

        // Classes two rows above and below the cells, strong ones rare, as beside an edge.
        std::vector<std::vector<std::uint8_t>> around(5, std::vector<std::uint8_t>(count + 4));
        for (auto& column : around) {
            for (std::uint8_t& bits : column) {
                bits = static_cast<std::uint8_t>(random() % 6 * 2 + (random() % 9 == 0 ? 1 : 0));
            }
        }
        std::ranges::fill(expected, 0xA5);
        for (std::size_t i = 0; i < count; ++i) {
            bool near = false;
            bool far = false;
            for (std::size_t a = 0; a < 5; ++a) {
                for (std::size_t b = 0; b < 5; ++b) {
                    const bool strong = (around[a][i + b] & vectors::StrongClass) != 0;
                    far = far || strong;
                    near = near || (strong && a >= 1 && a <= 3 && b >= 1 && b <= 3);
                }
            }
            const std::uint8_t centre = around[2][i + 2];
            const bool edge = ((centre & vectors::NearClass) != 0 && near) ||
                              ((centre & vectors::FarClass) != 0 && far);
            expected[i] = edge ? 0 : 255;
        }
        std::vector<std::uint8_t> map(expected.size(), 0xA5);
        Kernels->EdgeMap({around[0].data() + 2, around[1].data() + 2, around[2].data() + 2,
                          around[3].data() + 2, around[4].data() + 2},
                         count, map.data());
        ASSERT_EQ(map, expected) << "map, " << count;
    }
}

// The paths in the order the benchmarks number them, each running or saying why not: plain
// everywhere, the 128-bit path of this machine's architecture, the wider ones where the processor
// has them (AVX-512 only with AVX2).
TEST(VectorPaths, ListsEveryPathInOrderRunningOrSayingWhyNot) {
#if defined(__x86_64__)
    constexpr bool X86 = true;
#else
    constexpr bool X86 = false;
#endif
#if defined(__aarch64__)
    constexpr bool Arm = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;
#else
    constexpr bool Arm = false;
#endif
#if defined(__wasm_simd128__)
    constexpr bool Wasm = true;
#else
    constexpr bool Wasm = false;
#endif
    struct Case {
        const char* Name;
        bool Built;
        const char* Elsewhere;
        const char* Lacking;
    };
    const std::vector<Case> cases{
        {"plain", true, "", ""},
        {"sse2", X86, "an x86-64 path", ""},
        {"neon", Arm, "an AArch64 path", ""},
        {"avx2", X86, "an x86-64 path", "this processor has no AVX2 and FMA"},
        {"avx512", X86, "an x86-64 path", "this processor has no AVX-512 BW and VL"},
        {"simd128", Wasm, "a WebAssembly path", ""},
    };
    const auto paths = vectors::Paths();
    ASSERT_EQ(paths.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        const vectors::Path& path = paths[i];
        EXPECT_STREQ(path.Name, c.Name);
        if (!c.Built) {
            EXPECT_EQ(path.Table, nullptr) << c.Name;
            EXPECT_STREQ(path.Absence, c.Elsewhere) << c.Name;
        } else if (path.Table == nullptr) {
            EXPECT_STREQ(path.Absence, c.Lacking) << c.Name;
        } else {
            EXPECT_STREQ(path.Table->Name, c.Name);
        }
    }
    EXPECT_TRUE(paths[4].Table == nullptr || paths[3].Table != nullptr);
}

std::vector<std::string> PathNames() {
    std::vector<std::string> names;
    for (const vectors::Path& path : vectors::Paths()) {
        names.emplace_back(path.Name);
    }
    return names;
}

INSTANTIATE_TEST_SUITE_P(Paths, VectorPath, ::testing::ValuesIn(PathNames()),
                         [](const ::testing::TestParamInfo<std::string>& path) {
                             return path.param;
                         });

} // namespace
} // namespace dorvane
