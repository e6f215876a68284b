// The plain path: every kernel a cell, a pixel or a byte at a time, as the stages define them.
// Every processor runs it, and the tests hold the vector paths to it.
#include "blur_arithmetic.hpp"
#include "edge_classes.hpp"
#include "luma.hpp"
#include "path_kernels.hpp"
#include "stage_sums.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

namespace dorvane::vectors {

const std::array<std::uint8_t, 256>& GrayLumas() {
    static const std::array<std::uint8_t, 256> lumas = [] {
        std::array<std::uint8_t, 256> table{};
        for (std::size_t v = 0; v < table.size(); ++v) {
            const auto value = static_cast<std::uint8_t>(v);
            table[v] = static_cast<std::uint8_t>(dorvane::Luma(value, value, value));
        }
        return table;
    }();
    return lumas;
}

namespace plain {
namespace {

// Integer window sum of lane k at the step of row.
std::uint32_t WindowSum(const std::uint8_t* row, std::int64_t k) {
    std::uint32_t sum = 0;
    for (std::size_t a = 0; a < 5; ++a) {
        for (std::size_t b = 0; b < 5; ++b) {
            sum += blur::Weight(a, b) *
                   row[Tap(static_cast<std::int64_t>(a), static_cast<std::int64_t>(b)) + k];
        }
    }
    return sum;
}

} // namespace

std::uint8_t ChainCell(const std::uint8_t* row, std::int64_t k) {
    const auto cell = [row, k](std::size_t a, std::size_t b) {
        return row[Tap(static_cast<std::int64_t>(a), static_cast<std::int64_t>(b)) + k];
    };
    bool uniform = true;
    for (std::size_t a = 0; a < 5; ++a) {
        for (std::size_t b = 0; b < 5; ++b) {
            uniform = uniform && cell(a, b) == cell(2, 2);
        }
    }
    return uniform ? blur::UniformResults[cell(2, 2)]
                   : static_cast<std::uint8_t>(blur::Chain(cell));
}

void BlurStep(std::uint64_t visited, std::uint8_t* row) {
    for (std::int64_t k = 0; k < Lanes; ++k) {
        if (((visited >> k) & 1U) != 0) {
            const std::uint32_t sum = WindowSum(row, k);
            row[k + 2] = blur::ChainDecides(sum) ? ChainCell(row, k)
                                                 : static_cast<std::uint8_t>(sum / blur::KernelSum);
        }
    }
}

std::uint8_t LumaOf(std::uint8_t blue, std::uint8_t green, std::uint8_t red) {
    if (blue == green && green == red) {
        return GrayLumas()[green];
    }
    return static_cast<std::uint8_t>(dorvane::Luma(red, green, blue));
}

void Luma(const std::uint8_t* pixels, std::size_t pixelBytes, std::size_t count,
          std::uint8_t* gray) {
    for (std::size_t i = 0; i < count; ++i, pixels += pixelBytes) {
        gray[i] = static_cast<std::uint8_t>(dorvane::Luma(pixels[2], pixels[1], pixels[0]));
    }
}

void EncodeGrays(const std::uint8_t* gray, std::size_t count, std::size_t pixelBytes,
                 std::uint8_t* out) {
    for (std::size_t i = 0; i < count; ++i, out += pixelBytes) {
        std::fill_n(out, 3, gray[i]);
        if (pixelBytes == 4) {
            out[3] = 0;
        }
    }
}

void ReverseChannels(const std::uint8_t* in, std::size_t inBytes, std::size_t count,
                     std::size_t outBytes, std::uint8_t* out) {
    for (std::size_t i = 0; i < count; ++i, in += inBytes, out += outBytes) {
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
        if (outBytes == 4) {
            out[3] = 0;
        }
    }
}

bool StageSums(const std::array<const std::int32_t*, 5>& columns, std::size_t count,
               std::uint32_t* sums) {
    return StageSumsOf(columns, count, sums);
}

void Transpose(const std::uint8_t* in, std::ptrdiff_t inStride, std::ptrdiff_t outStride,
               std::uint8_t* out) {
    for (std::ptrdiff_t i = 0; i < 16; ++i) {
        for (std::ptrdiff_t j = 0; j < 16; ++j) {
            out[i * outStride + j] = in[j * inStride + i];
        }
    }
}

void ScaleRow(const ScaleNeighbours& neighbours, const double* fx, double fy, std::size_t blue,
              std::size_t count, std::uint8_t* out) {
    // The last group may hold fewer pixels than four.
    for (std::size_t k = 0; k < (count + 11) / 12 * 12; ++k) {
        const GatheredByte at = GatheredAt(k, blue);
        if (3 * at.Pixel >= count) {
            continue;
        }
        const double w11 = fx[k] * fy;
        const double w00 = ((1.0 - fx[k]) - fy) + w11;
        const double w01 = fy - w11;
        const double w10 = fx[k] - w11;
        const double p00 = neighbours.Upper0[k];
        const double p10 = neighbours.Upper1[k];
        const double p01 = neighbours.Lower0[k];
        const double p11 = neighbours.Lower1[k];
        const double sum = at.Blue ? ((p11 * w11 + p00 * w00) + p10 * w10) + p01 * w01
                                   : ((p10 * w10 + p01 * w01) + p11 * w11) + p00 * w00;
        out[3 * at.Pixel + at.Channel] =
            static_cast<std::uint8_t>(static_cast<std::uint32_t>(sum) & 0xFFU);
    }
}

void GatherColumns(const std::uint8_t* row, const std::uint8_t* /*ahead*/,
                   const std::uint32_t* starts, const std::uint8_t* picks, std::size_t step,
                   std::size_t groups, std::uint8_t* at0, std::uint8_t* at1) {
    for (std::size_t g = 0; g < groups; ++g) {
        for (std::size_t b = 0; b < 12; ++b) {
            const std::uint8_t* byte = row + starts[g] + picks[16 * g + b];
            at0[12 * g + b] = byte[0];
            at1[12 * g + b] = byte[step];
        }
    }
}

void EdgeClasses(const std::array<const std::uint8_t*, 3>& columns, std::size_t count,
                 std::uint8_t* classes) {
    EdgeClassesOf(columns, count, classes);
}

void EdgeMap(const std::array<const std::uint8_t*, 5>& classes, std::size_t count,
             std::uint8_t* map) {
    EdgeMapOf(classes, count, map);
}

} // namespace plain
} // namespace dorvane::vectors
