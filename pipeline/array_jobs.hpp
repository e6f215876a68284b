#pragma once

#include "channel_order.hpp"
#include "file_failure.hpp"

#include <cstddef>
#include <cstdint>

namespace dorvane {

// The pipeline's stages on pictures that a caller holds in memory, row after row from the top,
// as arrays of other languages hold them (a C-contiguous numpy array of shape (Height, Width)).

// A gray picture of one byte per pixel: pixel (x, y) is Pixels[y * Width + x].
struct GrayArray {
    std::uint8_t* Pixels;
    std::uint32_t Width;
    std::uint32_t Height;
};

// The floored luma of count pixels of red, green and blue bytes into gray, one byte each: Luma
// of every pixel, as the job takes a source's gray picture. threads: that many at most; 0
// chooses from the cores and the count.
void LumaOfRgb(const std::uint8_t* rgb, std::size_t count, std::uint8_t* gray,
               std::uint32_t threads);
// The same of pixels of blue, green and red bytes, a file's order, which the luma kernel takes
// as they are.
void LumaOfBgr(const std::uint8_t* bgr, std::size_t count, std::uint8_t* gray,
               std::uint32_t threads);

// GaussianBlurStage on the gray picture at source, of picture's size, into picture: every cell
// becomes the one that the stage leaves in a plane holding source's values (BlurGrayColumns on
// the picture's columns). source may be picture.Pixels. threads: that many at most; 0 chooses
// from the cores and the picture's size. False, picture unchanged, when memory runs out; failure
// then says so. Calls on different pictures may run at once.
bool BlurGrayArray(const std::uint8_t* source, const GrayArray& picture, std::uint32_t threads,
                   FileFailure& failure);

// The edge map that the edge job writes for a source whose gray picture is at source, into
// picture, of the same size: every pixel EdgeCell or BackgroundCell. source may be
// picture.Pixels. threads as for BlurGrayArray. False, picture unchanged, when memory runs out;
// failure then says so. Calls on different pictures may run at once.
bool DetectEdgesInGrayArray(const std::uint8_t* source, const GrayArray& picture,
                            std::uint32_t threads, FileFailure& failure);

} // namespace dorvane
