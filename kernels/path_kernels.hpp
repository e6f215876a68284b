#pragma once

// The kernels of each path, as dispatch.cpp puts them into the tables, and what the paths share.
// A vector kernel does what its vectors hold and leaves the rest of a row to the plain one.
#include "kernels.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <tuple>

namespace dorvane::vectors {

namespace plain {
void BlurStep(std::uint64_t visited, std::uint8_t* row);
// The chain's result for lane k of row's step (when ChainDecides its sum).
std::uint8_t ChainCell(const std::uint8_t* row, std::int64_t k);
void Luma(const std::uint8_t* pixels, std::size_t pixelBytes, std::size_t count,
          std::uint8_t* gray);
// The luma of one pixel; grays by GrayLumas.
std::uint8_t LumaOf(std::uint8_t blue, std::uint8_t green, std::uint8_t red);
void EncodeGrays(const std::uint8_t* gray, std::size_t count, std::size_t pixelBytes,
                 std::uint8_t* out);
void ReverseChannels(const std::uint8_t* in, std::size_t inBytes, std::size_t count,
                     std::size_t outBytes, std::uint8_t* out);
bool StageSums(const std::array<const std::int32_t*, 5>& columns, std::size_t count,
               std::uint32_t* sums);
void Transpose(const std::uint8_t* in, std::ptrdiff_t inStride, std::ptrdiff_t outStride,
               std::uint8_t* out);
void ScaleRow(const ScaleNeighbours& neighbours, const double* fx, double fy, std::size_t blue,
              std::size_t count, std::uint8_t* out);
void GatherColumns(const std::uint8_t* row, const std::uint8_t* ahead, const std::uint32_t* starts,
                   const std::uint8_t* picks, std::size_t step, std::size_t groups,
                   std::uint8_t* at0, std::uint8_t* at1);
void EdgeClasses(const std::array<const std::uint8_t*, 3>& columns, std::size_t count,
                 std::uint8_t* classes);
void EdgeMap(const std::array<const std::uint8_t*, 5>& classes, std::size_t count,
             std::uint8_t* map);
} // namespace plain

// A kernel whose vectors do the items they hold and the plain kernel the rest: Body takes the
// kernel's arguments and returns how many items it did, After gives the arguments for the others.
template <auto Body, auto Plain, auto After, class... Arguments>
void VectorsThenPlain(Arguments... arguments) {
    std::apply(Plain, After(Body(arguments...), arguments...));
}

// A kernel's arguments for its items from done on (After above).
namespace after {
inline auto Luma(std::size_t done, const std::uint8_t* pixels, std::size_t pixelBytes,
                 std::size_t count, std::uint8_t* gray) {
    return std::tuple{pixels + pixelBytes * done, pixelBytes, count - done, gray + done};
}
inline auto EncodeGrays(std::size_t done, const std::uint8_t* gray, std::size_t count,
                        std::size_t pixelBytes, std::uint8_t* out) {
    return std::tuple{gray + done, count - done, pixelBytes, out + pixelBytes * done};
}
inline auto ReverseChannels(std::size_t done, const std::uint8_t* in, std::size_t inBytes,
                            std::size_t count, std::size_t outBytes, std::uint8_t* out) {
    return std::tuple{in + inBytes * done, inBytes, count - done, outBytes, out + outBytes * done};
}
// done is a whole number of gathered groups, so the layout goes on as it was.
inline auto ScaleRow(std::size_t done, const ScaleNeighbours& neighbours, const double* fx,
                     double fy, std::size_t blue, std::size_t count, std::uint8_t* out) {
    return std::tuple{ScaleNeighbours{neighbours.Upper0 + done, neighbours.Upper1 + done,
                                      neighbours.Lower0 + done, neighbours.Lower1 + done},
                      fx + done,
                      fy,
                      blue,
                      count - done,
                      out + done};
}
inline auto EdgeClasses(std::size_t done, const std::array<const std::uint8_t*, 3>& columns,
                        std::size_t count, std::uint8_t* classes) {
    return std::tuple{std::array{columns[0] + done, columns[1] + done, columns[2] + done},
                      count - done, classes + done};
}
} // namespace after

// The luma of each gray (v, v, v): v, or v - 1 where the double sum rounds below it.
const std::array<std::uint8_t, 256>& GrayLumas();

// The luma in whole numbers: N = 587 G + 299 R + 114 B, whose N / 1000 the double sum floors to
// unless 1000 divides N, where its rounding decides (a gray of 128 gives 127). Black (N = 0) and
// white (N = 255000) come out as N / 1000 all the same.
inline constexpr std::uint32_t GreenWeight = 587;
inline constexpr std::uint32_t RedWeight = 299;
inline constexpr std::uint32_t BlueWeight = 114;
inline constexpr std::uint32_t MaxWeighted = 255 * (GreenWeight + RedWeight + BlueWeight);
// Whether the double sum, not N / 1000, decides the luma of N.
constexpr bool SumDecides(std::uint32_t weighted) {
    return weighted % 1000 == 0 && weighted != 0 && weighted != MaxWeighted;
}

// N / 1000 is (N / 8) / 125, and x / 125 for every x = N / 8 is the high half of x times
// Reciprocal125, shifted right by Shift125: lanes of 16 bits.
inline constexpr std::uint16_t Reciprocal125 = 33555;
inline constexpr std::uint32_t Shift125 = 6;
constexpr bool Reciprocal125DividesEveryEighth() {
    for (std::uint32_t x = 0; x <= MaxWeighted / 8; ++x) {
        if ((x * Reciprocal125) >> (16 + Shift125) != x / 125) {
            return false;
        }
    }
    return true;
}
static_assert(Reciprocal125DividesEveryEighth());

// N < 2^18, so N is exact in a float, and the float product of N and 0.001 truncates to N / 1000
// for every N: whole quotients are never rounded down, as 0.001F is above 0.001.
inline constexpr float Thousandth = 0.001F;
constexpr bool FloatQuotientIsExact() {
    for (std::uint32_t n = 0; n <= MaxWeighted; ++n) {
        if (static_cast<std::uint32_t>(static_cast<float>(n) * Thousandth) != n / 1000) {
            return false;
        }
    }
    return true;
}

// The 128-bit path, on the little-endian machines whose every processor has such vectors, and in
// WebAssembly built for its SIMD.
#if ((defined(__x86_64__) || defined(__aarch64__)) &&                                              \
     __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__) ||                                                 \
    defined(__wasm_simd128__)
