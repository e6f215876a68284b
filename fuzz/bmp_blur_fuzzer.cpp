// BMPBlur end to end on arbitrary source bytes. A source that LoadBmp accepts must give an output
// file of the same size and depth, gray wherever the depth can hold every gray; any other source
// must give BMPBLUR_SOURCE_UNREADABLE and no output file.
#include "DorvaneBMPBlur.h"

#include "bitmap_image.hpp"
#include "fuzz_support.hpp"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace {

using namespace dorvane;
using namespace dorvane::fuzzing;

// The blur keeps the image and three planes of the same size; bigger headers are skipped.
constexpr std::int64_t PixelBudget = std::int64_t{1} << 16;

std::u16string Wide(const std::string& ascii) {
    return {ascii.begin(), ascii.end()};
}

void CheckOutput(const BitmapImage& source, const std::string& outputPath) {
    BitmapImage output;
    Check(output.LoadBmp(outputPath.c_str()), "the output file does not load");
    Check(output.GetWidth() == source.GetWidth() && output.GetHeight() == source.GetHeight() &&
              output.GetBitDepth() == source.GetBitDepth(),
          "the output differs from the source in size or depth");
    if (HasPaletteDepth(output.GetBitDepth())) {
        return; // the grays are mapped to the nearest colours of the standard palette
    }
    for (std::int32_t x = 0; x < output.GetWidth(); ++x) {
        for (std::int32_t y = 0; y < output.GetHeight(); ++y) {
            const PixelRgba& pixel = output.PixelAt(x, y);
            Check(pixel.Red == pixel.Green && pixel.Green == pixel.Blue,
                  "an output pixel is not gray");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const RawHeader header(data, size);
    if (!WithinBudget(header.Width, header.Height, PixelBudget)) {
        return -1;
    }
    const std::string sourcePath = Scratch().File("source.bmp");
    const std::string outputPath = Scratch().File("output.bmp");
    WriteFile(sourcePath, data, size);
    std::filesystem::remove(outputPath);

    const std::int32_t result = BMPBlur(Wide(sourcePath).c_str(), Wide(outputPath).c_str());
    BitmapImage source;
    if (!source.LoadBmp(sourcePath.c_str())) {
        Check(result == BMPBLUR_SOURCE_UNREADABLE, "a rejected source did not give result 1");
        Check(!std::filesystem::exists(outputPath), "a rejected source left an output file");
        return 0;
    }
    Check(result == BMPBLUR_OK, "an accepted source did not give result 0");
    CheckOutput(source, outputPath);
    return 0;
}
