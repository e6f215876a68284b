#pragma once

#include <cstdint>

namespace dorvane {

// Exchanges the two bytes of x.
constexpr std::uint16_t ByteSwap16(std::uint16_t x) {
    return static_cast<std::uint16_t>(((x & 0xFFU) << 8) | (x >> 8));
}

// Reverses the four bytes of x.
constexpr std::uint32_t ByteSwap32(std::uint32_t x) {
    return ((x & 0xFFU) << 24) | ((x & 0xFF00U) << 8) | ((x >> 8) & 0xFF00U) | (x >> 24);
}

} // namespace dorvane