#define DORVANE_VECTOR128 1
namespace vector128 {
void BlurStep(std::uint64_t visited, std::uint8_t* row);
void Luma(const std::uint8_t* pixels, std::size_t pixelBytes, std::size_t count,
          std::uint8_t* gray);
void EncodeGrays(const std::uint8_t* gray, std::size_t count, std::size_t pixelBytes,
                 std::uint8_t* out);
void ReverseChannels(const std::uint8_t* in, std::size_t inBytes, std::size_t count,
                     std::size_t outBytes, std::uint8_t* out);
void Transpose(const std::uint8_t* in, std::ptrdiff_t inStride, std::ptrdiff_t outStride,
               std::uint8_t* out);
void ScaleRow(const ScaleNeighbours& neighbours, const double* fx, double fy, std::size_t blue,
              std::size_t count, std::uint8_t* out);
void EdgeClasses(const std::array<const std::uint8_t*, 3>& columns, std::size_t count,
                 std::uint8_t* classes);
} // namespace vector128
#endif

#if defined(__x86_64__)
namespace avx2 {
bool StageSums(const std::array<const std::int32_t*, 5>& columns, std::size_t count,
               std::uint32_t* sums);
void BlurStep(std::uint64_t visited, std::uint8_t* row);
void Transpose(const std::uint8_t* in, std::ptrdiff_t inStride, std::ptrdiff_t outStride,
               std::uint8_t* out);
void Luma(const std::uint8_t* pixels, std::size_t pixelBytes, std::size_t count,
          std::uint8_t* gray);
void EncodeGrays(const std::uint8_t* gray, std::size_t count, std::size_t pixelBytes,
                 std::uint8_t* out);
void ReverseChannels(const std::uint8_t* in, std::size_t inBytes, std::size_t count,
                     std::size_t outBytes, std::uint8_t* out);
void ScaleRow(const ScaleNeighbours& neighbours, const double* fx, double fy, std::size_t blue,
              std::size_t count, std::uint8_t* out);
void GatherColumns(const std::uint8_t* row, const std::uint8_t* ahead, const std::uint32_t* starts,
                   const std::uint8_t* picks, std::size_t step, std::size_t groups,
                   std::uint8_t* at0, std::uint8_t* at1);
void EdgeClasses(const std::array<const std::uint8_t*, 3>& columns, std::size_t count,
                 std::uint8_t* classes);
void EdgeMap(const std::array<const std::uint8_t*, 5>& classes, std::size_t count,
             std::uint8_t* map);
} // namespace avx2

namespace avx512 {
void BlurStep(std::uint64_t visited, std::uint8_t* row);
void ReverseChannels(const std::uint8_t* in, std::size_t inBytes, std::size_t count,
                     std::size_t outBytes, std::uint8_t* out);
void ScaleRow(const ScaleNeighbours& neighbours, const double* fx, double fy, std::size_t blue,
              std::size_t count, std::uint8_t* out);
void EdgeClasses(const std::array<const std::uint8_t*, 3>& columns, std::size_t count,
                 std::uint8_t* classes);
} // namespace avx512
#endif

} // namespace dorvane::vectors
