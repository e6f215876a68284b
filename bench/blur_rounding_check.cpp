// Checks, for every window of cells 0..255 at once, the rule the fast blur rests on: ConvolveAt's
// float chain under the Gaussian kernel truncates to S / 159, S being the window's integer sum,
// unless 159 divides S; then it gives S / 159 or one less, and for S = 0 and S = 255 x 159 (the
// uniform windows of 0 and 255) exactly S / 159.
//
// The chain's result depends on the order of the 25 products, and on nothing else: the running
// float after a tap follows from the float before it and the tap's product. So the program
// follows the chain tap by tap, in the kernel's order, over the set of every reachable pair of
// (integer sum so far, running float), with the floats kept as offsets in ulps from the float
// nearest sum / 159. 256 cells at each of 25 taps cover all 256^25 windows.
#include "gaussian_blur.hpp"

#include <algorithm>
#include <bit>
#include <bitset>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

using namespace dorvane;

constexpr std::int32_t MaxCell = 255;
constexpr std::int32_t KernelSum = 159;
constexpr std::int32_t MaxSum = MaxCell * KernelSum;
constexpr std::int32_t Span = 64; // offsets -32 .. 31 ulps around the nearest float
using Offsets = std::bitset<Span>;

// One step of ConvolveAt's chain.
float Tap(float acc, std::int32_t product) {
    return static_cast<float>(static_cast<double>(product) * static_cast<double>(GaussianScale) +
                              static_cast<double>(acc));
}

std::int64_t Bits(float value) {
    return std::bit_cast<std::uint32_t>(value);
}

} // namespace

int main() {
    std::vector<std::int64_t> nearest(MaxSum + 1);
    for (std::int32_t sum = 0; sum <= MaxSum; ++sum) {
        nearest[static_cast<std::size_t>(sum)] =
            Bits(static_cast<float>(static_cast<double>(sum) / KernelSum));
    }
    std::vector<Offsets> reached(MaxSum + 1);
    std::vector<Offsets> next(MaxSum + 1);
    reached[0].set(Span / 2);
    std::int32_t top = 0;
    std::int64_t widest = 0;
    for (const std::int32_t weight : GaussianKernel) {
        std::fill(next.begin(), next.end(), Offsets{});
        for (std::int32_t sum = 0; sum <= top; ++sum) {
            const auto& offsets = reached[static_cast<std::size_t>(sum)];
            for (std::int32_t offset = 0; offset < Span; ++offset) {
                if (!offsets[static_cast<std::size_t>(offset)]) {
                    continue;
                }
                const auto acc = std::bit_cast<float>(static_cast<std::uint32_t>(
                    nearest[static_cast<std::size_t>(sum)] + offset - Span / 2));
                for (std::int32_t cell = 0; cell <= MaxCell; ++cell) {
                    const std::int32_t to = sum + cell * weight;
                    const std::int64_t ulps =
                        Bits(Tap(acc, cell * weight)) - nearest[static_cast<std::size_t>(to)];
                    widest = std::max(widest, ulps < 0 ? -ulps : ulps);
                    if (widest >= Span / 2) {
                        std::printf("the chain strays more than %d ulps\n", Span / 2);
                        return 1;
                    }
                    next[static_cast<std::size_t>(to)].set(
                        static_cast<std::size_t>(ulps + Span / 2));
                }
            }
        }
        top += MaxCell * weight;
        reached.swap(next);
    }

    std::int32_t failures = 0;
    std::int32_t undecided = 0; // whole quotients that come out either way
    for (std::int32_t sum = 0; sum <= MaxSum; ++sum) {
        const std::int32_t quotient = sum / KernelSum;
        const bool whole = sum % KernelSum == 0;
        bool exact = false;
        bool lower = false;
        for (std::int32_t offset = 0; offset < Span; ++offset) {
            if (!reached[static_cast<std::size_t>(sum)][static_cast<std::size_t>(offset)]) {
                continue;
            }
            const auto acc = std::bit_cast<float>(static_cast<std::uint32_t>(
                nearest[static_cast<std::size_t>(sum)] + offset - Span / 2));
            const auto truncated = static_cast<std::int32_t>(acc);
            exact = exact || truncated == quotient;
            lower = lower || truncated == quotient - 1;
            const bool allowed = truncated == quotient || (whole && truncated == quotient - 1 &&
                                                           quotient > 0 && quotient < MaxCell);
            if (!allowed) {
                std::printf("sum %d truncates to %d\n", sum, truncated);
                ++failures;
            }
        }
        undecided += exact && lower ? 1 : 0;
    }
    std::printf("chain within %lld ulps of the nearest float; %d whole quotients go either way; "
                "%d failures\n",
                static_cast<long long>(widest), undecided, failures);
    return failures == 0 ? 0 : 1;
}
