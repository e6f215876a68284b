#include "gray_picture.hpp"

#include "fetch_ahead.hpp"

#include <algorithm>

namespace dorvane {
namespace {

// Rows move between the file and the columns in groups, in blocks of BlockSide rows and columns:
// GroupRows rows, so that a column takes a whole cache line of a group at once, or as many as keep
// a group's gray rows between MinGroupBytes (narrow pictures then move in few steps) and
// MaxGroupBytes. A row longer than SpanColumns moves a span of columns at a time, each span a
// group of its own: no buffer grows with a header's width or height beyond the picture's size.
constexpr std::uint32_t BlockSide = 16;
constexpr std::uint32_t GroupRows = 64;
constexpr std::size_t MinGroupBytes = std::size_t{1} << 16;
constexpr std::size_t MaxGroupBytes = std::size_t{1} << 22;
constexpr std::uint32_t SpanColumns = 1U << 18;

// How many blocks ahead a move asks for the columns' cells (without hints, for that many blocks at
// once).
constexpr std::uint32_t Ahead = 4 * BlockSide;

// A piece is PieceRows rows, or as many as keep it between MinPieceBytes and MaxPieceBytes (but
// at least a row).
constexpr std::uint32_t PieceRows = 16;
constexpr std::size_t MinPieceBytes = std::size_t{1} << 13;
constexpr std::size_t MaxPieceBytes = std::size_t{1} << 20;

} // namespace

bool GrayPicture::Allocate(std::uint32_t width, std::uint32_t height) {
    Width = width;
    Height = height;
    SpanWidth = std::min(width, SpanColumns);
    GroupHeight = width > SpanWidth
                      ? 1
                      : static_cast<std::uint32_t>(std::min<std::size_t>(
                            height, std::clamp(std::size_t{GroupRows}, MinGroupBytes / width,
                                               MaxGroupBytes / width)));
    Pixels = AllocateLargeBlock(std::size_t{width} * height);
    return static_cast<bool>(Pixels);
}

void GrayPicture::FillTop(std::uint32_t rows, std::uint8_t value) {
    if (rows == Height) { // the columns lie one after another
        std::fill_n(Pixels.get(), std::size_t{Width} * Height, value);
        return;
    }
    for (std::uint32_t x = 0; x < Width; ++x) {
        std::fill_n(Columns().Column(x), rows, value);
    }
}

void GrayPicture::MoveGroup(std::uint8_t* buffer, const Group& group, bool intoColumns) {
    const std::uint32_t y0 = group.Top;
    const std::uint32_t rows = group.Rows;
    const std::uint32_t end = group.Left + group.Columns;
    const GrayColumns columns = Columns();
    std::uint32_t x = group.Left;
    if (rows >= BlockSide) {
        for (; x + BlockSide <= end; x += BlockSide) {
            // The group's lines in the columns of a block further on, which the processor does
            // not fetch ahead by itself: they lie a column's length apart.
            const std::uint32_t fetched = FetchHints                      ? BlockSide
                                          : (x - group.Left) % Ahead == 0 ? Ahead
                                                                          : 0;
            for (std::uint32_t i = x + Ahead; i < std::min(end, x + Ahead + fetched); ++i) {
                FetchLine(columns.Column(i) + y0);
                FetchLine(columns.Column(i) + y0 + rows - 1);
            }
            // A group of rows that is not a whole number of blocks ends with a block that
            // overlaps the one before: its cells move twice, the same both times.
            for (std::uint32_t y1 = y0; y1 < y0 + rows; y1 += BlockSide) {
                MoveBlock(buffer, group, x, std::min(y1, y0 + rows - BlockSide), intoColumns);
            }
        }
    }
    for (; x < end; ++x) {
        std::uint8_t* column = columns.Column(x) + y0;
        for (std::uint32_t i = 0; i < rows; ++i) {
            std::uint8_t& cell = Row(buffer, group, y0 + i)[x - group.Left];
            if (intoColumns) {
                column[i] = cell;
            } else {
                cell = column[i];
            }
        }
    }
}

// The block of BlockSide rows from y1 and columns from x, between the buffer and columns.
void GrayPicture::MoveBlock(std::uint8_t* buffer, const Group& group, std::uint32_t x,
                            std::uint32_t y1, bool intoColumns) {
    std::uint8_t* rows = Row(buffer, group, y1) + (x - group.Left);
    std::uint8_t* columns = Columns().Column(x) + y1;
    const auto rowStride = static_cast<std::ptrdiff_t>(SpanWidth);
    const auto columnStride = static_cast<std::ptrdiff_t>(Height);
    if (intoColumns) {
        Kernels.Transpose(rows, rowStride, columnStride, columns);
    } else {
        Kernels.Transpose(columns, columnStride, rowStride, rows);
    }
}

FileRows::FileRows(const GrayPicture& picture, std::int32_t depth, std::size_t rowLength)
    : Width(picture.Columns().Width), Depth(static_cast<std::uint32_t>(depth)),
      RowLength(rowLength), Rows(static_cast<std::uint32_t>(
                                std::clamp(std::size_t{PieceRows}, MinPieceBytes / rowLength,
                                           std::max<std::size_t>(MaxPieceBytes / rowLength, 1)))),
      Bytes(Rows * Offset(picture.Span())) {}

} // namespace dorvane
