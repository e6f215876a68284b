// Scaling on the blur job's engine: ScaleImage's pixels, byte for byte, a new row at a time from
// the two old rows it needs, which come from the file as they are needed (or from rows held in
// memory), in bands of rows on as many threads as pay.
//
// ScaleImage fills interior, last-column, last-row and corner pixels by three formulas; here they
// are one sum. On the last column the fraction along x is 0 and both neighbours lie on the old
// last column, on the last row likewise along y: the weights are then exactly 1 - f, f and
// zeros, and adding the products' +0 leaves the edges' two-term sums bit for bit (the products
// are never negative); the corner weighs its pixel by exactly 1.
#include "scale_job.hpp"

#include "bitmap_image.hpp"
#include "bmp_output.hpp"
#include "bmp_pixel_blocks.hpp"
#include "bmp_writer.hpp"
#include "kernels.hpp"
#include "row_source.hpp"
#include "work_sharing.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstddef>
#include <cstring>
#include <new>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace dorvane {
namespace {

// Where the new columns fall among the old ones, the same for every row: new column i takes old
// columns X0[i] and X1[i], and its bytes, gathered as GatheredAt lays them out with blue the
// pixels' byte Blue, the fraction Fx[vectors::GatheredIndex(i, ...)].
struct ScaleColumns {
    ScaleColumns(std::uint32_t width, std::uint32_t newWidth, std::size_t blue)
        : Blue(blue), X0(newWidth, width - 1), X1(newWidth, width - 1),
          Fx(std::size_t{12} * ((std::size_t{newWidth} + 3) / 4), 0.0) {
        for (std::uint32_t i = 0; i + 1 < newWidth; ++i) {
            const ScaleSample x =
                ScaleSampleAt(static_cast<std::int32_t>(i), static_cast<std::int32_t>(width),
                              static_cast<std::int32_t>(newWidth));
            X0[i] = static_cast<std::uint32_t>(x.Index);
            // Past the last column, in a picture one column wide, is the last column.
            X1[i] = std::min(X0[i] + 1, width - 1);
            for (std::size_t c = 0; c < 3; ++c) {
                Fx[vectors::GatheredIndex(i, c, blue)] = x.Fraction;
            }
        }
        for (const std::uint32_t pixelBytes : {3U, 4U}) {
            PlanWindows(pixelBytes, width);
        }
    }

    // The bytes of a new row, and of one gathered at x0 or x1.
    std::size_t Bytes() const { return 3 * X0.size(); }
    std::size_t GatheredBytes() const { return Fx.size(); }

    // Groups of four new columns whose x1 is x0 + 1 and whose bytes at x0 and x1 lie in 32 bytes
    // of a row from the first's x0 on (kernels.hpp GatherColumns), the first groups that do.
    struct Windows {
        std::vector<std::uint32_t> Starts;
        std::vector<std::uint8_t> Picks;
    };

    std::size_t Blue;
    std::vector<std::uint32_t> X0;
    std::vector<std::uint32_t> X1;
    std::vector<double> Fx;
    // For pixels of 3 bytes and of 4.
    std::array<Windows, 2> Windowed;

