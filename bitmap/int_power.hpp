#pragma once

#include <cstdint>

namespace dorvane {

// base to the power exponent in 32-bit wrapping arithmetic; an exponent of 0 or below gives 1.
constexpr std::int32_t IntPower(std::int32_t base, std::int32_t exponent) {
    std::uint32_t result = 1;
    for (std::int32_t i = 0; i < exponent; ++i) {
        result *= static_cast<std::uint32_t>(base);
    }
    return static_cast<std::int32_t>(result);
}

} // namespace dorvane
