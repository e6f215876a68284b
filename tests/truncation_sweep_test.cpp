// A valid file of every depth cut at every byte offset. Below the 54 bytes of the two headers the
// load fails and resets the image to 1 x 1 at 1 bpp. From 54 bytes on it succeeds: palette bytes
// that arrived replace those of the standard palette, complete rows (or, at 16 bpp, complete
// pixel values) hold the picture counted from the bottom, and the rest is white, or at 16 bpp
// repeats the last value that arrived. Every reader of the file (the codec, the stages' load and
// BMPBlur's job) records the rows it expected and the complete rows it read, unless all arrived.
#include "DorvaneBMPBlur.h"

#include "bitmap_image.hpp"
#include "bmp_file_builder.hpp"
#include "bmp_headers.hpp"
#include "bytes_entries.hpp"
#include "file_jobs.hpp"
#include "gray_planes.hpp"
#include "pipeline_state.hpp"
#include "scaling.hpp"
#include "temp_directory.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

using namespace dorvane;
using namespace dorvane::testing;

namespace {

constexpr std::int32_t Width = 5; // odd, so that rows of every depth carry padding
constexpr std::int32_t Height = 3;

struct Sample {
    std::string Name;
    Bytes File;
};

// The picture saved by the writer at depth: palette depths with their standard palette, 16 bpp
// as 5-6-5 with masks.
Bytes Written(std::int32_t depth, const TempDirectory& folder) {
    BitmapImage image;
    image.ChangeBitDepth(depth);
    image.SetDimensions(Width, Height);
    for (std::int32_t x = 0; x < Width; ++x) {
        for (std::int32_t y = 0; y < Height; ++y) {
            image.PixelAt(x, y) = PixelRgba{
                static_cast<std::uint8_t>(60 * x), static_cast<std::uint8_t>(100 * y),
                static_cast<std::uint8_t>(250 - 50 * x), static_cast<std::uint8_t>(10 * x + y + 1)};
        }
    }
    const std::string path = folder.File("written.bmp");
    EXPECT_TRUE(image.SaveBmp(path.c_str()));
    return ReadFileBytes(path);
}

// 16 bpp without masks (5-5-5), which the writer never makes.
Bytes Rgb555() {
    BmpFileBuilder file;
    file.biBitCount = 16;
    file.biWidth = Width;
    file.biHeight = Height;
    file.Rows = {Row16({0x7C00, 0x03E0, 0x001F, 0x7FFF, 0x0421}),
                 Row16({0x1234, 0x4321, 0x0001, 0x0020, 0x0400}),
                 Row16({0x7BDE, 0x2108, 0x56B5, 0x0000, 0x3DEF})};
    return file.Build();
}

std::vector<Sample> Samples(const TempDirectory& folder) {
    std::vector<Sample> samples;
    for (const std::int32_t depth : {1, 4, 8, 16, 24, 32}) {
        samples.push_back({"written at " + std::to_string(depth), Written(depth, folder)});
    }
    samples.push_back({"16 without masks", Rgb555()});
    return samples;
}

struct Expectation {
    std::vector<PixelRgba> Palette;
    std::vector<std::vector<PixelRgba>> Pixels; // [x][y]
};

// What a load of the first `length` bytes gives, from the load of the whole file.
Expectation Expect(const Bytes& file, std::size_t length, const BitmapImage& whole) {
    const std::int32_t depth = whole.GetBitDepth();
    BitmapImage standard;
    standard.ChangeBitDepth(depth);
    Expectation expected;
    expected.Palette.assign(standard.PaletteEntries().begin(), standard.PaletteEntries().end());
    auto* paletteBytes = reinterpret_cast<std::uint8_t*>(expected.Palette.data());
    for (std::size_t k = 0; k < expected.Palette.size() * sizeof(PixelRgba); ++k) {
        if (HeadersSize + k < length) {
            paletteBytes[k] = file[HeadersSize + k];
        }
    }

    expected.Pixels.assign(Width, std::vector<PixelRgba>(Height, DefaultColour));
    const std::size_t rowStart = GetU32(file, 10);
    const auto rowBytes = static_cast<std::size_t>((Width * depth + 31) / 32 * 4);
    std::optional<PixelRgba> last; // the last 16 bpp value that arrived
    for (std::int32_t row = 0; row < Height; ++row) {
        const std::int32_t y = Height - 1 - row;
        const std::size_t start = rowStart + static_cast<std::size_t>(row) * rowBytes;
        for (std::int32_t x = 0; x < Width; ++x) {
            PixelRgba& pixel =
                expected.Pixels[static_cast<std::size_t>(x)][static_cast<std::size_t>(y)];
            const bool arrived = depth == 16 ? start + 2 * static_cast<std::size_t>(x) + 2 <= length
                                             : start + rowBytes <= length;
            if (arrived) {
                pixel = whole.PixelAt(x, y);
                last = pixel;
            } else if (depth == 16 && last) {
                pixel = *last;
            }
        }
    }
    return expected;
}

// The rows that a read of the first `length` bytes records: those the header promised and those
// that arrived whole, padding included, or none of either when every row arrived.
struct RowCount {
    std::int64_t Expected;
    std::int64_t Read;
};

RowCount ExpectRows(const Bytes& file, std::size_t length, std::int32_t depth) {
    const std::size_t rowStart = GetU32(file, 10);
    const auto rowBytes = static_cast<std::size_t>((Width * depth + 31) / 32 * 4);
    const auto whole =
        static_cast<std::int64_t>(length < rowStart ? 0 : (length - rowStart) / rowBytes);
    return whole >= Height ? RowCount{0, 0} : RowCount{Height, whole};
}

void ExpectRecorded(const FileFailure& failure, const RowCount& rows, const std::string& context) {
    EXPECT_EQ(failure.RowsExpected, rows.Expected) << context;
    EXPECT_EQ(failure.RowsRead, rows.Read) << context;
}

bool HasColour(const BitmapImage& image) {
    for (std::int32_t x = 0; x < image.GetWidth(); ++x) {
        for (std::int32_t y = 0; y < image.GetHeight(); ++y) {
            if (image.PixelAt(x, y) != DefaultColour) {
                return true;
            }
        }
    }
    return false;
}

void ExpectReset(const BitmapImage& image, const std::string& context) {
    EXPECT_EQ(image.GetBitDepth(), 1) << context;
    EXPECT_EQ(image.GetWidth(), 1) << context;
    EXPECT_EQ(image.GetHeight(), 1) << context;
    EXPECT_EQ(image.PixelAt(0, 0), DefaultColour) << context;
}

void ExpectLoaded(const BitmapImage& image, const Expectation& expected,
                  const std::string& context) {
    ASSERT_EQ(image.GetWidth(), Width) << context;
    ASSERT_EQ(image.GetHeight(), Height) << context;
    const auto palette = image.PaletteEntries();
    ASSERT_EQ(std::vector<PixelRgba>(palette.begin(), palette.end()), expected.Palette) << context;
    for (std::int32_t x = 0; x < Width; ++x) {
        for (std::int32_t y = 0; y < Height; ++y) {
            ASSERT_EQ(image.PixelAt(x, y),
                      expected.Pixels[static_cast<std::size_t>(x)][static_cast<std::size_t>(y)])
                << context << ", pixel " << x << "," << y;
        }
    }
}

} // namespace

