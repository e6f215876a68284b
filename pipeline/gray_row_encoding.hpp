#pragma once

#include "bitmap_image.hpp"
#include "bmp_writer.hpp"

#include <cstdint>

namespace dorvane {

// The codec's GrayRowEncoder, with the rows of 24 and 32 bpp built sixteen pixels at a time
// where the processor can shuffle bytes (SSSE3): the same bytes.
class FastGrayRowEncoder {
  public:
    explicit FastGrayRowEncoder(const BitmapImage& format);
    void operator()(const std::uint8_t* gray, std::int32_t width, std::uint8_t* out) const;

  private:
    GrayRowEncoder Plain;
    std::int32_t Depth;
    bool Shuffles;
};

} // namespace dorvane
