#pragma once

// A set of byte values as 256 bits, which the x86 paths look up a vector of lanes at a time: the
// few values where an exact result is one less than the quick one.
#include <array>
#include <cstddef>
#include <cstdint>

namespace dorvane::vectors {

// Bit v % 8 of byte v / 8 is set where v is in the set.
using ByteSet = std::array<std::uint8_t, 32>;

// The values v of 0..255 for which has(v) holds.
template <class Has> constexpr ByteSet ByteSetOf(const Has& has) {
    ByteSet bits{};
    for (std::size_t v = 0; v < 256; ++v) {
        if (has(static_cast<std::uint8_t>(v))) {
            bits[v / 8] = static_cast<std::uint8_t>(bits[v / 8] | 1U << (v % 8));
        }
    }
    return bits;
}

} // namespace dorvane::vectors
