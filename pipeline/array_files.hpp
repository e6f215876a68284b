#pragma once

// BMP files to and from pictures that a caller holds in memory row after row from the top, as
// arrays of other languages hold them: the codec's reading and writing, byte for byte, on as many
// threads as pay.
#include "channel_order.hpp"
#include "file_failure.hpp"

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace dorvane {

// Where a read puts its picture: called once with its size, before any pixel, it returns 3 x
// width x height bytes, or null when memory runs out.
using RgbAllocation = std::function<std::uint8_t*(std::uint32_t width, std::uint32_t height)>;

// The pixels that LoadBmp gives the file at source, or the file of bytes, into the array that
// allocate gives: pixel (x, y) as red, green and blue in order at 3 (y x width + x), row 0 at the
// top. threads: that many at most; 0 chooses from the cores and the picture's size. False when
// the file is refused or memory runs out; failure then says why, and after true whether the file
// was cut short.
bool ReadRgbArray(const char* source, const RgbAllocation& allocate, std::uint32_t threads,
                  FileFailure& failure, ChannelOrder order = ChannelOrder::Rgb);
bool ReadRgbArray(std::span<const std::uint8_t> bytes, const RgbAllocation& allocate,
                  std::uint32_t threads, FileFailure& failure,
                  ChannelOrder order = ChannelOrder::Rgb);

// A picture of Channels bytes a pixel, 1 (a gray) or 3 (red, green and blue in Order), row after
// row: pixel (x, y) at Pixels + Channels x (y x Width + x).
struct ArrayRows {
    const std::uint8_t* Pixels;
    std::uint32_t Width;
    std::uint32_t Height;
    std::uint32_t Channels;
    ChannelOrder Order = ChannelOrder::Rgb;
};

// The file that SaveGrayBmp (one channel) or SaveRgbBmp (three) writes for the picture at depth
// with the standard palette and a new image's resolution, written to output as the blur job
// writes its own, on up to threads threads (0: as many as pay). The sides must be within
// BmpDimensionsWithinLimits and depth one of 1, 4, 8, 16, 24 and 32. False when the file was not
// written; failure then says why.
bool WriteArray(const ArrayRows& picture, std::int32_t depth, const char* output,
                std::uint32_t threads, FileFailure& failure);
// The same file's bytes in place of output's; memory running out is the failure.
bool WriteArray(const ArrayRows& picture, std::int32_t depth, std::vector<std::uint8_t>& output,
                std::uint32_t threads, FileFailure& failure);

} // namespace dorvane
