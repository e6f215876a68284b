// BMPBlur's job on bytes. Every value of the job is a byte at every step (the luma is floored,
// the blur truncates an average), so one gray picture of a byte per pixel carries it from the
// file's rows to the file's rows: a fifth of the memory of the three work planes, and no
// per-column allocations. The picture is column-major, as the blur wants it; rows move in and
// out of it in groups, transposed sixteen by sixteen.
#include "blur_job.hpp"

#include "bitmap_image.hpp"
#include "block_handoff.hpp"
#include "bmp_headers.hpp"
#include "bmp_pixel_blocks.hpp"
#include "bmp_writer.hpp"
#include "byte_blur.hpp"
#include "byte_transpose.hpp"
#include "file_replacement.hpp"
#include "gray_planes.hpp"
#include "gray_row_encoding.hpp"
#include "large_block.hpp"
#include "pipeline_state.hpp"
#include "platform.hpp"
#include "row_blocks.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <optional>
#include <span>
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

    // The group of row y from its buffer into the columns, or back.
    void StoreGroup(std::uint8_t* group, std::uint32_t y) { MoveGroup(group, y, true); }
    void LoadGroup(std::uint8_t* group, std::uint32_t y) { MoveGroup(group, y, false); }

  private:
    void MoveGroup(std::uint8_t* group, std::uint32_t y, bool intoColumns) {
        const std::uint32_t y0 = y / GroupRows * GroupRows;
        const std::uint32_t rows = std::min(GroupRows, Height - y0);
        const GrayColumns columns = Columns();
        std::uint32_t x = 0;
        if (rows == GroupRows) {
            for (; x + BlockSide <= Width; x += BlockSide) {
                for (std::uint32_t y1 = y0; y1 < y0 + GroupRows; y1 += BlockSide) {
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

    static ByteRuns Runs(const ByteRunsOut& runs) {
        ByteRuns constant;
        std::copy(runs.begin(), runs.end(), constant.begin());
        return constant;
    }

    std::uint32_t Width = 0;
    std::uint32_t Height = 0;
    LargeBlock Pixels;
};

// The source's luma into the picture. False when the file cannot be read or memory runs out;
// failure then says why. When helped, a helper thread moves each group of rows into the columns
// while the next is read; helped turns false when the helper could not keep up.
bool Load(const char* source, GrayPicture& picture, BitmapImage& format, bool& helped,
          FileFailure& failure) {
    std::uint32_t width = 0;
    std::optional<BlockHandoff> groups;
    std::uint8_t* group = nullptr; // the buffer of the group being read
    const auto start = [&](std::int32_t w, std::int32_t h) {
        width = static_cast<std::uint32_t>(w);
        if (!picture.Allocate(width, static_cast<std::uint32_t>(h))) {
            return false;
        }
        groups.emplace(
            picture.GroupBytes(),
            [&picture](std::uint8_t* rows, std::size_t, std::uint32_t y) {
                picture.StoreGroup(rows, y);
                return true;
            },
            helped && static_cast<std::uint32_t>(h) > GroupRows);
        return true;
    };
    // Rows come bottom block first, each block from its last row up: a group is complete once
    // its first row arrives.
    const auto rowOf = [&](std::uint32_t y) {
        if (group == nullptr) {
            group = groups->Next();
        }
        return picture.Row(group, y);
    };
    const auto taken = [&](std::uint32_t y) {
        if (y % GroupRows == 0) {
            groups->HandOver(picture.GroupBytes(), y);
            group = nullptr;
        }
    };
    const auto take = [&](const PixelBlock& block) {
        for (std::int32_t r = block.Rows - 1; r >= 0; --r) {
            const auto y = static_cast<std::uint32_t>(block.YLow + r);
            LumaRow(block.Pixels.data() + static_cast<std::size_t>(r) * block.Stride, rowOf(y),
                    width);
            taken(y);
        }
    };
    // 8, 24 and 32 bpp rows straight from the file's bytes; at 8 bpp each index gives the luma
    // of its palette entry.
    std::array<std::uint8_t, 256> paletteLuma{};
    bool paletteKnown = false;
    const auto takeFileRows = [&](const std::uint8_t* rows, std::size_t rowLength,
                                  std::int32_t count, std::int32_t yFirst) {
        const std::int32_t depth = format.GetBitDepth();
        if (depth == 8 && !paletteKnown) {
            const std::span<const PixelRgba> palette = format.PaletteEntries();
            for (std::size_t i = 0; i < paletteLuma.size(); ++i) {
                paletteLuma[i] = static_cast<std::uint8_t>(
                    Luma(palette[i].Red, palette[i].Green, palette[i].Blue));
            }
            paletteKnown = true;
        }
        for (std::int32_t r = 0; r < count; ++r) {
            const auto y = static_cast<std::uint32_t>(yFirst - r);
            const std::uint8_t* row = rows + static_cast<std::size_t>(r) * rowLength;
            if (depth == 8) {
                std::transform(row, row + width, rowOf(y),
                               [&](std::uint8_t index) { return paletteLuma[index]; });
            } else {
                LumaRowOfFile(row, depth, rowOf(y), width);
            }
            taken(y);
        }
    };
    const PixelBlockSink sink{start, take, takeFileRows};
    if (!ReadBmpPixels(format, source, sink, failure)) {
        return false;
    }
    // Storing a group cannot fail: this only waits for the helper's last one.
    static_cast<void>(groups->Finish());
    helped = helped && !groups->GaveUpHelper();
    return true;
}

// The picture to output, at depth with the standard palette and the resolution of a new image,
// replacing the file only when all of it was written. Rows are encoded bottom-up in blocks while
// a helper thread, when helped, writes the block before. False when the file was not written;
// failure then says why.
bool Store(const char* output, GrayPicture& picture, std::int32_t depth, bool helped,
           FileFailure& failure) {
    BitmapImage format;
    if (!VerifyTypeSizes() || !format.ChangeBitDepth(depth)) {
        failure = SystemFailure(FailedFile::Output, FailureKind::Write, ENOMEM);
        return false;
    }
    const FastGrayRowEncoder encode(format);
    const GrayColumns columns = picture.Columns();
    const auto width = static_cast<std::int32_t>(columns.Width);
    const auto height = static_cast<std::int32_t>(columns.Height);
    const auto rowLength = static_cast<std::size_t>(BmpRowLength(width, depth));
    const std::int32_t blockRows = std::min(RowsPerBlock(rowLength), height);
    FileReplacement file;
    if (!file.Open(output)) {
        failure = file.Failure();
        return false;
    }
    int writeError = 0; // written by whichever thread writes, read after the writer finished
    bool written = WriteBmpHeaders(format, width, height, file.Stream());
    if (!written) {
        writeError = errno;
    } else {
        std::FILE* const stream = file.Stream();
        BlockHandoff writer(
            rowLength * static_cast<std::size_t>(blockRows),
            [stream, &writeError](std::uint8_t* block, std::size_t bytes, std::uint32_t) {
                if (std::fwrite(block, 1, bytes, stream) == bytes) {
                    return true;
                }
                writeError = errno;
                return false;
            },
            helped && height > blockRows);
        std::vector<std::uint8_t> group(picture.GroupBytes());
        for (std::int32_t y = height - 1; y >= 0; y -= blockRows) {
            const std::int32_t count = std::min(blockRows, y + 1);
            std::uint8_t* rows = writer.Next();
            for (std::int32_t r = 0; r < count; ++r) {
                // Bottom-up, the first row asked for of a group is its last.
                const auto row = static_cast<std::uint32_t>(y - r);
                if (row + 1 == columns.Height || (row + 1) % GroupRows == 0) {
                    picture.LoadGroup(group.data(), row);
                }
                encode(picture.Row(group.data(), row), width,
                       rows + static_cast<std::size_t>(r) * rowLength);
            }
            writer.HandOver(rowLength * static_cast<std::size_t>(count));
        }
        written = writer.Finish();
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
    bool helped = threads == 0 ? platform::AvailableCores() > 1 : threads > 1;
    GrayPicture picture;
    std::int32_t depth = 0;
    try {
        BitmapImage format;
        if (!Load(source, picture, format, helped, failure)) {
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

    // Once a helper thread was found without a processor of its own, the job stays on one.
    const bool keptPace = BlurGrayColumns(columns, BlurCode::Fastest, helped ? threads : 1);
    helped = helped && keptPace;
    try {
        return Store(output, picture, SourceBitDepth, helped, failure) ? JobResult::Done
                                                                       : JobResult::OutputFailed;
    } catch (const std::bad_alloc&) {
        failure = SystemFailure(FailedFile::Output, FailureKind::Write, ENOMEM);
        return JobResult::OutputFailed;
    }
}

} // namespace dorvane