  private:
    void PlanWindows(std::uint32_t pixelBytes, std::uint32_t width) {
        Windows& windows = Windowed[pixelBytes - 3];
        for (std::size_t first = 0; first + 4 <= X0.size(); first += 4) {
            const std::uint64_t start = std::uint64_t{pixelBytes} * X0[first];
            if (start + 32 > std::uint64_t{pixelBytes} * width) {
                return;
            }
            std::array<std::uint8_t, 16> picks{};
            for (std::size_t b = 0; b < 12; ++b) {
                const vectors::GatheredByte at = vectors::GatheredAt(b, Blue);
                const std::size_t i = first + at.Pixel;
                const std::uint64_t pick = std::uint64_t{pixelBytes} * X0[i] + at.Channel - start;
                if (X1[i] != X0[i] + 1 || pick + pixelBytes >= 32) {
                    return;
                }
                picks[b] = static_cast<std::uint8_t>(pick);
            }
            windows.Starts.push_back(static_cast<std::uint32_t>(start));
            windows.Picks.insert(windows.Picks.end(), picks.begin(), picks.end());
        }
    }
};

// The old rows of new row j and its fraction.
struct RowSample {
    std::uint32_t Upper;
    std::uint32_t Lower;
    double Fy;
};

RowSample RowAt(std::uint32_t j, std::uint32_t height, std::uint32_t newHeight) {
    if (j + 1 == newHeight) {
        return {height - 1, height - 1, 0.0};
    }
    const ScaleSample y =
        ScaleSampleAt(static_cast<std::int32_t>(j), static_cast<std::int32_t>(height),
                      static_cast<std::int32_t>(newHeight));
    const auto upper = static_cast<std::uint32_t>(y.Index);
    return {upper, std::min(upper + 1, height - 1), y.Fraction};
}

// How the source's rows hold pixels: PixelBytes bytes each, 3 or 4, whose first three are the
// channels; or, PixelBytes 1, an index into Palette.
struct PixelLayout {
    std::size_t PixelBytes;
    std::array<std::array<std::uint8_t, 3>, 256> Palette;
};

// Where the source's rows come from.
class SourceRows {
  public:
    virtual ~SourceRows() = default;
    // Row y, 0 the top, in buffer (of the file's row length) where it is read; null where the
    // file lacks the row, which is then white, or where reading it failed (Error then says why).
    virtual const std::uint8_t* Row(std::uint32_t y, std::uint8_t* buffer) = 0;
    // The errno of the first read that failed, else 0: the scaled picture is then of no use.
    virtual int Error() const { return 0; }
    // Row y where it lies in memory, to be fetched ahead of its reading; else null.
    virtual const std::uint8_t* InMemory(std::uint32_t /*y*/) const { return nullptr; }
};

// Rows in memory, Stride bytes apart.
class MemoryRows final : public SourceRows {
  public:
    MemoryRows(const std::uint8_t* pixels, std::size_t stride) : Pixels(pixels), Stride(stride) {}
    const std::uint8_t* Row(std::uint32_t y, std::uint8_t*) override { return Pixels + Stride * y; }
    const std::uint8_t* InMemory(std::uint32_t y) const override { return Pixels + Stride * y; }

  private:
    const std::uint8_t* Pixels;
    std::size_t Stride;
};

// The rows of a BMP file. Where they can be read in place, each from its place on any thread, of
// those the file holds whole; else in the file's order, as a pipe gives them, on one thread: each
// asked for after those below it, reading and dropping the rows between. The first row that does
// not arrive whole, and every row after it, is missing.
class FileRowsAsked final : public SourceRows {
  public:
    explicit FileRowsAsked(const RowSource& rows)
        : Rows(rows), Whole(rows.InPlace() ? rows.WholeRows() : rows.Height) {}

    const std::uint8_t* Row(std::uint32_t y, std::uint8_t* buffer) override {
        const std::uint32_t fileRow = Rows.Height - 1 - y;
        if (Rows.InPlace()) {
            // Missing too where a file that shrank meanwhile cuts it short.
            return fileRow < Whole && ReadRow(fileRow, buffer) ? buffer : nullptr;
        }
        for (; Next <= fileRow && Whole == Rows.Height; ++Next) {
            if (!ReadRow(Next, buffer)) {
                Whole = Next;
            }
        }
        return fileRow < Whole ? buffer : nullptr;
    }

    int Error() const override { return Rows.Error(); }

    // Reads the rows left in order; returns how many arrived whole.
    std::uint32_t Finish(std::uint8_t* buffer) {
        if (!Rows.InPlace()) {
            Row(0, buffer);
        }
        return Whole;
    }

  private:
    bool ReadRow(std::uint32_t fileRow, std::uint8_t* buffer) const {
        return Rows.Read(buffer, Rows.RowLength, std::uint64_t{fileRow} * Rows.RowLength) ==
               Rows.RowLength;
    }

