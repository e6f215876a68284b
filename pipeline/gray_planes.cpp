#include "gray_planes.hpp"

#include "bitmap_image.hpp"
#include "bmp_pixel_blocks.hpp"
#include "bmp_writer.hpp"
#include "pipeline_state.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <new>
#include <span>

namespace dorvane {
namespace {

// The three products of Luma for every byte value: the same doubles, looked up.
struct LumaTerms {
    std::array<double, 256> Green;
    std::array<double, 256> Red;
    std::array<double, 256> Blue;

    constexpr LumaTerms() : Green(), Red(), Blue() {
        for (std::uint32_t value = 0; value < 256; ++value) {
            Green[value] = value * 0.587;
            Red[value] = value * 0.299;
            Blue[value] = value * 0.114;
        }
    }
};

// Built by the compiler, which rounds each product as the machine would.
constexpr LumaTerms Terms;

// A block's cells are short runs in many columns, a pattern the processor does not foresee: the
// runs a few columns ahead are asked for early.
constexpr std::uint32_t PrefetchColumns = 8;

// The luma of every pixel of a block, into the image plane's cells of the same rows.
void StoreLuma(const PixelBlock& block) {
    const auto rows = static_cast<std::size_t>(block.Rows);
    const PixelRgba* run = block.Pixels.data();
    for (std::uint32_t x = 0; x < PlaneWidth; ++x, run += block.Stride) {
        std::int32_t* cells = ImagePlane[x] + block.YLow;
        if (x + PrefetchColumns < PlaneWidth) {
            const std::int32_t* ahead = ImagePlane[x + PrefetchColumns] + block.YLow;
            __builtin_prefetch(ahead, 1);
            __builtin_prefetch(ahead + block.Rows - 1, 1);
        }
        for (std::size_t i = 0; i < rows; ++i) {
            // The sum is never negative, so truncation is the floor; the order of the
            // additions is Luma's.
            double sum = Terms.Green[run[i].Green];
            sum = sum + Terms.Red[run[i].Red];
            sum = sum + Terms.Blue[run[i].Blue];
            cells[i] = static_cast<std::int32_t>(sum);
        }
    }
}

// The pipeline globals that a load sets, kept so that a load that fails halfway can put them
// back.
struct PlaneGlobals {
    WorkPlane<std::int32_t> Image = ImagePlane;
    WorkPlane<float> Direction = DirectionPlane;
    WorkPlane<std::int32_t> Magnitude = MagnitudePlane;
    std::uint32_t Width = PlaneWidth;
    std::uint32_t Height = PlaneHeight;

    void Restore() const {
        ImagePlane = Image;
        DirectionPlane = Direction;
        MagnitudePlane = Magnitude;
        PlaneWidth = Width;
        PlaneHeight = Height;
    }
};

// LoadGrayPlanes: the pixels go from the file's rows straight into ImagePlane, block by block,
// without an image of the whole picture; the planes are allocated once the headers are accepted.
std::int32_t LoadPlanesFrom(const char* path) {
    const PlaneGlobals before;
    bool allocated = false;
    const PixelBlockSink sink{[&allocated](std::int32_t width, std::int32_t height) {
                                  allocated = AllocatePlanes(static_cast<std::uint32_t>(width),
                                                             static_cast<std::uint32_t>(height));
                                  return allocated;
                              },
                              StoreLuma};
    BitmapImage format;
    if (!ReadBmpPixels(format, path, sink)) {
        if (allocated) {
            ReleasePlanes();
            before.Restore();
        }
        return LoadFailed;
    }
    SourceBitDepth = static_cast<std::int8_t>(format.GetBitDepth());
    return 0;
}

} // namespace

std::int32_t Luma(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    // The order of the additions is part of the result.
    double sum = green * 0.587;
    sum = sum + red * 0.299;
    sum = sum + blue * 0.114;
    return static_cast<std::int32_t>(std::floor(sum));
}

std::int32_t LoadGrayPlanes(const char* path) {
    try {
        return LoadPlanesFrom(path);
    } catch (const std::bad_alloc&) {
        return LoadFailed; // only setting up the sink can throw, before anything is allocated
    }
}

bool StoreGrayImage() {
    try {
        // The image gives the depth, the standard palette and the resolution of a new image;
        // the gray pixels go from ImagePlane straight into the file's rows.
        BitmapImage format;
        if (!format.ChangeBitDepth(SourceBitDepth)) {
            return false;
        }
        const std::span<const std::int32_t* const> columns(ImagePlane, PlaneWidth);
        return SaveGrayBmp(format, columns, static_cast<std::int32_t>(PlaneHeight), OutputPath);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

} // namespace dorvane
