#include "gray_row_encoding.hpp"

#include <cstddef>

namespace dorvane {

FastGrayRowEncoder::FastGrayRowEncoder(const BitmapImage& format, const vectors::Kernels& kernels)
    : Plain(format), Kernels(kernels), Depth(format.GetBitDepth()) {}

void FastGrayRowEncoder::operator()(const std::uint8_t* gray, std::int32_t width,
                                    std::uint8_t* out) const {
    if ((Depth == 24 || Depth == 32) && width > 0) {
        Kernels.EncodeGrays(gray, static_cast<std::size_t>(width),
                            static_cast<std::size_t>(Depth / 8), out);
    } else {
        Plain(gray, width, out);
    }
}

} // namespace dorvane
