#include "bmp_headers.hpp"

namespace dorvane {
namespace {

constexpr std::int32_t FallbackResolution = 3780;

} // namespace

BmpHeaders WrittenHeaders(const PictureLayout& picture) {
    BmpHeaders headers;
    FileHeader& file = headers.File;
    // The sizes are unsigned 32-bit fields; an image too large for them (over 4 GiB of
    // pixels) gets them modulo 2^32, as the readers that use bfOffBits never look at them.
    file.bfSize = static_cast<std::uint32_t>(picture.TableBytes + picture.PixelBytes + HeadersSize);
    file.bfOffBits = picture.TableBytes + HeadersSize;
    InfoHeader& info = headers.Info;
    info.biSize = InfoHeaderFieldsSize;
    info.biWidth = picture.Width;
    info.biHeight = picture.Height;
    info.biPlanes = 1;
    info.biBitCount = static_cast<std::uint16_t>(picture.Depth);
    info.biCompression = picture.Depth == 16 ? BiBitfields : BiRgb;
    info.biSizeImage = static_cast<std::uint32_t>(picture.PixelBytes);
    info.biXPelsPerMeter = picture.XResolution == 0 ? FallbackResolution : picture.XResolution;
    info.biYPelsPerMeter = picture.YResolution == 0 ? FallbackResolution : picture.YResolution;
    info.biClrUsed = 0;
    info.biClrImportant = 0;
    return headers;
}

bool ReadItems(void* buffer, std::size_t itemSize, std::size_t count, std::FILE* stream) {
    if (std::feof(stream) != 0) {
        return false;
    }
    return std::fread(buffer, itemSize, count, stream) >= count;
}

} // namespace dorvane