TEST(TruncationSweep, EveryCutOfEveryDepthLoadsWhatArrived) {
    const TempDirectory folder;
    const std::string path = folder.File("cut.bmp");
    const std::string output = folder.File("out.bmp");
    const std::string expected = folder.File("expected.bmp");
    for (const Sample& sample : Samples(folder)) {
        WriteFileBytes(path, sample.File);
        BitmapImage whole;
        ASSERT_TRUE(whole.LoadBmp(path.c_str())) << sample.Name;
        ASSERT_TRUE(HasColour(whole)) << sample.Name; // rows that arrived must be recognisable
        for (std::size_t length = 0; length <= sample.File.size(); ++length) {
            const std::string context = sample.Name + ", cut at " + std::to_string(length);
            WriteFileBytes(path, Bytes(sample.File.begin(),
                                       sample.File.begin() + static_cast<std::ptrdiff_t>(length)));
            BitmapImage image;
            image.SetDimensions(2, 2);
            FileFailure failure;
            const bool loaded = image.LoadBmp(path.c_str(), failure);
            if (length < HeadersSize) {
                EXPECT_FALSE(loaded) << context;
                ExpectReset(image, context);
                EXPECT_EQ(ScaleFiles(path.c_str(), output.c_str(), 'W', 7, {}, failure),
                          BMPBLUR_SOURCE_UNREADABLE)
                    << context;
                ExpectBytesEntriesAsFiles(path, output, 'W', 7, context);
                continue;
            }
            ASSERT_TRUE(loaded) << context;
            ASSERT_EQ(image.GetBitDepth(), whole.GetBitDepth()) << context;
            ExpectLoaded(image, Expect(sample.File, length, whole), context);
            const RowCount rows = ExpectRows(sample.File, length, whole.GetBitDepth());
            ExpectRecorded(failure, rows, context);

            ASSERT_EQ(LoadGrayPlanes(path.c_str(), failure), 0) << context;
            ReleasePlanes();
            ExpectRecorded(failure, rows, context + ", stages");
            // The job reads in the file's order on one thread, at the rows' places on several.
            for (const std::uint32_t threads : {1U, 3U}) {
                const std::string job = context + ", job on " + std::to_string(threads);
                ASSERT_EQ(BlurFiles(path.c_str(), output.c_str(), JobOptions{threads}, failure),
                          BMPBLUR_OK)
                    << job;
                ExpectRecorded(failure, rows, job);
            }
            // The scale job reads only the rows it needs, at their places or in order, and
            // writes what ScaleImage makes of the rows that arrived.
            // Loaded afresh: a copy would have its resolution through dots per inch.
            BitmapImage scaled;
            ASSERT_TRUE(scaled.LoadBmp(path.c_str())) << context;
            ASSERT_TRUE(ScaleImage(scaled, 'W', 7)) << context;
            ASSERT_TRUE(scaled.SaveBmp(expected.c_str())) << context;
            for (const std::uint32_t threads : {1U, 3U}) {
                const std::string job = context + ", scaling on " + std::to_string(threads);
                ASSERT_EQ(ScaleFiles(path.c_str(), output.c_str(), 'W', 7, {threads}, failure),
                          BMPBLUR_OK)
                    << job;
                ExpectRecorded(failure, rows, job);
                EXPECT_EQ(ReadFileBytes(output), ReadFileBytes(expected)) << job;
            }
            ExpectBytesEntriesAsFiles(path, output, 'W', 7, context);
        }
    }
}
