#include "gray_planes.hpp"

#include "bitmap_image.hpp"
#include "bmp_pixel_blocks.hpp"
#include "bmp_writer.hpp"
#include "kernels.hpp"
#include "pipeline_state.hpp"
#include "platform.hpp"
#include "work_sharing.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <memory>
#include <new>
#include <optional>
#include <span>

namespace dorvane {
namespace {

// Rows of the gray picture that go into the columns at a time: each column then takes a run of
// 1 KiB, since every visit to another column costs an address translation that the processor
// cannot keep for thousands of columns.
constexpr std::uint32_t RowsPerColumnVisit = 256;

// The gray picture is kept in tiles of this many columns, each tile a line of bytes per row:
// a row of the file fills one line of each tile, and the cells of a column for a run of rows lie
// on a few pages, where a picture stored row after row would spread them over a page per row.
constexpr std::uint32_t TileColumns = 64;

// LoadGrayPlanes in steps. A helper thread reads the file, turning its pixels into a gray picture
// of one byte per pixel, row by row, while the caller allocates the planes as soon as the headers
// give their size: each column block costs a page fault of its own, thousands of them for a large
// picture, and the reading hides them. (The caller allocates, as with glibc a program's first
// thread allocates from the main heap, which grows faster than the heaps of later threads.) Both
// threads then copy the gray picture into ImagePlane, a tile at a time. A small file is loaded on
// the caller's thread alone, as is any file when the process has one processor. Nothing is
// installed unless everything succeeded.
class GrayLoad {
  public:
    // The whole load; format as ReadBmpPixels leaves it. False, with nothing installed, when
    // reading or allocation failed; Failure() then says why, and otherwise whether the source
    // was cut short.
    bool Run(const char* path, BitmapImage& format) {
        const PixelBlockSink sink{[this](std::int32_t width, std::int32_t height) {
                                      return Start(static_cast<std::uint32_t>(width),
                                                   static_cast<std::uint32_t>(height));
                                  },
                                  [this](const PixelBlock& block) { Take(block); },
                                  {}};
        const std::optional<std::uint64_t> size = platform::SizeOfFile(path);
        const std::uint32_t threads =
            size ? std::min(2U, ResolveThreads(0, Share::FileBytes, *size)) : 1U;
        ShareWork(threads, [&](std::uint32_t thread, std::uint32_t count) {
            if (thread == 1) {
                Read(format, path, sink);
                return;
            }
            if (count == 1) {
                // No helper, or none to be had: everything happens here.
                Alone = true;
                Read(format, path, sink); // Start allocates the planes
            } else if (Await(Started) == Outcome::Succeeded) {
                Planes.emplace(Width, Height);
                Announce(Allocated, Allocate());
            }
            if (Allocated.load() == Outcome::Succeeded && Await(Reading) == Outcome::Succeeded) {
                CopyTiles();
            }
        });
        if (Reading.load() != Outcome::Succeeded) {
            return false;
        }
        if (Allocated.load() != Outcome::Succeeded) {
            Why = MemoryFailure(FailedFile::Source, Width, Height);
            return false;
        }
        Planes->Install();
        return true;
    }

    const FileFailure& Failure() const { return Why; }

  private:
    enum class Outcome : std::uint8_t { Pending, Succeeded, Failed };

    static void Announce(std::atomic<Outcome>& step, Outcome outcome) {
        step.store(outcome);
        platform::WakeAll(step);
    }
    static Outcome Await(const std::atomic<Outcome>& step) {
        platform::Wait(step, Outcome::Pending);
        return step.load();
    }

    Outcome Allocate() {
        return Planes->AllocateImage() && Planes->AllocateDirectionAndMagnitude()
                   ? Outcome::Succeeded
                   : Outcome::Failed;
    }

    // ReadBmpPixels, telling the other thread how it went, and then helping with the copy.
    void Read(BitmapImage& format, const char* path, const PixelBlockSink& sink) {
        const bool read = ReadBmpPixels(format, path, sink, Why);
        Outcome pending = Outcome::Pending;
        if (Started.compare_exchange_strong(pending, Outcome::Failed)) {
            platform::WakeAll(Started); // the headers were refused
        }
        Announce(Reading, read ? Outcome::Succeeded : Outcome::Failed);
        if (!Alone && read && Await(Allocated) == Outcome::Succeeded) {
            CopyTiles();
        }
    }

    // Called once the headers are accepted. False when memory runs out.
    bool Start(std::uint32_t width, std::uint32_t height) {
        Width = width;
        Height = height;
        const std::size_t tiles = (std::size_t{width} + TileColumns - 1) / TileColumns;
        Gray.reset(new (std::nothrow) std::uint8_t[tiles * TileColumns * height]);
        Outcome outcome = Gray ? Outcome::Succeeded : Outcome::Failed;
        if (Alone && Gray) {
            Planes.emplace(width, height);
            outcome = Allocate();
            Announce(Allocated, outcome);
        }
        Announce(Started, outcome);
        return outcome == Outcome::Succeeded;
    }

