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

// Rows move between the file and the columns in groups of GroupRows, in blocks of BlockSide rows
// and columns: a column then takes a whole cache line of a group at once.
constexpr std::uint32_t BlockSide = 16;
constexpr std::uint32_t GroupRows = 64;

// The gray picture. Rows move between it and the file in groups of GroupRows, held row after row
// in a buffer of the caller's: group g holds rows GroupRows g .. GroupRows (g + 1) - 1 that exist.
class GrayPicture {
  public:
    // False when memory runs out.
    bool Allocate(std::uint32_t width, std::uint32_t height) {
        Width = width;
        Height = height;
        Pixels = AllocateLargeBlock(std::size_t{width} * height);
        return static_cast<bool>(Pixels);
    }

    GrayColumns Columns() const { return {Pixels.get(), Width, Height}; }
    std::size_t GroupBytes() const { return std::size_t{Width} * GroupRows; }
    // Row y in the buffer of its group.
    std::uint8_t* Row(std::uint8_t* group, std::uint32_t y) const {
        return group + std::size_t{y % GroupRows} * Width;
    }

    // Groups in the file's order, which starts at the bottom of the picture: how many there are,
    // the first row of the i-th and its rows, and the file row (0 at the bottom) it starts at.
    std::uint32_t Groups() const { return (Height + GroupRows - 1) / GroupRows; }
    std::uint32_t GroupTop(std::uint32_t i) const { return (Groups() - 1 - i) * GroupRows; }
    std::uint32_t GroupHeight(std::uint32_t i) const {
        return std::min(GroupRows, Height - GroupTop(i));
    }
    std::uint64_t GroupFileRow(std::uint32_t i) const {
        return Height - GroupTop(i) - GroupHeight(i);
    }

    // The group of row y from its buffer into the columns, or back.
    void StoreGroup(std::uint8_t* group, std::uint32_t y) { MoveGroup(group, y, true); }
    void LoadGroup(std::uint8_t* group, std::uint32_t y) { MoveGroup(group, y, false); }

  private:
    static constexpr std::uint32_t Ahead = 4 * BlockSide;

    void MoveGroup(std::uint8_t* group, std::uint32_t y, bool intoColumns) {
        const std::uint32_t y0 = y / GroupRows * GroupRows;
        const std::uint32_t rows = std::min(GroupRows, Height - y0);
        const GrayColumns columns = Columns();
        std::uint32_t x = 0;
        if (rows >= BlockSide) {
            for (; x + BlockSide <= Width; x += BlockSide) {
                // The group's lines in the columns of a block further on, which the processor
                // does not fetch ahead by itself: they lie a column's length apart.
                for (std::uint32_t i = x + Ahead; i < std::min(Width, x + Ahead + BlockSide); ++i) {
                    __builtin_prefetch(columns.Column(i) + y0);
                    __builtin_prefetch(columns.Column(i) + y0 + rows - 1);
                }
                // A group of rows that is not a whole number of blocks ends with a block that
                // overlaps the one before: its cells move twice, the same both times.
                for (std::uint32_t y1 = y0; y1 < y0 + rows; y1 += BlockSide) {
                    MoveBlock(group, x, std::min(y1, y0 + rows - BlockSide), intoColumns);
                }
            }
        }
        for (; x < Width; ++x) {
            std::uint8_t* column = columns.Column(x) + y0;
            for (std::uint32_t i = 0; i < rows; ++i) {
                std::uint8_t& cell = Row(group, y0 + i)[x];
                if (intoColumns) {
                    column[i] = cell;
                } else {
                    cell = column[i];
                }
            }
        }
    }

