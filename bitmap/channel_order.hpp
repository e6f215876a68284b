#pragma once

#include <cstdint>

namespace dorvane {

// The order of a colour pixel's three bytes in a caller's picture: red first, as most libraries
// keep them, or blue first, as a BMP file and OpenCV keep them.
enum class ChannelOrder : std::uint8_t { Rgb, Bgr };

} // namespace dorvane
