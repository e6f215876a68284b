// BMPBlur's job on bytes. Every value of the job is a byte at every step (the luma is floored,
// the blur truncates an average), so one gray picture of a byte per pixel carries it from the
// file's rows to the file's rows: a fifth of the memory of the three work planes, and no
// per-column allocations (gray_picture.hpp). Here: reading the source into it, blurring it and
// writing it out, on as many threads as pay.
#include "blur_job.hpp"

#include "bitmap_image.hpp"
#include "bmp_headers.hpp"
#include "bmp_output.hpp"
#include "bmp_pixel_blocks.hpp"
#include "bmp_writer.hpp"
#include "byte_blur.hpp"
#include "byte_lookup.hpp"
#include "gray_picture.hpp"
#include "gray_planes.hpp"
#include "gray_row_encoding.hpp"
#include "kernels.hpp"
#include "output_reservation.hpp"
#include "pipeline_state.hpp"
#include "row_source.hpp"
#include "work_sharing.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <new>
#include <span>
#include <vector>

namespace dorvane {
namespace {

// A group's gray rows, and a piece of its rows as the file holds them.
struct GroupBuffers {
    GroupBuffers(const GrayPicture& picture, const FileRows& file)
        : Rows(picture.GroupBytes()), Bytes(file.PieceBytes()) {}
    std::vector<std::uint8_t> Rows;
    std::vector<std::uint8_t> Bytes;
};

// Reads the rows of an 8, 24 or 32 bpp file into the picture, a group at a time, as the luma of
// their pixels: at 8 bpp each index gives the luma of its palette entry. The first row that does
// not arrive whole, and every row after it, is white.
class RowReader {
  public:
    RowReader(GrayPicture& picture, const BitmapImage& format, std::size_t rowLength,
              const vectors::Kernels& kernels)
        : Picture(picture), Kernels(kernels), Depth(format.GetBitDepth()),
          File(picture, format.GetBitDepth(), rowLength) {
        const std::span<const PixelRgba> palette = format.PaletteEntries();
        for (std::size_t i = 0; i < PaletteLuma.size() && i < palette.size(); ++i) {
            PaletteLuma[i] =
                static_cast<std::uint8_t>(Luma(palette[i].Red, palette[i].Green, palette[i].Blue));
        }
    }

    // Every group from rows, on up to threads threads where rows can be read in place, which
    // reserve the output's pieces between groups. Returns how many rows arrived whole; the rest
    // are white.
    std::uint32_t Read(const RowSource& rows, std::uint32_t threads,
                       const OutputReservation& reservation) const {
        return Finish(ReadRowPieces(
            rows, Picture.Groups(), threads, reservation,
            [this] { return GroupBuffers(Picture, File); },
            [this](std::uint32_t i, GroupBuffers& buffers, const auto& read) {
                return ReadGroup(i, buffers, read);
            }));
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
                    Kernels.Luma(row, static_cast<std::size_t>(Depth / 8), group.Columns, gray);
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
    const vectors::Kernels& Kernels;
    std::int32_t Depth;
    FileRows File;
    std::array<std::uint8_t, 256> PaletteLuma{};
};

// The length of the rows of picture at depth in a file.
std::uint64_t RowsSize(const GrayPicture& picture, std::int32_t depth) {
    const GrayColumns columns = picture.Columns();
    return BmpRowLength(static_cast<std::int32_t>(columns.Width), depth) * columns.Height;
}

// The source's luma into the picture, on up to threads threads, which the job asked for (0: as
// many as pay) and which become the job's count once the picture's size is known. With more
// than one, output is opened meanwhile, where that pays, and its space reserved. source: a path
// or a file's bytes. False when the file cannot be read or memory runs out; failure then says
// why.
template <class Input>
bool Load(const Input& source, GrayPicture& picture, const vectors::Kernels& kernels,
          BitmapImage& format, std::uint32_t& threads, BmpDestination& output,
          FileFailure& failure) {
    std::vector<std::uint8_t> buffer; // 1, 4 and 16 bpp: the rows of the group being read
    const auto start = [&](std::int32_t width, std::int32_t height) {
        threads =
            ResolveThreads(threads, Share::PictureBytes,
                           static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height));
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
                kernels.Luma(reinterpret_cast<const std::uint8_t*>(pixels + (x - left)),
                             sizeof(PixelRgba), count,
                             picture.Row(buffer.data(), group, y) + (x - group.Left));
                x += count;
                if (y == group.Top && x == group.Left + group.Columns) {
                    picture.StoreGroup(buffer.data(), group);
                }
            }
        }
    };
    const auto readFileRows = [&](ByteSource& bytes, std::size_t rowLength) {
        return ReadRowsOf(bytes, rowLength, picture.Columns().Height, [&](const RowSource& rows) {
            const RowReader reader(picture, format, rowLength, kernels);
            return reader.Read(
                rows, threads,
                threads > 1 && rows.InPlace()
                    ? output.Reserve(RowsSize(picture, format.GetBitDepth()), picture.Groups())
                    : OutputReservation());
        });
    };
    const PixelBlockSink sink{start, take, readFileRows};
    return ReadBmpPixels(format, source, sink, failure);
}

