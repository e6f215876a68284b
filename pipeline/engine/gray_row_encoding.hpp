#pragma once

#include "bitmap_image.hpp"
#include "bmp_writer.hpp"
#include "kernels.hpp"

#include <cstdint>

namespace dorvane {

// The codec's GrayRowEncoder, with the rows of 24 and 32 bpp encoded by the kernels of a path:
// the same bytes.
class FastGrayRowEncoder {
  public:
    FastGrayRowEncoder(const BitmapImage& format, const vectors::Kernels& kernels);
    void operator()(const std::uint8_t* gray, std::int32_t width, std::uint8_t* out) const;

  private:
    GrayRowEncoder Plain;
    const vectors::Kernels& Kernels;
    std::int32_t Depth;
};

} // namespace dorvane
