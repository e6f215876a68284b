#include "gray_planes.hpp"

#include "bitmap_image.hpp"
#include "bmp_pixel_blocks.hpp"
#include "bmp_writer.hpp"
#include "pipeline_state.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <exception>
#include <memory>
#include <new>
#include <span>
#include <system_error>
#include <thread>

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

std::uint8_t LumaOf(const PixelRgba& pixel) {
    // The sum is never negative, so truncation is the floor; the order of the additions is
    // Luma's. The result is at most 255.
    double sum = Terms.Green[pixel.Green];
    sum = sum + Terms.Red[pixel.Red];
    sum = sum + Terms.Blue[pixel.Blue];
    return static_cast<std::uint8_t>(sum);
}

// Below this many pixels a helper thread costs more than it saves.
constexpr std::uint64_t MinPixelsToShare = std::uint64_t{1} << 16;

// Rows of the gray picture that go into the columns at a time: each column then takes a run of
// 1 KiB, since every visit to another column costs an address translation that the processor
// cannot keep for thousands of columns.
constexpr std::uint32_t RowsPerColumnVisit = 256;

// The gray picture is kept in tiles of this many columns, each tile a line of bytes per row:
// a row of the file fills one line of each tile, and the cells of a column for a run of rows lie
// on a few pages, where a picture stored row after row would spread them over a page per row.
constexpr std::uint32_t TileColumns = 64;

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

// LoadGrayPlanes in two steps. While the file's pixels become a gray picture of one byte per
// pixel, row by row, a helper thread allocates the planes: each column block costs a page fault
// of its own, thousands of them for a large picture, and the reading hides them. Then two threads
// copy the gray picture into ImagePlane, each taking half of the columns.
class GrayLoad {
  public:
    GrayLoad() = default;
    GrayLoad(const GrayLoad&) = delete;
    GrayLoad& operator=(const GrayLoad&) = delete;
    ~GrayLoad() { Wait(); }

    // Called once the headers are accepted. False when memory runs out.
    bool Start(std::uint32_t width, std::uint32_t height) {
        Width = width;
        Height = height;
        const std::size_t tiles = (std::size_t{width} + TileColumns - 1) / TileColumns;
        Gray.reset(new (std::nothrow) std::uint8_t[tiles * TileColumns * height]);
        if (Gray == nullptr) {
            return false;
        }
        if (std::uint64_t{width} * height >= MinPixelsToShare) {
            try {
                Allocator = std::jthread([this] { Allocated = AllocatePlanes(Width, Height); });
                return true;
            } catch (const std::system_error&) {
                // No thread to be had: the planes are allocated here.
            }
        }
        Allocated = AllocatePlanes(Width, Height);
        return Allocated;
    }

    void Take(const PixelBlock& block) {
        const PixelRgba* pixels = block.Pixels.data();
        for (std::int32_t r = 0; r < block.Rows; ++r, pixels += block.Stride) {
            const auto y = static_cast<std::uint32_t>(block.YLow + r);
            for (std::uint32_t x0 = 0; x0 < Width; x0 += TileColumns) {
                std::uint8_t* gray = Line(x0, y);
                const std::uint32_t count = std::min(TileColumns, Width - x0);
                for (std::uint32_t i = 0; i < count; ++i) {
                    gray[i] = LumaOf(pixels[x0 + i]);
                }
            }
        }
    }

    // Whether the planes were allocated, once the helper is done.
    bool Wait() {
        if (Allocator.joinable()) {
            Allocator.join();
        }
        return Allocated;
    }

    // Fills ImagePlane from the gray picture; the planes must have been allocated. A helper
    // takes the right half of the tiles.
    void Store() const {
        if (std::uint64_t{Width} * Height >= MinPixelsToShare) {
            const std::uint32_t split = (Width / 2 + TileColumns - 1) / TileColumns * TileColumns;
            try {
                const std::jthread helper([this, split] { StoreColumns(split, Width); });
                StoreColumns(0, split);
                return;
            } catch (const std::exception&) {
                // No helper: every column is stored here. The load has succeeded by now, so a
                // helper that cannot start must not fail it.
            }
        }
        StoreColumns(0, Width);
    }

  private:
    // The line of the tile that holds column x0 (a multiple of TileColumns) for row y.
    std::uint8_t* Line(std::uint32_t x0, std::uint32_t y) const {
        return Gray.get() + (std::size_t{x0} * Height + std::size_t{y} * TileColumns);
    }

    // Columns first .. last - 1, first a multiple of TileColumns: tile by tile, and within a
    // tile a run of rows at a time, whose lines stay in the cache while its columns take them.
    void StoreColumns(std::uint32_t first, std::uint32_t last) const {
        for (std::uint32_t x0 = first; x0 < last; x0 += TileColumns) {
            const std::uint32_t end = std::min(x0 + TileColumns, last);
            for (std::uint32_t y0 = 0; y0 < Height; y0 += RowsPerColumnVisit) {
                const std::uint32_t rows = std::min(RowsPerColumnVisit, Height - y0);
                const std::uint8_t* lines = Line(x0, y0);
                for (std::uint32_t x = x0; x < end; ++x) {
                    std::int32_t* cells = ImagePlane[x] + y0;
                    const std::uint8_t* gray = lines + (x - x0);
                    for (std::uint32_t r = 0; r < rows; ++r) {
                        cells[r] = gray[std::size_t{r} * TileColumns];
                    }
                }
            }
        }
    }

    std::uint32_t Width = 0;
    std::uint32_t Height = 0;
    std::unique_ptr<std::uint8_t[]> Gray; // tiles of TileColumns columns, see Line
    bool Allocated = false;
    std::jthread Allocator;
};

std::int32_t LoadPlanesFrom(const char* path) {
    const PlaneGlobals before;
    GrayLoad load;
    const PixelBlockSink sink{[&load](std::int32_t width, std::int32_t height) {
                                  return load.Start(static_cast<std::uint32_t>(width),
                                                    static_cast<std::uint32_t>(height));
                              },
                              [&load](const PixelBlock& block) { load.Take(block); }};
    BitmapImage format;
    const bool read = ReadBmpPixels(format, path, sink);
    const bool allocated = load.Wait();
    if (!read || !allocated) {
        if (allocated) {
            ReleasePlanes();
            before.Restore();
        }
        return LoadFailed;
    }
    load.Store();
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
