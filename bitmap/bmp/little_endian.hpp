#pragma once

#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace dorvane {

// The integer whose bytes, least significant first, are bytes: assembled by value, so it is the
// same on a host of either byte order.
template <std::integral Value>
constexpr Value LoadLittleEndian(const std::array<std::uint8_t, sizeof(Value)>& bytes) {
    std::make_unsigned_t<Value> value = 0;
    for (std::size_t k = bytes.size(); k-- > 0;) {
        value = static_cast<std::make_unsigned_t<Value>>((value << 8) | bytes[k]);
    }
    return static_cast<Value>(value);
}

// The bytes of value, least significant first, whatever the host's order.
template <std::integral Value>
constexpr std::array<std::uint8_t, sizeof(Value)> LittleEndianBytes(Value value) {
    auto bits = static_cast<std::make_unsigned_t<Value>>(value);
    std::array<std::uint8_t, sizeof(Value)> bytes{};
    for (std::uint8_t& byte : bytes) {
        byte = static_cast<std::uint8_t>(bits & 0xFFU);
        bits = static_cast<std::make_unsigned_t<Value>>(bits >> 8);
    }
    return bytes;
}

} // namespace dorvane
