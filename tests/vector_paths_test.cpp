// Every path of the kernel table, by name: those this processor runs are held to the plain forms
// of their block transposes, gray row encoders and channel reversals (the blur's step and the luma
// are held to theirs by the equivalence tests, which walk the paths), those it does not are
// skipped, saying why.
#include "bitmap_image.hpp"
#include "bmp_writer.hpp"
#include "vectors/kernels.hpp"

#include <gtest/gtest.h>

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
        Kernels->Transpose(in, InStride, out, OutStride);
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
            Kernels->ReverseChannels(pixels, inBytes, actual.data(), outBytes, count);
            ASSERT_EQ(actual, expected) << inBytes << " to " << outBytes << " bytes, " << count;
        }
    }
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