    // The block of BlockSide rows from y1 and columns from x, between group and columns.
    void MoveBlock(std::uint8_t* group, std::uint32_t x, std::uint32_t y1, bool intoColumns) {
        const GrayColumns columns = Columns();
        ByteRunsOut rowRuns;
        ByteRunsOut columnRuns;
        for (std::uint32_t i = 0; i < BlockSide; ++i) {
            rowRuns[i] = Row(group, y1 + i) + x;
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

// A group's rows move between file and columns PieceRows at a time, whose bytes stay in the
// processor's cache between the file and the gray rows.
constexpr std::uint32_t PieceRows = 16;

// A group's gray rows, and a piece of its rows as the file holds them.
struct GroupBuffers {
    GroupBuffers(const GrayPicture& picture, std::size_t rowLength)
        : Rows(picture.GroupBytes()), Bytes(rowLength * PieceRows) {}
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
    // enough that the threads rarely wait for each other at the file's lock.
    static constexpr std::uint32_t MaxPieces = 12;
    static constexpr std::uint32_t PieceSpacing = 4;

    // How many pieces go between groups many groups: none for too few to go between.
    static std::uint32_t PiecesAmong(std::uint32_t groups) {
        return std::min(MaxPieces, groups / (PieceSpacing - 1));
    }
    void ReservePiece(std::uint32_t piece) const {
        const std::uint64_t from = Size * piece / Pieces;
        platform::Reserve(Output, from, Size * (piece + 1) / Pieces - from);
    }
};

// Reads the rows of an 8, 24 or 32 bpp file into the picture, a group at a time, as the luma of
// their pixels: at 8 bpp each index gives the luma of its palette entry.
class RowReader {
  public:
    RowReader(GrayPicture& picture, const BitmapImage& format, std::size_t rowLength)
        : Picture(picture), Depth(format.GetBitDepth()), RowLength(rowLength) {
        const std::span<const PixelRgba> palette = format.PaletteEntries();
        for (std::size_t i = 0; i < PaletteLuma.size() && i < palette.size(); ++i) {
            PaletteLuma[i] =
                static_cast<std::uint8_t>(Luma(palette[i].Red, palette[i].Green, palette[i].Blue));
        }
    }

    // From the stream's position on, in the file's order; the first row that does not arrive
    // whole ends the reading, and it and every row after it are white.
    void ReadInOrder(std::FILE* stream) const {
        GroupBuffers buffers(Picture, RowLength);
        bool whole = true;
        for (std::uint32_t i = 0; i < Picture.Groups(); ++i) {
            whole =
                ReadGroup(i, buffers, [&](std::uint8_t* bytes, std::size_t size, std::uint64_t) {
                    return whole ? std::fread(bytes, 1, size, stream) : std::size_t{0};
                });
        }
    }

    // Each group from its place in the file of stream, whose rows start at rowsStart, on up to
    // threads threads, which reserve the output's pieces between groups. Of a file that does not
    // change meanwhile, the same rows as in order.
    void ReadInPlace(std::FILE* stream, std::uint64_t rowsStart, std::uint32_t threads,
                     const Reservation& reservation) const {
        constexpr std::uint32_t Spacing = Reservation::PieceSpacing;
        const std::uint32_t pieces = reservation.Pieces;
        ShareGroups(
            Picture.Groups() + pieces, threads, [this] { return GroupBuffers(Picture, RowLength); },
            [&](std::uint32_t item, GroupBuffers& buffers) {
                if (item % Spacing == Spacing - 1 && item / Spacing < pieces) {
                    reservation.ReservePiece(item / Spacing);
                    return true;
                }
                const std::uint32_t i = item - std::min(pieces, item / Spacing);
                const std::uint64_t start = rowsStart + Picture.GroupFileRow(i) * RowLength;
                ReadGroup(i, buffers,
                          [&](std::uint8_t* bytes, std::size_t size, std::uint64_t offset) {
                              return platform::ReadAt(stream, bytes, size, start + offset);
                          });
                return true;
            });
    }

  private:
    // The i-th group, its bytes from read(bytes, size, offset in the group) a piece at a time:
    // its whole rows, then white from the first row that did not arrive whole. Returns whether
    // every row arrived.
    template <class Read>
    bool ReadGroup(std::uint32_t i, GroupBuffers& buffers, const Read& read) const {
        const std::uint32_t top = Picture.GroupTop(i);
        const std::uint32_t height = Picture.GroupHeight(i);
        const std::uint32_t width = Picture.Columns().Width;
        // The luma of white, as the pixels of rows that never arrived are.
        static const auto white = static_cast<std::uint8_t>(Luma(255, 255, 255));
        bool whole = true;
        for (std::uint32_t r0 = 0; r0 < height; r0 += PieceRows) {
            const std::uint32_t rows = std::min(PieceRows, height - r0);
            const std::size_t size = rows * RowLength;
            const std::size_t got = whole ? read(buffers.Bytes.data(), size, r0 * RowLength) : 0;
            whole = got == size;
            for (std::uint32_t r = 0; r < rows; ++r) {
                std::uint8_t* gray = Picture.Row(buffers.Rows.data(), top + height - 1 - r0 - r);
                const std::uint8_t* row = buffers.Bytes.data() + r * RowLength;
                if ((r + 1) * RowLength > got) {
                    std::fill_n(gray, width, white);
                } else if (Depth == 8) {
                    LookUpBytes(PaletteLuma, row, width, gray);
                } else {
                    LumaRowOfFile(row, Depth, gray, width);
                }
            }
        }
        Picture.StoreGroup(buffers.Rows.data(), top);
        return whole;
    }

    GrayPicture& Picture;
    std::int32_t Depth;
    std::size_t RowLength;
    std::array<std::uint8_t, 256> PaletteLuma{};
};

// How many threads a pass over the picture uses, when asked for threads (0: as many as pay).
std::uint32_t ThreadsFor(std::uint32_t threads, const GrayPicture& picture) {
    const GrayColumns columns = picture.Columns();
    return threads != 0 ? threads : ThreadsWorthFor(std::uint64_t{columns.Width} * columns.Height);
}

// Opens output in file, where a replacement is written (not a device, pipe or socket), to
// reserve the space of the picture's rows at depth while the source is read. An output that
// cannot be opened now is left to the store, which then says why, as is the output of a picture
// too small to reserve for. No reservation when the output was not opened.
Reservation OpenToReserve(const char* output, FileReplacement& file, const GrayPicture& picture,
                          std::int32_t depth) {
    const std::uint32_t pieces = Reservation::PiecesAmong(picture.Groups());
    if (output == nullptr || pieces == 0) {
        return {};
    }
    const GrayColumns columns = picture.Columns();
    const platform::PathKind kind = platform::Reach(output).Kind;
    try {
        if ((kind != platform::PathKind::RegularFile && kind != platform::PathKind::Missing) ||
            !file.Open(output)) {
            return {};
        }
    } catch (const std::bad_alloc&) {
        file.Abandon();
        return {};
    }
    return {file.Stream(),
            BmpRowLength(static_cast<std::int32_t>(columns.Width), depth) * columns.Height, pieces};
}

// The source's luma into the picture, on up to threads threads (0: as many as pay). With more
// than one, output is opened in file meanwhile, where that pays, and its space reserved. False
// when the file cannot be read or memory runs out; failure then says why.
bool Load(const char* source, GrayPicture& picture, BitmapImage& format, std::uint32_t threads,
          const char* output, FileReplacement& file, FileFailure& failure) {
    std::vector<std::uint8_t> group; // 1, 4 and 16 bpp: the rows of the group being read
    const auto start = [&](std::int32_t width, std::int32_t height) {
        return picture.Allocate(static_cast<std::uint32_t>(width),
                                static_cast<std::uint32_t>(height));
    };
    // Blocks come bottom block first, each block from its last row up: a group is complete once
    // its first row arrives.
    const auto take = [&](const PixelBlock& block) {
        group.resize(picture.GroupBytes());
        for (std::int32_t r = block.Rows - 1; r >= 0; --r) {
            const auto y = static_cast<std::uint32_t>(block.YLow + r);
            LumaRow(block.Pixels.data() + static_cast<std::size_t>(r) * block.Stride,
                    picture.Row(group.data(), y), picture.Columns().Width);
            if (y % GroupRows == 0) {
                picture.StoreGroup(group.data(), y);
            }
        }
    };
    const auto readFileRows = [&](std::FILE* stream, std::size_t rowLength) {
        const RowReader rows(picture, format, rowLength);
        const std::uint32_t used = ThreadsFor(threads, picture);
        const long rowsStart =
            used > 1 && platform::IsRegularFile(stream) ? std::ftell(stream) : -1;
        if (rowsStart >= 0) {
            rows.ReadInPlace(stream, static_cast<std::uint64_t>(rowsStart), used,
                             OpenToReserve(output, file, picture, format.GetBitDepth()));
        } else {
            rows.ReadInOrder(stream);
        }
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
          RowLength(static_cast<std::size_t>(BmpRowLength(
              static_cast<std::int32_t>(picture.Columns().Width), format.GetBitDepth()))) {}

    // Every group into stream after what it holds. False when a write failed; error then says
    // why.
    bool WriteInOrder(std::FILE* stream, int& error) const {
        GroupBuffers buffers(Picture, RowLength);
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
            Picture.Groups(), threads, [this] { return GroupBuffers(Picture, RowLength); },
            [&](std::uint32_t i, GroupBuffers& buffers) {
                const std::uint64_t start = rowsStart + Picture.GroupFileRow(i) * RowLength;
                return WriteGroup(
                    i, buffers,
                    [&](const std::uint8_t* bytes, std::size_t size, std::uint64_t offset) {
                        int why = 0;
                        if (platform::WriteAt(stream, bytes, size, start + offset, why)) {
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
    // write(bytes, size, offset in the group) in the file's order. Returns whether every write
    // succeeded; stops at the first that did not.
    template <class Write>
    bool WriteGroup(std::uint32_t i, GroupBuffers& buffers, const Write& write) const {
        const std::uint32_t top = Picture.GroupTop(i);
        const std::uint32_t height = Picture.GroupHeight(i);
        const auto width = static_cast<std::int32_t>(Picture.Columns().Width);
        Picture.LoadGroup(buffers.Rows.data(), top);
        for (std::uint32_t r0 = 0; r0 < height; r0 += PieceRows) {
            const std::uint32_t rows = std::min(PieceRows, height - r0);
            for (std::uint32_t r = 0; r < rows; ++r) {
                Encode(Picture.Row(buffers.Rows.data(), top + height - 1 - r0 - r), width,
                       buffers.Bytes.data() + r * RowLength);
            }
            if (!write(buffers.Bytes.data(), rows * RowLength, r0 * RowLength)) {
                return false;
            }
        }
        return true;
    }

    GrayPicture& Picture;
    FastGrayRowEncoder Encode;
    std::size_t RowLength;
};

// The picture to output, at depth with the standard palette and the resolution of a new image,
// through file (opened here unless the load opened it), replacing the file only when all of it
// was written. With more than one thread, a file that takes positioned writes gets its groups of
// rows from every thread at once. False when the file was not written; failure then says why.
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
    } else if (threads > 1 && platform::IsRegularFile(stream)) {
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

JobResult RunBlurJob(const char* source, const char* output, std::uint32_t threads,
                     FileFailure& failure) {
    failure = {};
    GrayPicture picture;
    FileReplacement file; // abandoned, leaving nothing, when the job fails before it is stored
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
        return Store(output, picture, SourceBitDepth, threads, file, failure)
                   ? JobResult::Done
                   : JobResult::OutputFailed;
    } catch (const std::bad_alloc&) {
        failure = SystemFailure(FailedFile::Output, FailureKind::Write, ENOMEM);
        return JobResult::OutputFailed;
    }
}

} // namespace dorvane
