// BMPBlur's job on bytes. Every value of the job is a byte at every step (the luma is floored,
// the blur truncates an average), so one gray picture of a byte per pixel carries it from the
// file's rows to the file's rows: a fifth of the memory of the three work planes, and no
// per-column allocations. The picture is column-major, as the blur wants it; rows move in and
// out of it in groups, transposed sixteen by sixteen.
#include "blur_job.hpp"

#include "bitmap_image.hpp"
#include "bmp_headers.hpp"
#include "bmp_pixel_blocks.hpp"
#include "bmp_writer.hpp"
#include "byte_blur.hpp"
#include "byte_lookup.hpp"
#include "byte_transpose.hpp"
#include "file_replacement.hpp"
#include "gray_planes.hpp"
#include "gray_row_encoding.hpp"
#include "large_block.hpp"
#include "pipeline_state.hpp"
#include "platform.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <memory>
#include <new>
#include <span>
#include <thread>
#include <vector>

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
    // False when memory runs out.
    bool Allocate(std::uint32_t width, std::uint32_t height) {
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
    void FillTop(std::uint32_t rows, std::uint8_t value) {
        if (rows == Height) { // the columns lie one after another
            std::fill_n(Pixels.get(), std::size_t{Width} * Height, value);
            return;
        }
        for (std::uint32_t x = 0; x < Width; ++x) {
            std::fill_n(Columns().Column(x), rows, value);
        }
    }

  private:
    static constexpr std::uint32_t Ahead = 4 * BlockSide;

    std::uint32_t RowGroups() const { return (Height + GroupHeight - 1) / GroupHeight; }
    std::uint32_t Spans() const { return (Width + SpanWidth - 1) / SpanWidth; }
    Group Around(std::uint32_t top, std::uint32_t left) const {
        return {top, std::min(GroupHeight, Height - top), left, std::min(SpanWidth, Width - left)};
    }

    void MoveGroup(std::uint8_t* buffer, const Group& group, bool intoColumns) {
        const std::uint32_t y0 = group.Top;
        const std::uint32_t rows = group.Rows;
        const std::uint32_t end = group.Left + group.Columns;
        const GrayColumns columns = Columns();
        std::uint32_t x = group.Left;
        if (rows >= BlockSide) {
            for (; x + BlockSide <= end; x += BlockSide) {
                // The group's lines in the columns of a block further on, which the processor
                // does not fetch ahead by itself: they lie a column's length apart.
                for (std::uint32_t i = x + Ahead; i < std::min(end, x + Ahead + BlockSide); ++i) {
                    __builtin_prefetch(columns.Column(i) + y0);
                    __builtin_prefetch(columns.Column(i) + y0 + rows - 1);
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
    void MoveBlock(std::uint8_t* buffer, const Group& group, std::uint32_t x, std::uint32_t y1,
                   bool intoColumns) {
        const GrayColumns columns = Columns();
        ByteRunsOut rowRuns;
        ByteRunsOut columnRuns;
        for (std::uint32_t i = 0; i < BlockSide; ++i) {
            rowRuns[i] = Row(buffer, group, y1 + i) + (x - group.Left);
            columnRuns[i] = columns.Column(x + i) + y1;
        }
        if (intoColumns) {
            TransposeBytes(Runs(rowRuns), columnRuns);
        } else {
            TransposeBytes(Runs(columnRuns), rowRuns);
        }
    }

    static ByteRuns Runs(const ByteRunsOut& runs) {
        ByteRuns constant;
        std::copy(runs.begin(), runs.end(), constant.begin());
        return constant;
    }

    std::uint32_t Width = 0;
    std::uint32_t Height = 0;
    std::uint32_t SpanWidth = 0;
    std::uint32_t GroupHeight = 0;
    LargeBlock Pixels;
};

// Calls work(i, buffers) for i = 0 .. count - 1 on up to threads threads, each taking the next i
// as it gets free and using buffers of its own (from make), so that no bytes pass between
// processors; stops early once work returns false. A thread that cannot be started, or cannot
// get its buffers, leaves its share to the others.
template <class Make, class Work>
void ShareGroups(std::uint32_t count, std::uint32_t threads, Make make, Work work) {
    std::atomic<std::uint32_t> next{0};
    std::atomic<bool> stopped{false};
    const auto take = [&](auto& buffers) {
        for (std::uint32_t i = next++; i < count && !stopped.load(); i = next++) {
            if (!work(i, buffers)) {
                stopped = true;
            }
        }
    };
    auto own = make();
    std::vector<std::jthread> helpers;
    for (std::uint32_t t = 1; t < std::min(threads, count); ++t) {
        try {
            helpers.emplace_back([&] {
                try {
                    auto buffers = make();
                    take(buffers);
                } catch (const std::bad_alloc&) {
                    // The other threads take its share.
                }
            });
        } catch (const std::exception&) {
            break; // fewer threads take the groups all the same
        }
    }
    take(own);
}

// A group's rows move between file and columns a piece at a time, whose bytes stay in the
// processor's cache between the file and the gray rows: PieceRows rows, or as many as keep a piece
// between MinPieceBytes and MaxPieceBytes (but at least a row).
constexpr std::uint32_t PieceRows = 16;
constexpr std::size_t MinPieceBytes = std::size_t{1} << 13;
constexpr std::size_t MaxPieceBytes = std::size_t{1} << 20;

// Where the groups of a picture lie in its file's rows of rowLength bytes at depth, and how many
// of a group's rows move at once.
class FileRows {
  public:
    FileRows(const GrayPicture& picture, std::int32_t depth, std::size_t rowLength)
        : Width(picture.Columns().Width), Depth(static_cast<std::uint32_t>(depth)),
          RowLength(rowLength), Rows(static_cast<std::uint32_t>(std::clamp(
                                    std::size_t{PieceRows}, MinPieceBytes / rowLength,
                                    std::max<std::size_t>(MaxPieceBytes / rowLength, 1)))),
          Bytes(Rows * Offset(picture.Span())) {}

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

// A group's gray rows, and a piece of its rows as the file holds them.
struct GroupBuffers {
    GroupBuffers(const GrayPicture& picture, const FileRows& file)
        : Rows(picture.GroupBytes()), Bytes(file.PieceBytes()) {}
    std::vector<std::uint8_t> Rows;
    std::vector<std::uint8_t> Bytes;
};

// The output's space, reserved while the source is read, a piece at a time between groups of
// rows: the reading threads allocate what the write would otherwise allocate while it holds the
// file's lock, one thread at a time.
struct Reservation {
    std::FILE* Output = nullptr;
    std::uint64_t Size = 0;
    std::uint32_t Pieces = 0; // none: nothing to reserve

    // Every PieceSpacing-th item of the reading's work is a piece, while pieces are left: small
    // enough that the threads rarely wait for each other at the file's lock. A large file is
    // reserved in more pieces, of at most PieceBytes each.
    static constexpr std::uint32_t MinPieces = 12;
    static constexpr std::uint64_t PieceBytes = std::uint64_t{16} << 20;
    static constexpr std::uint32_t PieceSpacing = 4;

    // How many pieces of size bytes go between groups many groups: none for too few to go
    // between.
    static std::uint32_t PiecesAmong(std::uint32_t groups, std::uint64_t size) {
        const std::uint64_t wanted = std::max<std::uint64_t>(MinPieces, size / PieceBytes + 1);
        return static_cast<std::uint32_t>(
            std::min<std::uint64_t>(wanted, groups / (PieceSpacing - 1)));
    }
    void ReservePiece(std::uint32_t piece) const {
        const std::uint64_t from = Size * piece / Pieces;
        platform::Reserve(Output, from, Size * (piece + 1) / Pieces - from);
    }
};

// Reads the rows of an 8, 24 or 32 bpp file into the picture, a group at a time, as the luma of
// their pixels: at 8 bpp each index gives the luma of its palette entry. The first row that does
// not arrive whole, and every row after it, is white.
class RowReader {
  public:
    RowReader(GrayPicture& picture, const BitmapImage& format, std::size_t rowLength)
        : Picture(picture), Depth(format.GetBitDepth()),
          File(picture, format.GetBitDepth(), rowLength) {
        const std::span<const PixelRgba> palette = format.PaletteEntries();
        for (std::size_t i = 0; i < PaletteLuma.size() && i < palette.size(); ++i) {
            PaletteLuma[i] =
                static_cast<std::uint8_t>(Luma(palette[i].Red, palette[i].Green, palette[i].Blue));
        }
    }

    // From the stream's position on, in the file's order, until a row does not arrive whole.
    // Returns how many rows did.
    std::uint32_t ReadInOrder(std::FILE* stream) const {
        GroupBuffers buffers(Picture, File);
        std::uint32_t whole = Height();
        for (std::uint32_t i = 0; i < Picture.Groups() && whole == Height(); ++i) {
            whole =
                ReadGroup(i, buffers, [&](std::uint8_t* bytes, std::size_t size, std::uint64_t) {
                    return std::fread(bytes, 1, size, stream);
                });
        }
        return Finish(whole);
    }

    // Each group from its place in the file of stream, whose rows start at rowsStart, on up to
    // threads threads, which reserve the output's pieces between groups. Of a file that does not
    // change meanwhile, the same rows as in order; returns how many arrived whole.
    std::uint32_t ReadInPlace(std::FILE* stream, std::uint64_t rowsStart, std::uint32_t threads,
                              const Reservation& reservation) const {
        constexpr std::uint32_t Spacing = Reservation::PieceSpacing;
        const std::uint32_t pieces = reservation.Pieces;
        std::atomic<std::uint32_t> whole{Height()};
        ShareGroups(
            Picture.Groups() + pieces, threads, [this] { return GroupBuffers(Picture, File); },
            [&](std::uint32_t item, GroupBuffers& buffers) {
                if (item % Spacing == Spacing - 1 && item / Spacing < pieces) {
                    reservation.ReservePiece(item / Spacing);
                    return true;
                }
                const std::uint32_t i = item - std::min(pieces, item / Spacing);
                const std::uint32_t arrived = ReadGroup(
                    i, buffers, [&](std::uint8_t* bytes, std::size_t size, std::uint64_t offset) {
                        return platform::ReadAt(stream, bytes, size, rowsStart + offset);
                    });
                // The rows below the first one missing in any group arrived.
                std::uint32_t seen = whole.load();
                while (arrived < seen && !whole.compare_exchange_weak(seen, arrived)) {
                }
                return true;
            });
        return Finish(whole.load());
    }

  private:
    std::uint32_t Height() const { return Picture.Columns().Height; }

    // The i-th group, its bytes from read(bytes, size, offset from the first row's start) a piece
    // at a time, until one does not arrive whole. Returns the file row of its first row that did
    // not arrive whole, or the picture's height; the group's rows from that one on are left to
    // Finish.
    template <class Read>
    std::uint32_t ReadGroup(std::uint32_t i, GroupBuffers& buffers, const Read& read) const {
        const Group group = Picture.GroupAt(i);
        const std::uint64_t fileRow = Picture.FileRow(group);
        // A group of several rows holds whole rows, so that the rows of a piece lie together.
        const std::size_t rowBytes = File.RowBytes(group);
        std::uint32_t arrived = Height();
        for (std::uint32_t r0 = 0; r0 < group.Rows; r0 += File.RowsPerPiece()) {
            const std::uint32_t rows = std::min(File.RowsPerPiece(), group.Rows - r0);
            const std::size_t size = rows * rowBytes;
            const std::size_t got =
                read(buffers.Bytes.data(), size, File.Start(group, fileRow + r0));
            for (std::uint32_t r = 0; r < got / rowBytes; ++r) {
                std::uint8_t* gray =
                    Picture.Row(buffers.Rows.data(), group, group.Top + group.Rows - 1 - r0 - r);
                const std::uint8_t* row = buffers.Bytes.data() + r * rowBytes;
                if (Depth == 8) {
                    LookUpBytes(PaletteLuma, row, group.Columns, gray);
                } else {
                    LumaRowOfFile(row, Depth, gray, group.Columns);
                }
            }
            if (got < size) {
                arrived = static_cast<std::uint32_t>(fileRow + r0 + got / rowBytes);
                break;
            }
        }
        Picture.StoreGroup(buffers.Rows.data(), group);
        return arrived;
    }

    // The rows from file row whole on white; returns whole.
    std::uint32_t Finish(std::uint32_t whole) const {
        // The luma of white, as the pixels of rows that never arrived are.
        static const auto white = static_cast<std::uint8_t>(Luma(255, 255, 255));
        Picture.FillTop(Height() - whole, white);
        return whole;
    }

    GrayPicture& Picture;
    std::int32_t Depth;
    FileRows File;
    std::array<std::uint8_t, 256> PaletteLuma{};
};

// How many threads a pass over the picture uses, when asked for threads (0: as many as pay).
std::uint32_t ThreadsFor(std::uint32_t threads, const GrayPicture& picture) {
    const GrayColumns columns = picture.Columns();
    return threads != 0 ? threads : ThreadsWorthFor(std::uint64_t{columns.Width} * columns.Height);
}

// Opens output in file, where a replacement is written (not a descriptor, device, pipe or
// socket), to reserve the space of the picture's rows at depth while the source is read. An
// output that cannot be opened now is left to the store, which then says why, as is the output of
// a picture too small to reserve for. No reservation unless a new file was opened.
Reservation OpenToReserve(const char* output, FileReplacement& file, const GrayPicture& picture,
                          std::int32_t depth) {
    const GrayColumns columns = picture.Columns();
    const std::uint64_t size =
        BmpRowLength(static_cast<std::int32_t>(columns.Width), depth) * columns.Height;
    const std::uint32_t pieces = Reservation::PiecesAmong(picture.Groups(), size);
    if (output == nullptr || pieces == 0) {
        return {};
    }
    const platform::PathKind kind = platform::Reach(output).Kind;
    try {
        // A FIFO is not opened before it is written: opening it waits for a reader.
        if ((kind != platform::PathKind::RegularFile && kind != platform::PathKind::Missing) ||
            !file.Open(output) || !file.WritesNewFile()) {
            return {};
        }
    } catch (const std::bad_alloc&) {
        file.Abandon();
        return {};
    }
    return {file.Stream(), size, pieces};
}

// The source's luma into the picture, on up to threads threads (0: as many as pay). With more
// than one, output is opened in file meanwhile, where that pays, and its space reserved. False
// when the file cannot be read or memory runs out; failure then says why.
bool Load(const char* source, GrayPicture& picture, BitmapImage& format, std::uint32_t threads,
          const char* output, FileReplacement& file, FileFailure& failure) {
    std::vector<std::uint8_t> buffer; // 1, 4 and 16 bpp: the rows of the group being read
    const auto start = [&](std::int32_t width, std::int32_t height) {
        return picture.Allocate(static_cast<std::uint32_t>(width),
                                static_cast<std::uint32_t>(height));
    };
    // Blocks come bottom block first, each block from its last row up and a row from its left:
    // a group is complete once the last of its columns in its first row arrives.
    const auto take = [&](const PixelBlock& block) {
        buffer.resize(picture.GroupBytes());
        const auto left = static_cast<std::uint32_t>(block.XLow);
        const auto end = left + static_cast<std::uint32_t>(block.Columns);
        for (std::int32_t r = block.Rows - 1; r >= 0; --r) {
            const auto y = static_cast<std::uint32_t>(block.YLow + r);
            const PixelRgba* pixels =
                block.Pixels.data() + static_cast<std::size_t>(r) * block.Stride;
            for (std::uint32_t x = left; x < end;) {
                const Group group = picture.GroupOf(x, y);
                const std::uint32_t count = std::min(end, group.Left + group.Columns) - x;
                LumaRow(pixels + (x - left),
                        picture.Row(buffer.data(), group, y) + (x - group.Left), count);
                x += count;
                if (y == group.Top && x == group.Left + group.Columns) {
                    picture.StoreGroup(buffer.data(), group);
                }
            }
        }
    };
    const auto readFileRows = [&](std::FILE* stream, std::size_t rowLength) {
        const RowReader rows(picture, format, rowLength);
        const std::uint32_t used = ThreadsFor(threads, picture);
        const long rowsStart =
            used > 1 && platform::IsRegularFile(stream) ? std::ftell(stream) : -1;
        const std::uint32_t whole =
            rowsStart >= 0
                ? rows.ReadInPlace(stream, static_cast<std::uint64_t>(rowsStart), used,
                                   OpenToReserve(output, file, picture, format.GetBitDepth()))
                : rows.ReadInOrder(stream);
        return static_cast<std::int32_t>(whole);
    };
    const PixelBlockSink sink{start, take, readFileRows};
    return ReadBmpPixels(format, source, sink, failure);
}

// Writes the picture's rows to a file in the file's order, a group at a time: its rows out of the
// columns, then each row into its bytes.
class RowWriter {
  public:
    RowWriter(GrayPicture& picture, const BitmapImage& format)
        : Picture(picture), Encode(format),
          File(picture, format.GetBitDepth(),
               static_cast<std::size_t>(BmpRowLength(
                   static_cast<std::int32_t>(picture.Columns().Width), format.GetBitDepth()))) {}

    // Every group into stream after what it holds. False when a write failed; error then says
    // why.
    bool WriteInOrder(std::FILE* stream, int& error) const {
        GroupBuffers buffers(Picture, File);
        for (std::uint32_t i = 0; i < Picture.Groups(); ++i) {
            const bool written = WriteGroup(
                i, buffers, [&](const std::uint8_t* bytes, std::size_t size, std::uint64_t) {
                    if (std::fwrite(bytes, 1, size, stream) == size) {
                        return true;
                    }
                    error = errno;
                    return false;
                });
            if (!written) {
                return false;
            }
        }
        return true;
    }

    // Every group at its place in the file of stream, whose rows start at rowsStart, on up to
    // threads threads. False when a write failed; error then says why.
    bool WriteInPlace(std::FILE* stream, std::uint64_t rowsStart, std::uint32_t threads,
                      int& error) const {
        std::atomic<int> failed{0};
        ShareGroups(
            Picture.Groups(), threads, [this] { return GroupBuffers(Picture, File); },
            [&](std::uint32_t i, GroupBuffers& buffers) {
                return WriteGroup(
                    i, buffers,
                    [&](const std::uint8_t* bytes, std::size_t size, std::uint64_t offset) {
                        int why = 0;
                        if (platform::WriteAt(stream, bytes, size, rowsStart + offset, why)) {
                            return true;
                        }
                        int none = 0;
                        failed.compare_exchange_strong(none, why);
                        return false;
                    });
            });
        error = failed.load();
        return error == 0;
    }

  private:
    // The i-th group out of the columns and encoded a piece at a time, each piece handed to
    // write(bytes, size, offset from the first row's start) in the file's order. Returns whether
    // every write succeeded; stops at the first that did not.
    template <class Write>
    bool WriteGroup(std::uint32_t i, GroupBuffers& buffers, const Write& write) const {
        const Group group = Picture.GroupAt(i);
        const std::uint64_t fileRow = Picture.FileRow(group);
        const std::size_t rowBytes = File.RowBytes(group);
        const std::size_t pixelBytes = File.PixelBytes(group.Columns);
        Picture.LoadGroup(buffers.Rows.data(), group);
        for (std::uint32_t r0 = 0; r0 < group.Rows; r0 += File.RowsPerPiece()) {
            const std::uint32_t rows = std::min(File.RowsPerPiece(), group.Rows - r0);
            for (std::uint32_t r = 0; r < rows; ++r) {
                std::uint8_t* bytes = buffers.Bytes.data() + r * rowBytes;
                Encode(Picture.Row(buffers.Rows.data(), group, group.Top + group.Rows - 1 - r0 - r),
                       static_cast<std::int32_t>(group.Columns), bytes);
                // The encoder leaves the padding at a row's end alone, where a wider span of the
                // row may have left its bytes.
                std::fill(bytes + pixelBytes, bytes + rowBytes, std::uint8_t{0});
            }
            if (!write(buffers.Bytes.data(), rows * rowBytes, File.Start(group, fileRow + r0))) {
                return false;
            }
        }
        return true;
    }

    GrayPicture& Picture;
    FastGrayRowEncoder Encode;
    FileRows File;
};

// The picture to output, at depth with the standard palette and the resolution of a new image,
// through file (opened here unless the load opened it), replacing the file only when all of it
// was written. With more than one thread, a new file gets its groups of rows from every thread at
// once; a descriptor, which may append, is written in order. False when the file was not written;
// failure then says why.
bool Store(const char* output, GrayPicture& picture, std::int32_t depth, std::uint32_t threads,
           FileReplacement& file, FileFailure& failure) {
    BitmapImage format;
    if (!VerifyTypeSizes() || !format.ChangeBitDepth(depth)) {
        failure = SystemFailure(FailedFile::Output, FailureKind::Write, ENOMEM);
        return false;
    }
    const GrayColumns columns = picture.Columns();
    const RowWriter rows(picture, format);
    if (file.Stream() == nullptr && !file.Open(output)) {
        failure = file.Failure();
        return false;
    }
    std::FILE* const stream = file.Stream();
    int writeError = 0;
    bool written = WriteBmpHeaders(format, static_cast<std::int32_t>(columns.Width),
                                   static_cast<std::int32_t>(columns.Height), stream);
    if (!written) {
        writeError = errno;
    } else if (threads > 1 && file.WritesNewFile()) {
        const long rowsStart = std::ftell(stream);
        written = rowsStart >= 0 && std::fflush(stream) == 0;
        if (!written) {
            writeError = errno;
        } else {
            written = rows.WriteInPlace(stream, static_cast<std::uint64_t>(rowsStart), threads,
                                        writeError);
        }
    } else {
        written = rows.WriteInOrder(stream, writeError);
    }
    if (!written) {
        file.WriteFailed(writeError);
    }
    const bool committed = file.Commit();
    failure = file.Failure();
    return committed;
}

} // namespace

JobResult RunBlurJob(const char* source, const char* output, const JobOptions& options,
                     FileFailure& failure) {
    failure = {};
    GrayPicture picture;
    // Abandoned, leaving nothing, when the job fails before it is stored.
    FileReplacement file(TemporaryFile::Unnamed,
                         options.Sync ? Durability::Disk : Durability::Process);
    std::uint32_t threads = options.Threads;
    std::int32_t depth = 0;
    try {
        BitmapImage format;
        if (!Load(source, picture, format, threads, output, file, failure)) {
            return JobResult::SourceFailed;
        }
        depth = format.GetBitDepth();
    } catch (const std::bad_alloc&) {
        failure = FormatFailure(FailureKind::OutOfMemory); // setting up the sink, before reading
        return JobResult::SourceFailed;
    }
    // As after a load and the release at the end of a call.
    ReleasePlanes();
    const GrayColumns columns = picture.Columns();
    PlaneWidth = columns.Width;
    PlaneHeight = columns.Height;
    SourceBitDepth = static_cast<std::int8_t>(depth);
    threads = ThreadsFor(threads, picture);

    // Once a thread was found without a processor of its own, the job stays on one.
    if (!BlurGrayColumns(columns, BlurCode::Fastest, threads)) {
        threads = 1;
    }
    try {
        // The store starts a failure of its own; what the load found of the source stays.
        const FileFailure loaded = failure;
        if (!Store(output, picture, SourceBitDepth, threads, file, failure)) {
            return JobResult::OutputFailed;
        }
        failure = loaded;
        return JobResult::Done;
    } catch (const std::bad_alloc&) {
        failure = SystemFailure(FailedFile::Output, FailureKind::Write, ENOMEM);
        return JobResult::OutputFailed;
    }
}

} // namespace dorvane
