// The edge map on a byte picture, a column at a time from left to right.
//
// A cell of the map depends on the classes (edge_classes.hpp) of its 5 x 5 block, and a
// class on the 3 x 3 block of grays around it: map column x needs class columns x - 2 .. x + 2,
// that is, gray columns x - 3 .. x + 3. So a strip of columns keeps the classes of five columns,
// and overwrites gray column x with its map once class column x + 2 is made, when no class still
// to make reads it. Strips run on threads of their own, each with copies of the gray columns of
// its neighbours that it reads, taken before any strip writes. A map into rows instead leaves the
// grays as they are: each strip gathers BlockColumns map columns at a time and transposes them
// into the rows, so that the picture need not be moved back into rows after the map.
#include "edge_map.hpp"

#include "hysteresis.hpp"
#include "kernels.hpp"
#include "work_sharing.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>

namespace dorvane {
namespace {

// The class columns a map column needs, and the gray columns a strip reads beyond each side.
constexpr std::int64_t RingColumns = 5;
constexpr std::int64_t Halo = 3;
// A strip makes the classes of four columns of its neighbours again: strips of fewer columns
// than this would spend more on that than on their own.
constexpr std::int64_t MinStripColumns = 16;
// The map columns a strip gathers before it transposes them into rows: one transpose's.
constexpr std::int64_t BlockColumns = vectors::BlockRows;

class Strip {
  public:
    // Columns first .. end - 1 of picture, classes kept in ring (RingColumns columns); the gray
    // columns Halo to the left of first from left and Halo from end on from right, where those
    // are copies (null: read from the picture).
    Strip(const GrayColumns& picture, const vectors::Kernels& kernels, std::int64_t first,
          std::int64_t end, std::uint8_t* ring, const std::uint8_t* left, const std::uint8_t* right)
        : Picture(picture), Kernels(kernels), Width(picture.Width), Height(picture.Height),
          First(first), End(end), Ring(ring), Left(left), Right(right) {}

    // Each map column as soon as its classes are made; the frame's columns, which need none, at
    // the end, as other columns' classes read their grays.
    void Map() {
        for (std::int64_t c = std::max<std::int64_t>(0, First - 2);
             c <= std::min(End + 1, Width - 1); ++c) {
            MakeClasses(c);
            const std::int64_t x = c - 2;
            if (x >= First && !InFrame(x)) {
                MapColumn(x, Column(x));
            }
        }
        for (std::int64_t x = First; x < End; ++x) {
            if (InFrame(x)) {
                std::memset(Column(x), BackgroundCell, Size(Height));
            }
        }
    }

    // The same map into rows (pixel (x, y) at rows[y * Width + x]), through block (BlockColumns
    // columns); the picture stays as it is.
    void MapIntoRows(std::uint8_t* rows, std::uint8_t* block) {
        std::int64_t x = First;
        for (std::int64_t c = std::max<std::int64_t>(0, First - 2);
             c <= std::min(End + 1, Width - 1); ++c) {
            MakeClasses(c);
            for (; x < End && (InFrame(x) || x + 2 <= c); ++x) {
                MapIntoBlock(x, rows, block);
            }
        }
        for (; x < End; ++x) {
            MapIntoBlock(x, rows, block);
        }
    }

  private:
    static std::size_t Size(std::int64_t bytes) { return static_cast<std::size_t>(bytes); }
    std::uint8_t* Column(std::int64_t x) const {
        return Picture.Column(static_cast<std::uint32_t>(x));
    }
    const std::uint8_t* Gray(std::int64_t x) const {
        if (x < First && Left != nullptr) {
            return Left + Size((x - (First - Halo)) * Height);
        }
        if (x >= End && Right != nullptr) {
            return Right + Size((x - End) * Height);
        }
        return Column(x);
    }
    bool InFrame(std::int64_t x) const {
        return x < HysteresisFrame || x + HysteresisFrame >= Width;
    }
    std::uint8_t* Classes(std::int64_t c) const { return Ring + Size(c % RingColumns * Height); }

    // The magnitudes of the frame are 0, which is no class.
    void MakeClasses(std::int64_t c) const {
        std::uint8_t* classes = Classes(c);
        if (c == 0 || c == Width - 1) {
            std::memset(classes, 0, Size(Height));
            return;
        }
        classes[0] = 0;
        classes[Height - 1] = 0;
        Kernels.EdgeClasses({Gray(c - 1) + 1, Gray(c) + 1, Gray(c + 1) + 1}, Size(Height - 2),
                            classes + 1);
    }

    // Map column x (not of the frame) into column.
    void MapColumn(std::int64_t x, std::uint8_t* column) const {
        Kernels.EdgeMap({Classes(x - 2) + 2, Classes(x - 1) + 2, Classes(x) + 2, Classes(x + 1) + 2,
                         Classes(x + 2) + 2},
                        Size(Height - 4), column + 2);
        const std::uint8_t background = BackgroundCell;
        column[0] = column[1] = column[Height - 2] = column[Height - 1] = background;
    }