    void Take(const PixelBlock& block) {
        const PixelRgba* pixels = block.Pixels.data();
        const auto left = static_cast<std::uint32_t>(block.XLow);
        const auto end = left + static_cast<std::uint32_t>(block.Columns);
        for (std::int32_t r = 0; r < block.Rows; ++r, pixels += block.Stride) {
            const auto y = static_cast<std::uint32_t>(block.YLow + r);
            for (std::uint32_t x = left; x < end;) {
                const std::uint32_t x0 = x / TileColumns * TileColumns;
                const std::uint32_t count = std::min(x0 + TileColumns, end) - x;
                LumaRow(pixels + (x - left), Line(x0, y) + (x - x0), count);
                x += count;
            }
        }
    }

    // The line of the tile that holds column x0 (a multiple of TileColumns) for row y.
    std::uint8_t* Line(std::uint32_t x0, std::uint32_t y) const {
        return Gray.get() + (std::size_t{x0} * Height + std::size_t{y} * TileColumns);
    }

    // Takes tiles until none is left: within a tile a run of rows at a time, whose lines stay in
    // the cache while its columns take them.
    void CopyTiles() {
        const WorkPlane<std::int32_t> plane = Planes->Image();
        for (;;) {
            const std::uint32_t x0 = NextTile.fetch_add(1) * TileColumns;
            if (x0 >= Width) {
                return;
            }
            const std::uint32_t end = std::min(x0 + TileColumns, Width);
            for (std::uint32_t y0 = 0; y0 < Height; y0 += RowsPerColumnVisit) {
                const std::uint32_t rows = std::min(RowsPerColumnVisit, Height - y0);
                const std::uint8_t* lines = Line(x0, y0);
                for (std::uint32_t x = x0; x < end; ++x) {
                    std::int32_t* cells = plane[x] + y0;
                    const std::uint8_t* gray = lines + (x - x0);
                    for (std::uint32_t r = 0; r < rows; ++r) {
                        cells[r] = gray[std::size_t{r} * TileColumns];
                    }
                }
            }
        }
    }

    bool Alone = false; // no reader thread: the caller reads, and allocates in Start
    std::uint32_t Width = 0;
    std::uint32_t Height = 0;
    std::unique_ptr<std::uint8_t[]> Gray; // tiles of TileColumns columns, see Line
    std::optional<PlaneAllocation> Planes;
    std::atomic<Outcome> Started{Outcome::Pending};   // headers accepted, gray picture there
    std::atomic<Outcome> Allocated{Outcome::Pending}; // the three planes
    std::atomic<Outcome> Reading{Outcome::Pending};   // the whole gray picture filled in
    std::atomic<std::uint32_t> NextTile{0};
    FileFailure Why; // the reader's, written before Reading is announced
};

std::int32_t LoadPlanesFrom(const char* path, FileFailure& failure) {
    GrayLoad load;
    BitmapImage format;
    const bool loaded = load.Run(path, format);
    failure = load.Failure(); // after a load, whether the source was cut short
    if (!loaded) {
        return LoadFailed;
    }
    SourceBitDepth = static_cast<std::int8_t>(format.GetBitDepth());
    return 0;
}

} // namespace

void LumaRow(const PixelRgba* pixels, std::uint8_t* gray, std::uint32_t count) {
    vectors::InUse().Luma(reinterpret_cast<const std::uint8_t*>(pixels), sizeof(PixelRgba), count,
                          gray);
}

void LumaRowOfFile(const std::uint8_t* row, std::int32_t depth, std::uint8_t* gray,
                   std::uint32_t count) {
    vectors::InUse().Luma(row, depth == 32 ? 4 : 3, count, gray);
}

std::int32_t LoadGrayPlanes(const char* path, FileFailure& failure) {
    failure = {};
    try {
        return LoadPlanesFrom(path, failure);
    } catch (const std::bad_alloc&) {
        // Only setting up the sink can throw, before anything is allocated.
        failure = MemoryFailure(FailedFile::Source);
        return LoadFailed;
    }
}

std::int32_t LoadGrayPlanes(const char* path) {
    FileFailure ignored;
    return LoadGrayPlanes(path, ignored);
}

bool StoreGrayImage(const char* output, Durability durability, FileFailure& failure) {
    failure = MemoryFailure(FailedFile::Output);
    try {
        // The image gives the depth, the standard palette and the resolution of a new image;
        // the gray pixels go from ImagePlane straight into the file's rows.
        BitmapImage format;
        if (!format.ChangeBitDepth(SourceBitDepth)) {
            return false;
        }
        const std::span<const std::int32_t* const> columns(ImagePlane, PlaneWidth);
        return SaveGrayBmp(format, columns, static_cast<std::int32_t>(PlaneHeight), output, failure,
                           durability);
    } catch (const std::bad_alloc&) {
        failure = MemoryFailure(FailedFile::Output);
        return false;
    }
}

bool StoreGrayImage(FileFailure& failure) {
    return StoreGrayImage(OutputPath, Durability::Process, failure);
}

bool StoreGrayImage() {
    FileFailure ignored;
    return StoreGrayImage(ignored);
}

} // namespace dorvane
