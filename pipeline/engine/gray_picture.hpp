#pragma once

// The blur job's gray picture, one byte a pixel and column-major as the blur wants it, and where
// its parts lie in a file's rows. Rows move in and out of it in groups, transposed sixteen by
// sixteen.
#include "byte_blur.hpp"
#include "kernels.hpp"
#include "large_block.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace dorvane {

// A part of the picture that moves at once: rows Top .. Top + Rows - 1 of columns Left .. Left +
// Columns - 1.
struct Group {
    std::uint32_t Top;
    std::uint32_t Rows;
    std::uint32_t Left;
    std::uint32_t Columns;
};

// The gray picture. Rows move between it and the file in groups, held row after row in a buffer
// of the caller's: the groups of rows lie GroupHeight rows apart from the top of the picture, and
// their spans SpanWidth columns apart from the left.
class GrayPicture {
  public:
    // Blocks move by the transposes of kernels.
    explicit GrayPicture(const vectors::Kernels& kernels) : Kernels(kernels) {}

    // False when memory runs out.
    bool Allocate(std::uint32_t width, std::uint32_t height);

    GrayColumns Columns() const { return {Pixels.get(), Width, Height}; }
    std::uint32_t Span() const { return SpanWidth; }
    std::size_t GroupBytes() const { return std::size_t{SpanWidth} * GroupHeight; }
    // Row y of a group in its buffer, from the group's first column.
    std::uint8_t* Row(std::uint8_t* buffer, const Group& group, std::uint32_t y) const {
        return buffer + std::size_t{y - group.Top} * SpanWidth;
    }

    // Groups in the file's order, which starts at the bottom of the picture and at the left of a
    // row: how many there are, the i-th, and the file row (0 at the bottom) a group starts at.
    std::uint32_t Groups() const { return RowGroups() * Spans(); }
    Group GroupAt(std::uint32_t i) const {
        return Around((RowGroups() - 1 - i / Spans()) * GroupHeight, i % Spans() * SpanWidth);
    }
    std::uint64_t FileRow(const Group& group) const { return Height - group.Top - group.Rows; }
    // The group that holds pixel (x, y).
    Group GroupOf(std::uint32_t x, std::uint32_t y) const {
        return Around(y / GroupHeight * GroupHeight, x / SpanWidth * SpanWidth);
    }

    // A group from its buffer into the columns, or back.
    void StoreGroup(std::uint8_t* buffer, const Group& group) { MoveGroup(buffer, group, true); }
    void LoadGroup(std::uint8_t* buffer, const Group& group) { MoveGroup(buffer, group, false); }

    // Rows 0 .. rows - 1 all value.
    void FillTop(std::uint32_t rows, std::uint8_t value);

  private:
    std::uint32_t RowGroups() const { return (Height + GroupHeight - 1) / GroupHeight; }
    std::uint32_t Spans() const { return (Width + SpanWidth - 1) / SpanWidth; }
    Group Around(std::uint32_t top, std::uint32_t left) const {
        return {top, std::min(GroupHeight, Height - top), left, std::min(SpanWidth, Width - left)};
    }

    void MoveGroup(std::uint8_t* buffer, const Group& group, bool intoColumns);
    void MoveBlock(std::uint8_t* buffer, const Group& group, std::uint32_t x, std::uint32_t y1,
                   bool intoColumns);

    const vectors::Kernels& Kernels;
    std::uint32_t Width = 0;
    std::uint32_t Height = 0;
    std::uint32_t SpanWidth = 0;
    std::uint32_t GroupHeight = 0;
    LargeBlock Pixels;
};

// Where the groups of a picture lie in its file's rows of rowLength bytes at depth, and how many
// of a group's rows move at once: a piece, whose bytes stay in the processor's cache between the
// file and the gray rows.
class FileRows {
  public:
    FileRows(const GrayPicture& picture, std::int32_t depth, std::size_t rowLength);

    std::uint32_t RowsPerPiece() const { return Rows; }
    // The bytes that a piece of rows takes at most.
    std::size_t PieceBytes() const { return Bytes; }
    // The bytes of a group's columns in each row: up to the row's end, its padding included, for
    // the row's last columns.
    std::size_t RowBytes(const Group& group) const {
        return Offset(group.Left + group.Columns) - Offset(group.Left);
    }
    // Where a group's columns start in the given file row, from the first row's start.
    std::uint64_t Start(const Group& group, std::uint64_t fileRow) const {
        return fileRow * RowLength + Offset(group.Left);
    }
    // The bytes that the encoded pixels of a row's columns take.
    std::size_t PixelBytes(std::uint32_t columns) const {
        return (std::size_t{columns} * Depth + 7) / 8;
    }

  private:
    // Where column x starts in a row; a span starts at a whole byte, being a multiple of eight
    // columns wide.
    std::size_t Offset(std::uint32_t x) const {
        return x == Width ? RowLength : std::size_t{x} * Depth / 8;
    }

    std::uint32_t Width;
    std::uint32_t Depth;
    std::size_t RowLength;
    std::uint32_t Rows;
    std::size_t Bytes;
};

} // namespace dorvane
