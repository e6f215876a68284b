#pragma once

#include <cstdint>

namespace dorvane {

// Floored 0.587 G + 0.299 R + 0.114 B, in double and in that order.
std::int32_t Luma(std::uint8_t red, std::uint8_t green, std::uint8_t blue);

} // namespace dorvane