    const RowSource& Rows;
    std::uint32_t Next = 0;
    std::uint32_t Whole;
};

// What a scaling reads and how it sums.
struct Scaling {
    const ScaleColumns& Columns;
    std::uint32_t Height;
    std::uint32_t NewHeight;
    SourceRows& Source;
    PixelLayout Layout;
    // The length of a row that Source reads, 0 for rows in memory.
    std::size_t RowLength;
    const vectors::Kernels& Kernels;
};

// The three bytes of row's pixel at each new column from first on, at x0 into at0 and at x1 into
// at1, as GatheredAt lays them out: blue is at one end of a pixel, so the other two are a pair.
template <std::size_t PixelBytes>
void GatherPixels(const std::uint8_t* row, const std::uint8_t* ahead, const ScaleColumns& columns,
                  std::size_t first, std::uint8_t* at0, std::uint8_t* at1) {
    const std::size_t blue = columns.Blue;
    const std::size_t others = blue == 0 ? 1 : 0;
    for (std::size_t i = first; i < columns.X0.size(); ++i) {
        const std::size_t pair = vectors::GatheredIndex(i, others, blue);
        const std::size_t single = vectors::GatheredIndex(i, blue, blue);
        const std::uint8_t* pixel0 = row + PixelBytes * columns.X0[i];
        const std::uint8_t* pixel1 = row + PixelBytes * columns.X1[i];
        if (ahead != nullptr) {
            __builtin_prefetch(ahead + PixelBytes * columns.X0[i]);
        }
        std::memcpy(at0 + pair, pixel0 + others, 2);
        std::memcpy(at1 + pair, pixel1 + others, 2);
        at0[single] = pixel0[blue];
        at1[single] = pixel1[blue];
    }
}

// The three bytes of row's pixel at each new column's x0 into at0, at x1 into at1, as GatheredAt
// lays them out: the kernel takes the groups that lie in windows, GatherPixels the rest.
void Gather(const std::uint8_t* row, const std::uint8_t* ahead, const PixelLayout& layout,
            const ScaleColumns& columns, const vectors::Kernels& kernels, std::uint8_t* at0,
            std::uint8_t* at1) {
    const std::size_t count = columns.X0.size();
    const std::size_t blue = columns.Blue;
    if (row == nullptr) {
        std::fill_n(at0, columns.GatheredBytes(), std::uint8_t{255});
        std::fill_n(at1, columns.GatheredBytes(), std::uint8_t{255});
    } else if (layout.PixelBytes == 1) {
        for (std::size_t i = 0; i < count; ++i) {
            for (std::size_t c = 0; c < 3; ++c) {
                at0[vectors::GatheredIndex(i, c, blue)] = layout.Palette[row[columns.X0[i]]][c];
                at1[vectors::GatheredIndex(i, c, blue)] = layout.Palette[row[columns.X1[i]]][c];
            }
        }
    } else {
        const std::size_t pixelBytes = layout.PixelBytes;
        const ScaleColumns::Windows& windows = columns.Windowed[pixelBytes - 3];
        kernels.GatherColumns(row, ahead, windows.Starts.data(), windows.Picks.data(), pixelBytes,
                              windows.Starts.size(), at0, at1);
        if (pixelBytes == 3) {
            GatherPixels<3>(row, ahead, columns, 4 * windows.Starts.size(), at0, at1);
        } else {
            GatherPixels<4>(row, ahead, columns, 4 * windows.Starts.size(), at0, at1);
        }
    }
}

// A thread's new rows, with the last two old rows it read, each gathered at the new columns' x0
// and x1: a row of the file is read once for all the new rows that need it.
class RowScaler {
  public:
    explicit RowScaler(const Scaling& scaling)
        : Job(scaling), Raw(scaling.RowLength), Gathered(4 * scaling.Columns.GatheredBytes()) {}

    // New row j into out: 3 x the new width bytes.
    void Row(std::uint32_t j, std::uint8_t* out) {
        const RowSample sample = RowAt(j, Job.Height, Job.NewHeight);
        const RowSample next =
            j + 1 < Job.NewHeight ? RowAt(j + 1, Job.Height, Job.NewHeight) : sample;
        // The lower row first: the file's order.
        const std::uint8_t* lower = Held(sample.Lower, sample.Upper, next.Lower);
        const std::uint8_t* upper = Held(sample.Upper, sample.Lower, next.Upper);
        const std::size_t gathered = Job.Columns.GatheredBytes();
        Job.Kernels.ScaleRow({upper, upper + gathered, lower, lower + gathered},
                             Job.Columns.Fx.data(), sample.Fy, Job.Columns.Blue,
                             Job.Columns.Bytes(), out);
    }

  private:
    // Old row y gathered, reading it unless it is held; keeps row keep where it is held. Old row
    // ahead, which the next new row needs, comes from memory meanwhile.
    const std::uint8_t* Held(std::uint32_t y, std::uint32_t keep, std::uint32_t ahead) {
        std::size_t slot = HeldRows[0] == y ? 0 : 1;
        if (HeldRows[slot] != y) {
            slot = HeldRows[0] == keep ? 1 : 0;
            std::uint8_t* gathered = Slot(slot);
            Gather(Job.Source.Row(y, Raw.data()), Job.Source.InMemory(ahead), Job.Layout,
                   Job.Columns, Job.Kernels, gathered, gathered + Job.Columns.GatheredBytes());
            HeldRows[slot] = static_cast<std::int64_t>(y);
        }
        return Slot(slot);
    }

    std::uint8_t* Slot(std::size_t slot) {
        return Gathered.data() + 2 * Job.Columns.GatheredBytes() * slot;
    }

