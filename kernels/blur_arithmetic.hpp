#pragma once

// The arithmetic that the Gaussian stage and every path of the byte blur share, and why their
// shortcuts give ConvolveAt's results.
//
// Cells hold 0..255 when the pipeline blurs, so a window's integer sum S is at most 255 x 159.
// ConvolveAt's float chain then stays within 2e-4 of S / 159: 25 roundings of at most half an ulp
// below 256, plus the scale's own error. A quotient that is not whole lies at least 1/159 from an
// integer, so the chain truncates to S / 159. Only when 159 divides S can the chain land just below
// the quotient; those cells run the chain itself (ChainDecides). bench/blur_rounding_check.cpp
// confirms all this over every window of 0..255.
#include "gaussian_weights.hpp"

#include <array>
#include <cstddef>
#include <cstdint>

namespace dorvane::blur {

inline constexpr std::uint32_t MaxCell = 255;

constexpr std::uint32_t Weight(std::size_t a, std::size_t b) {
    return static_cast<std::uint32_t>(GaussianKernel[5 * a + b]);
}

constexpr std::uint32_t SumOfWeights() {
    std::uint32_t sum = 0;
    for (const std::int32_t weight : GaussianKernel) {
        sum += static_cast<std::uint32_t>(weight);
    }
    return sum;
}
inline constexpr std::uint32_t KernelSum = SumOfWeights();
static_assert(KernelSum == 159);

constexpr bool KernelIsSymmetric() {
    for (std::size_t a = 0; a < 5; ++a) {
        for (std::size_t b = 0; b < 5; ++b) {
            if (Weight(a, b) != Weight(4 - a, b) || Weight(a, b) != Weight(a, 4 - b) ||
                Weight(a, b) != Weight(b, a)) {
                return false;
            }
        }
    }
    return true;
}
// Partial sums add mirrored and transposed cells before weighing them.
static_assert(KernelIsSymmetric());

// S / 159 for every window sum S is (S x Reciprocal) >> QuotientShift: a product that fits in 32
// bits, whose low QuotientShift bits fall below Reciprocal exactly when 159 divides S, and whose
// high 16 bits are (S x Reciprocal) >> 16, Reciprocal fitting in 16 bits as S does.
inline constexpr std::uint32_t QuotientShift = 23;
inline constexpr std::uint32_t LowBits = (1U << QuotientShift) - 1;
inline constexpr std::uint32_t Reciprocal = (1U << QuotientShift) / KernelSum + 1;

constexpr bool ReciprocalDividesEverySum() {
    for (std::uint32_t sum = 0; sum <= MaxCell * KernelSum; ++sum) {
        const std::uint32_t scaled = sum * Reciprocal;
        if (scaled >> QuotientShift != sum / KernelSum ||
            ((scaled & LowBits) < Reciprocal) != (sum % KernelSum == 0)) {
            return false;
        }
    }
    return Reciprocal < (1U << 16) && MaxCell * KernelSum < (1U << 16);
}
static_assert(ReciprocalDividesEverySum());

// Whether the chain itself decides the cell of a window whose sum is sum: 159 divides it, and
// the quotient is neither 0 nor 255 (the uniform windows of 0 and 255, which the chain keeps).
constexpr bool ChainDecides(std::uint32_t sum) {
    return sum % KernelSum == 0 && sum / KernelSum - 1 < MaxCell - 1;
}

// ConvolveAt's chain with the Gaussian kernel and scale over a window of cells 0..255 whose
// column a, row b is cell(a, b): the same products and roundings in the same order.
template <class Cell> constexpr std::int32_t Chain(const Cell& cell) {
    float acc = 0.0F;
    for (std::size_t a = 0; a < 5; ++a) {
        for (std::size_t b = 0; b < 5; ++b) {
            const std::int32_t product =
                static_cast<std::int32_t>(Weight(a, b)) * static_cast<std::int32_t>(cell(a, b));
            const double tap = static_cast<double>(product) * static_cast<double>(GaussianScale);
            acc = static_cast<float>(tap + static_cast<double>(acc));
        }
    }
    return static_cast<std::int32_t>(acc);
}

// The chain's result for a window whose 25 cells are all v: flat areas are full of them.
inline constexpr std::array<std::uint8_t, 256> UniformResults = [] {
    std::array<std::uint8_t, 256> results{};
    for (std::uint32_t v = 0; v < results.size(); ++v) {
        results[v] = static_cast<std::uint8_t>(Chain([v](std::size_t, std::size_t) { return v; }));
    }
    return results;
}();

// The vector paths run the chain in float fused multiply-adds, one a tap, which round once as
// each tap of the chain does: the product of a cell and a weight is a whole number below 2^12 and
// the scale has 24 significant bits, so the chain's double product is exact, and every running
// sum is a multiple of 2^-31 below 2^9, so its double sum is exact as well.

} // namespace dorvane::blur
