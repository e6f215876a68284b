#include "luma.hpp"

#include <cmath>

namespace dorvane {

std::int32_t Luma(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    // The order of the additions is part of the result.
    double sum = green * 0.587;
    sum = sum + red * 0.299;
    sum = sum + blue * 0.114;
    return static_cast<std::int32_t>(std::floor(sum));
}

} // namespace dorvane