    // Map column x into its place in block, and the block into rows once it is full or the
    // strip ends with x.
    void MapIntoBlock(std::int64_t x, std::uint8_t* rows, std::uint8_t* block) const {
        const std::int64_t slot = (x - First) % BlockColumns;
        std::uint8_t* column = block + Size(slot * Height);
        if (InFrame(x)) {
            std::memset(column, BackgroundCell, Size(Height));
        } else {
            MapColumn(x, column);
        }
        if (slot + 1 == BlockColumns || x + 1 == End) {
            BlockIntoRows(block, slot + 1, rows + (x - slot));
        }
    }

    // The first columns columns of block into the rows, from the column at which rows points.
    void BlockIntoRows(const std::uint8_t* block, std::int64_t columns, std::uint8_t* rows) const {
        const std::int64_t whole =
            columns == BlockColumns ? Height / vectors::BlockRows * vectors::BlockRows : 0;
        for (std::int64_t y = 0; y < whole; y += vectors::BlockRows) {
            Kernels.Transpose(block + y, static_cast<std::ptrdiff_t>(Height),
                              static_cast<std::ptrdiff_t>(Width), rows + Size(y * Width));
        }
        for (std::int64_t y = whole; y < Height; ++y) {
            for (std::int64_t j = 0; j < columns; ++j) {
                rows[Size(y * Width + j)] = block[Size(j * Height + y)];
            }
        }
    }

    const GrayColumns& Picture;
    const vectors::Kernels& Kernels;
    std::int64_t Width;
    std::int64_t Height;
    std::int64_t First;
    std::int64_t End;
    std::uint8_t* Ring;
    const std::uint8_t* Left;
    const std::uint8_t* Right;
};

// The map in place, or into rows where rows is not null.
bool MapInStrips(const GrayColumns& picture, std::uint32_t threads, std::uint8_t* rows) {
    const std::int64_t width = picture.Width;
    const std::int64_t height = picture.Height;
    const std::size_t pixels = std::size_t{picture.Width} * picture.Height;
    if (width < 2 * HysteresisFrame + 1 || height < 2 * HysteresisFrame + 1) {
        // Hysteresis visits no cell: all is frame.
        std::memset(rows != nullptr ? rows : picture.Pixels, BackgroundCell, pixels);
        return true;
    }
    const auto strips = static_cast<std::int64_t>(std::min<std::uint64_t>(
        std::max(threads, 1U),
        static_cast<std::uint64_t>(std::max<std::int64_t>(1, width / MinStripColumns))));
    // Each strip's ring and, into rows, its block; in place, the gray columns around each border
    // between strips.
    const auto column = static_cast<std::size_t>(height);
    const std::size_t stripBytes = (RingColumns + (rows != nullptr ? BlockColumns : 0)) * column;
    const std::size_t haloBytes = 2 * Halo * column;
    const auto count = static_cast<std::size_t>(strips);
    const std::size_t halos = rows != nullptr ? 0 : count - 1;
    const std::unique_ptr<std::uint8_t[]> scratch(
        new (std::nothrow) std::uint8_t[count * stripBytes + halos * haloBytes]);
    if (!scratch) {
        return false;
    }
    const auto border = [&](std::int64_t s) { return s * width / strips; };
    // Around border s: gray columns border(s) - Halo .. border(s) + Halo - 1, which lie together.
    const auto halo = [&](std::int64_t s) {
        return scratch.get() + count * stripBytes + static_cast<std::size_t>(s - 1) * haloBytes;
    };
    for (std::size_t s = 1; s <= halos; ++s) {
        const auto b = static_cast<std::int64_t>(s);
        std::memcpy(halo(b), picture.Column(static_cast<std::uint32_t>(border(b) - Halo)),
                    haloBytes);
    }
    const vectors::Kernels& kernels = vectors::InUse();
    ShareWork(static_cast<std::uint32_t>(strips), [&](std::uint32_t t, std::uint32_t n) {
        for (std::int64_t s = t; s < strips; s += n) {
            std::uint8_t* ring = scratch.get() + static_cast<std::size_t>(s) * stripBytes;
            if (rows != nullptr) {
                Strip(picture, kernels, border(s), border(s + 1), ring, nullptr, nullptr)
                    .MapIntoRows(rows, ring + RingColumns * column);
                continue;
            }
            const std::uint8_t* left = s > 0 ? halo(s) : nullptr;
            const std::uint8_t* right = s + 1 < strips ? halo(s + 1) + Halo * column : nullptr;
            Strip(picture, kernels, border(s), border(s + 1), ring, left, right).Map();
        }
    });
    return true;
}

} // namespace

bool EdgeMapColumns(const GrayColumns& picture, std::uint32_t threads) {
    return MapInStrips(picture, threads, nullptr);
}

bool EdgeMapIntoRows(const GrayColumns& picture, std::uint8_t* rows, std::uint32_t threads) {
    return MapInStrips(picture, threads, rows);
}

} // namespace dorvane
