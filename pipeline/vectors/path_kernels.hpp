#pragma once

// The kernels of each path, as dispatch.cpp puts them into the tables, and what the paths share.
// A vector kernel does what its vectors hold and leaves the rest of a row to the plain one.
#include "kernels.hpp"

#include <array>
#include <cstddef>
#include <cstdint>

namespace dorvane::vectors {

namespace plain {
void BlurStep(std::uint8_t* row, std::uint64_t visited);
// The chain's result for lane k of row's step (when ChainDecides its sum).
std::uint8_t ChainCell(const std::uint8_t* row, std::int64_t k);
void Luma(const std::uint8_t* pixels, std::size_t pixelBytes, std::uint8_t* gray,
          std::size_t count);
// The luma of one pixel; grays by GrayLumas.
std::uint8_t LumaOf(std::uint8_t blue, std::uint8_t green, std::uint8_t red);
void EncodeGrays(const std::uint8_t* gray, std::size_t count, std::size_t pixelBytes,
                 std::uint8_t* out);
void ReverseChannels(const std::uint8_t* in, std::size_t inBytes, std::uint8_t* out,
                     std::size_t outBytes, std::size_t count);
bool StageSums(const std::array<const std::int32_t*, 5>& columns, std::size_t count,
               std::uint32_t* sums);
void Transpose(const std::uint8_t* in, std::ptrdiff_t inStride, std::uint8_t* out,
               std::ptrdiff_t outStride);
void ScaleRow(const ScaleNeighbours& neighbours, const double* fx, double fy, std::size_t blue,
              std::size_t count, std::uint8_t* out);
void EdgeClasses(const std::array<const std::uint8_t*, 3>& columns, std::size_t count,
                 std::uint8_t* classes);
void EdgeMap(const std::array<const std::uint8_t*, 5>& classes, std::size_t count,
             std::uint8_t* map);
} // namespace plain

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

// The 128-bit path, on the little-endian machines whose every processor has such vectors.
#if (defined(__x86_64__) || defined(__aarch64__)) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#define DORVANE_VECTOR128 1
#if defined(__x86_64__)
inline constexpr const char* Vector128Name = "sse2";
#else
inline constexpr const char* Vector128Name = "neon";
#endif
namespace vector128 {
void BlurStep(std::uint8_t* row, std::uint64_t visited);
void Luma(const std::uint8_t* pixels, std::size_t pixelBytes, std::uint8_t* gray,
          std::size_t count);
void EncodeGrays(const std::uint8_t* gray, std::size_t count, std::size_t pixelBytes,
                 std::uint8_t* out);
void ReverseChannels(const std::uint8_t* in, std::size_t inBytes, std::uint8_t* out,
                     std::size_t outBytes, std::size_t count);
void Transpose(const std::uint8_t* in, std::ptrdiff_t inStride, std::uint8_t* out,
               std::ptrdiff_t outStride);
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
void BlurStep(std::uint8_t* row, std::uint64_t visited);
void Luma(const std::uint8_t* pixels, std::size_t pixelBytes, std::uint8_t* gray,
          std::size_t count);
void EncodeGrays(const std::uint8_t* gray, std::size_t count, std::size_t pixelBytes,
                 std::uint8_t* out);
void ReverseChannels(const std::uint8_t* in, std::size_t inBytes, std::uint8_t* out,
                     std::size_t outBytes, std::size_t count);
void ScaleRow(const ScaleNeighbours& neighbours, const double* fx, double fy, std::size_t blue,
              std::size_t count, std::uint8_t* out);
void EdgeClasses(const std::array<const std::uint8_t*, 3>& columns, std::size_t count,
                 std::uint8_t* classes);
void EdgeMap(const std::array<const std::uint8_t*, 5>& classes, std::size_t count,
             std::uint8_t* map);
} // namespace avx2

namespace avx512 {
void BlurStep(std::uint8_t* row, std::uint64_t visited);
void ReverseChannels(const std::uint8_t* in, std::size_t inBytes, std::uint8_t* out,
                     std::size_t outBytes, std::size_t count);
void ScaleRow(const ScaleNeighbours& neighbours, const double* fx, double fy, std::size_t blue,
              std::size_t count, std::uint8_t* out);
void EdgeClasses(const std::array<const std::uint8_t*, 3>& columns, std::size_t count,
                 std::uint8_t* classes);
void EdgeMap(const std::array<const std::uint8_t*, 5>& classes, std::size_t count,
             std::uint8_t* map);
} // namespace avx512
#endif

} // namespace dorvane::vectors