    const Scaling& Job;
    std::vector<std::uint8_t> Raw;
    std::vector<std::uint8_t> Gathered;
    std::array<std::int64_t, 2> HeldRows{-1, -1};
};

// What a thread needs to make bands of new rows: its source rows and the bands' bytes.
struct ScalingBuffers {
    RowScaler Scaler;
    std::vector<std::uint8_t> Bytes;
};

// The new rows of a 24 bpp file, in bands of file rows.
class ScaledRowWriter final : public BandWriting<ScalingBuffers> {
  public:
    explicit ScaledRowWriter(const Scaling& scaling)
        : BandWriting(RowBands(static_cast<std::size_t>(BmpRowLength(
                                   static_cast<std::int32_t>(scaling.Columns.X0.size()), 24)),
                               scaling.NewHeight)),
          Job(scaling) {}

  private:
    ScalingBuffers MakeBuffers() const override { return {RowScaler(Job), Rows.Buffer()}; }

    std::span<const std::uint8_t> Encode(std::uint32_t band,
                                         ScalingBuffers& buffers) const override {
        const std::size_t pixelBytes = Job.Columns.Bytes();
        for (std::uint32_t r = 0; r < Rows.RowsOf(band); ++r) {
            std::uint8_t* out = buffers.Bytes.data() + r * Rows.RowLength;
            buffers.Scaler.Row(Job.NewHeight - 1 - Rows.First(band) - r, out);
            std::fill(out + pixelBytes, out + Rows.RowLength, std::uint8_t{0});
        }
        return {buffers.Bytes.data(), Rows.RowsOf(band) * Rows.RowLength};
    }

    int Stopped() const override { return Job.Source.Error(); }

    const Scaling& Job;
};

// The new picture to output, at 24 bpp with resolution's resolution, on up to threads threads.
// False when the file was not written; failure then says why.
bool Store(BmpDestination& output, const Scaling& scaling, const BitmapImage& resolution,
           std::uint32_t threads, FileFailure& failure) {
    BitmapImage format;
    format.ChangeBitDepth(24); // cannot fail
    format.XResolution = resolution.XResolution;
    format.YResolution = resolution.YResolution;
    const ScaledRowWriter rows(scaling);
    return output.Store(format, static_cast<std::uint32_t>(scaling.Columns.X0.size()),
                        scaling.NewHeight, rows, threads, failure);
}

bool IsScalingMode(char mode) {
    const auto upper = static_cast<char>(std::toupper(static_cast<unsigned char>(mode)));
    return std::string_view("PWHF").find(upper) != std::string_view::npos;
}

// How a file at format's depth, 8, 24 or 32 bpp, holds pixels.
PixelLayout LayoutOf(const BitmapImage& format) {
    PixelLayout layout{static_cast<std::size_t>(format.GetBitDepth() / 8), {}};
    const std::span<const PixelRgba> palette = format.PaletteEntries();
    for (std::size_t i = 0; i < layout.Palette.size() && i < palette.size(); ++i) {
        layout.Palette[i] = {palette[i].Blue, palette[i].Green, palette[i].Red};
    }
    return layout;
}

template <class Input>
JobResult RunScale(const Input& source, BmpDestination& output, char mode, std::int32_t value,
                   const JobOptions& options, FileFailure& failure) {
    failure = {};
    if (!IsScalingMode(mode)) {
        failure = {FailedFile::None, FailureKind::UnknownScalingMode};
        return JobResult::Refused;
    }
    const vectors::Kernels& kernels = vectors::InUse();
    BitmapImage format;
    std::optional<ScaledSize> size;
    std::optional<ScaleColumns> columns;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    bool refused = false;
    const auto start = [&](std::int32_t w, std::int32_t h) {
        size = ScaledSizeOf(mode, w, h, value);
        refused = !size;
        if (refused) {
            return false;
        }
        width = static_cast<std::uint32_t>(w);
        height = static_cast<std::uint32_t>(h);
        // Blue is a pixel's first byte, in the file and in the new one.
        columns.emplace(width, static_cast<std::uint32_t>(size->Width), 0);
        return true;
    };
    const auto store = [&](SourceRows& rows, const PixelLayout& layout, std::size_t rowLength,
                           std::uint32_t threads, FileFailure& why) {
        const auto newHeight = static_cast<std::uint32_t>(size->Height);
        const Scaling scaling{*columns, height, newHeight, rows, layout, rowLength, kernels};
        const std::uint64_t bytes = std::uint64_t{3} * columns->X0.size() * newHeight;
        return Store(output, scaling, format, ResolveThreads(threads, Share::PictureBytes, bytes),
                     why);
    };

    // At 1, 4 and 16 bpp: the whole source, three bytes a pixel, rows from the top.
    std::vector<std::uint8_t> held;
    const auto take = [&](const PixelBlock& block) {
        held.resize(std::size_t{3} * width * height);
        for (std::int32_t r = 0; r < block.Rows; ++r) {
            const PixelRgba* pixel =
                block.Pixels.data() + static_cast<std::size_t>(r) * block.Stride;
            std::uint8_t* out =
                held.data() + 3 * (std::size_t{width} * static_cast<std::uint32_t>(block.YLow + r) +
                                   static_cast<std::uint32_t>(block.XLow));
            for (std::int32_t x = 0; x < block.Columns; ++x, ++pixel, out += 3) {
                out[0] = pixel->Blue;
                out[1] = pixel->Green;
                out[2] = pixel->Red;
            }
        }
    };

    // At 8, 24 and 32 bpp the output is written while the file's rows are read: whether it was.
    std::optional<bool> stored;
    FileFailure storeFailure;
    const auto readFileRows = [&](ByteSource& bytes, std::size_t rowLength) {
        return ReadRowsOf(bytes, rowLength, height, [&](const RowSource& rows) -> std::uint32_t {
            FileRowsAsked asked(rows);
            try {
                // Rows read in order are written in it, on one thread, and those left after the
                // last one needed read afterwards: into this, taken first so that nothing can
                // fail once the output is written.
                std::vector<std::uint8_t> buffer(rows.InPlace() ? 0 : rowLength);
                // A read that fails stops the writing, and the load fails with its errno.
                stored = store(asked, LayoutOf(format), rowLength,
                               rows.InPlace() ? options.Threads : 1, storeFailure);
                return asked.Finish(buffer.data());
            } catch (const std::bad_alloc&) {
                stored = false;
                storeFailure = MemoryFailure(FailedFile::Output);
                return 0;
            }
        });
    };

    if (!ReadBmpPixels(format, source, PixelBlockSink{start, take, readFileRows}, failure)) {
        if (refused) {
            failure = {FailedFile::None, FailureKind::ScaledTooLarge};
            return JobResult::Refused;
        }
        return JobResult::SourceFailed;
    }
    // The store starts a failure of its own; what the read found of the source stays.
    if (!stored) {
        try {
            MemoryRows inMemory(held.data(), std::size_t{3} * width);
            stored = store(inMemory, {3, {}}, 0, options.Threads, storeFailure);
        } catch (const std::bad_alloc&) {
            stored = false;
            storeFailure = MemoryFailure(FailedFile::Output);
        }
    }
    if (!*stored) {
        failure = storeFailure;
        return JobResult::OutputFailed;
    }
    return JobResult::Done;
}

} // namespace