// Writes the picture's rows to a file in the file's order, a group at a time: its rows out of the
// columns, then each row into its bytes.
class RowWriter final : public RowWriting {
  public:
    RowWriter(GrayPicture& picture, const BitmapImage& format, const vectors::Kernels& kernels)
        : Picture(picture), Encode(format, kernels),
          File(picture, format.GetBitDepth(),
               static_cast<std::size_t>(BmpRowLength(
                   static_cast<std::int32_t>(picture.Columns().Width), format.GetBitDepth()))) {}

    // Every group into stream after what it holds. False when a write failed; error then says
    // why.
    bool WriteInOrder(std::FILE* stream, int& error) const override {
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

    // Every group at its place in to, on up to threads threads. False when a write failed; error
    // then says why.
    bool WriteInPlace(const RowDestination& to, std::uint32_t threads, int& error) const override {
        return WritePiecesInPlace(
            to, Picture.Groups(), threads, [this] { return GroupBuffers(Picture, File); },
            [this](std::uint32_t i, GroupBuffers& buffers, const auto& write) {
                return WriteGroup(i, buffers, write);
            },
            error);
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

// The picture to output, at depth with the standard palette and the resolution of a new image
// (StoreBmp). False when the file was not written; failure then says why.
bool Store(BmpDestination& output, GrayPicture& picture, const vectors::Kernels& kernels,
           std::int32_t depth, std::uint32_t threads, FileFailure& failure) {
    BitmapImage format;
    if (!format.ChangeBitDepth(depth)) {
        failure = MemoryFailure(FailedFile::Output);
        return false;
    }
    const GrayColumns columns = picture.Columns();
    const RowWriter rows(picture, format, kernels);
    return output.Store(format, columns.Width, columns.Height, rows, threads, failure);
}

template <class Input>
JobResult RunGray(const Input& source, BmpDestination& output, const JobOptions& options,
                  GrayPass pass, FileFailure& failure) {
    failure = {};
    // The kernels of the path in use, for every part of the job.
    const vectors::Kernels& kernels = vectors::InUse();
    GrayPicture picture(kernels);
    std::uint32_t threads = options.Threads; // the job's count once Load knows the size
    std::int32_t depth = 0;
    try {
        BitmapImage format;
        if (!Load(source, picture, kernels, format, threads, output, failure)) {
            return JobResult::SourceFailed;
        }
        depth = format.GetBitDepth();
    } catch (const std::bad_alloc&) {
        failure = MemoryFailure(FailedFile::Source); // setting up the sink, before reading
        return JobResult::SourceFailed;
    }
    // As after a load and the release at the end of a call.
    ReleasePlanes();
    const GrayColumns columns = picture.Columns();
    PlaneWidth = columns.Width;
    PlaneHeight = columns.Height;
    SourceBitDepth = static_cast<std::int8_t>(depth);

    if (!pass(columns, threads)) {
        failure = MemoryFailure(FailedFile::Source, columns.Width, columns.Height);
        return JobResult::SourceFailed;
    }
    try {
        // The store starts a failure of its own; what the load found of the source stays.
        const FileFailure loaded = failure;
        if (!Store(output, picture, kernels, SourceBitDepth, threads, failure)) {
            return JobResult::OutputFailed;
        }
        failure = loaded;
        return JobResult::Done;
    } catch (const std::bad_alloc&) {
        failure = MemoryFailure(FailedFile::Output);
        return JobResult::OutputFailed;
    }
}

// A blur pass: once a thread was found without a processor of its own, the job stays on one.
bool Blur(const GrayColumns& picture, std::uint32_t& threads) {
    if (!BlurGrayColumns(picture, threads)) {
        threads = 1;
    }
    return true;
}

} // namespace

JobResult RunGrayJob(const char* source, const char* output, const JobOptions& options,
                     GrayPass pass, FileFailure& failure) {
    BmpDestination file(output, options.Sync ? Durability::Disk : Durability::Process);
    return RunGray(source, file, options, pass, failure);
}

JobResult RunGrayJob(std::span<const std::uint8_t> source, std::vector<std::uint8_t>& output,
                     const JobOptions& options, GrayPass pass, FileFailure& failure) {
    BmpDestination bytes(output);
    return RunGray(source, bytes, options, pass, failure);
}

JobResult RunBlurJob(const char* source, const char* output, const JobOptions& options,
                     FileFailure& failure) {
    return RunGrayJob(source, output, options, Blur, failure);
}

JobResult RunBlurJob(std::span<const std::uint8_t> source, std::vector<std::uint8_t>& output,
                     const JobOptions& options, FileFailure& failure) {
    return RunGrayJob(source, output, options, Blur, failure);
}

} // namespace dorvane