JobResult RunScaleJob(const char* source, const char* output, char mode, std::int32_t value,
                      const JobOptions& options, FileFailure& failure) {
    BmpDestination file(output, options.Sync ? Durability::Disk : Durability::Process);
    return RunScale(source, file, mode, value, options, failure);
}

JobResult RunScaleJob(std::span<const std::uint8_t> source, std::vector<std::uint8_t>& output,
                      char mode, std::int32_t value, const JobOptions& options,
                      FileFailure& failure) {
    BmpDestination bytes(output);
    return RunScale(source, bytes, mode, value, options, failure);
}

bool ScaleRgbArray(const ArrayRows& picture, ScaledSize size, std::uint8_t* out,
                   std::uint32_t threads) {
    try {
        const auto newWidth = static_cast<std::uint32_t>(size.Width);
        const auto newHeight = static_cast<std::uint32_t>(size.Height);
        // Red, green, blue: blue is a pixel's third byte.
        const ScaleColumns columns(picture.Width, newWidth, 2);
        MemoryRows rows(picture.Pixels, std::size_t{3} * picture.Width);
        const Scaling scaling{columns, picture.Height,  newHeight, rows, {3, {}},
                              0,       vectors::InUse()};
        const std::size_t rowBytes = columns.Bytes();
        const RowBands bands(rowBytes, newHeight);
        ShareGroups(
            bands.Count(),
            ResolveThreads(threads, Share::PictureBytes, std::uint64_t{rowBytes} * newHeight),
            [&scaling] { return RowScaler(scaling); },
            [&](std::uint32_t band, RowScaler& scaler) {
                for (std::uint32_t j = bands.First(band);
                     j < bands.First(band) + bands.RowsOf(band); ++j) {
                    scaler.Row(j, out + rowBytes * j);
                }
                return true;
            });
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

} // namespace dorvane
