// The gray load and store go between file rows and ImagePlane without an image of the whole
// picture. These tests hold them to the plain path through a BitmapImage: LoadBmp and the luma of
// every pixel, and a gray image built pixel by pixel and saved with SaveBmp.
#include "array_files.hpp"
#include "bitmap_image.hpp"
#include "blur_job.hpp"
#include "bmp_file_builder.hpp"
#include "edge_job.hpp"
#include "gaussian_blur.hpp"
#include "gray_planes.hpp"
#include "pipeline_state.hpp"
#include "temp_directory.hpp"
#include "vector_paths.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <span>
#include <string>
#include <tuple>
#include <vector>

namespace dorvane {
namespace {

using testing::BmpFileBuilder;
using testing::Bytes;
using testing::ForEachPath;
using testing::PaddedRow;
using testing::ReadFileBytes;
using testing::TempDirectory;

class GrayPlanesEquivalence : public ::testing::Test {
  protected:
    void TearDown() override { ReleasePlanes(); }

    TempDirectory Folder;
};

constexpr std::uint16_t AllDepths[] = {1, 4, 8, 16, 24, 32};

std::uint32_t Draw(std::mt19937& random, std::uint32_t low, std::uint32_t high) {
    return low + static_cast<std::uint32_t>(random() % (high - low + 1));
}

// A file of random pixels at depth, with random palettes (alpha included), masks, gaps and
// offsets; small unless a width and height are given.
Bytes RandomFile(std::mt19937& random, std::uint16_t depth, std::int32_t width = 0,
                 std::int32_t height = 0) {
    BmpFileBuilder file;
    file.biBitCount = depth;
    file.biWidth = width > 0 ? width : static_cast<std::int32_t>(Draw(random, 1, 37));
    file.biHeight = height > 0 ? height : static_cast<std::int32_t>(Draw(random, 1, 70));
    if (HasPaletteDepth(depth)) {
        // Fewer entries than the depth has leave the rest white; more are not read.
        file.Palette.resize(Draw(random, 0, (1U << depth) + 2));
        for (PixelRgba& entry : file.Palette) {
            entry =
                PixelRgba{static_cast<std::uint8_t>(random()), static_cast<std::uint8_t>(random()),
                          static_cast<std::uint8_t>(random()), static_cast<std::uint8_t>(random())};
        }
    }
    if (depth == 16 && random() % 2 == 0) {
        file.biCompression = 3;
        const std::uint32_t masks[][3] = {
            {0xF800, 0x07E0, 0x001F}, {0x7C00, 0x03E0, 0x001F}, {0x001F, 0xFFE0, 0x0000}};
        const auto& chosen = masks[random() % 3];
        file.Masks.assign(std::begin(chosen), std::end(chosen));
    }
    file.Gap.resize(Draw(random, 0, 2) * 3);
    const std::size_t rowBytes = (static_cast<std::size_t>(file.biWidth) * depth + 7) / 8;
    for (std::int32_t row = 0; row < file.biHeight; ++row) {
        Bytes data(rowBytes);
        for (std::uint8_t& byte : data) {
            byte = static_cast<std::uint8_t>(random());
        }
        file.Rows.push_back(PaddedRow(data, static_cast<std::uint8_t>(random())));
    }
    return file.Build();
}

// What the load gives through a whole image: LoadBmp, then the luma of every pixel.
struct ReferenceLoad {
    bool Loaded = false;
    std::int32_t Depth = 0;
    std::vector<std::vector<std::int32_t>> Cells;
};

ReferenceLoad LoadThroughImage(const std::string& path) {
    ReferenceLoad reference;
    BitmapImage image;
    reference.Loaded = image.LoadBmp(path.c_str());
    if (!reference.Loaded) {
        return reference;
    }
    reference.Depth = image.GetBitDepth();
    for (std::int32_t x = 0; x < image.GetWidth(); ++x) {
        std::vector<std::int32_t>& column = reference.Cells.emplace_back();
        for (const PixelRgba& pixel : image.Column(x)) {
            column.push_back(Luma(pixel.Red, pixel.Green, pixel.Blue));
        }
    }
    return reference;
}

// BMPBlur's job reads the file its own way, on one thread in the file's order or on several at
// the rows' places, on every path: it must write the bytes of the stages run one after another,
// and fail where they fail, for the same reason. So must the edge job, which reads the same way.
void ExpectJobMatchesStages(const std::string& path, const std::string& what) {
    const std::string jobOutput = path + ".job.bmp";
    const std::string blurredOutput = path + ".stages.bmp";
    const std::string edgesOutput = path + ".edges.bmp";
    FileFailure loadFailure;
    bool loaded = false;
    for (const std::string& stagesOutput : {blurredOutput, edgesOutput}) {
        std::fill(std::begin(OutputPath), std::end(OutputPath), '\0');
        std::copy(stagesOutput.begin(), stagesOutput.end(), std::begin(OutputPath));
        loadFailure = {};
        loaded = LoadGrayPlanes(path.c_str(), loadFailure) != LoadFailed;
        if (loaded) {
            if (stagesOutput == edgesOutput) {
                DetectEdgesInPlanes(1);
            } else {
                GaussianBlurStage();
            }
            ASSERT_TRUE(StoreGrayImage()) << what;
            ReleasePlanes();
        }
    }
    // Each job from the file to a file, and from the file's bytes to bytes.
    struct Job {
        JobResult (*FromFile)(const char*, const char*, const JobOptions&, FileFailure&);
        JobResult (*FromBytes)(std::span<const std::uint8_t>, std::vector<std::uint8_t>&,
                               const JobOptions&, FileFailure&);
        const std::string& StagesOutput;
        const char* Name;
    };
    const Job jobs[] = {{RunBlurJob, RunBlurJob, blurredOutput, "blur"},
                        {RunEdgeJob, RunEdgeJob, edgesOutput, "edges"}};
    const Bytes bytes = ReadFileBytes(path);
    ForEachPath([&](const vectors::Kernels& kernels) {
        for (const std::uint32_t threads : {1U, 3U}) {
            for (const Job& job : jobs) {
                for (const bool fromBytes : {false, true}) {
                    const std::string how = std::to_string(threads) + " threads, " + kernels.Name +
                                            ", " + job.Name + (fromBytes ? ", from bytes" : "");
                    FileFailure jobFailure;
                    std::vector<std::uint8_t> written;
                    const bool done =
                        (fromBytes
                             ? job.FromBytes(bytes, written, JobOptions{threads}, jobFailure)
                             : job.FromFile(path.c_str(), jobOutput.c_str(), JobOptions{threads},
                                            jobFailure)) == JobResult::Done;
                    EXPECT_EQ(jobFailure.Reason(), loadFailure.Reason()) << what << ", " << how;
                    EXPECT_EQ(jobFailure.RowsExpected, loadFailure.RowsExpected)
                        << what << ", " << how;
                    EXPECT_EQ(jobFailure.RowsRead, loadFailure.RowsRead) << what << ", " << how;
                    ASSERT_EQ(done, loaded) << what << ", " << how;
                    if (loaded) {
                        EXPECT_EQ(fromBytes ? written : ReadFileBytes(jobOutput),
                                  ReadFileBytes(job.StagesOutput))
                            << what << ", " << how;
                    } else {
                        EXPECT_TRUE(written.empty()) << what << ", " << how;
                    }
                    std::filesystem::remove(jobOutput);
                }
            }
        }
    });
    std::filesystem::remove(blurredOutput);
    std::filesystem::remove(edgesOutput);
}

// The array reading of the Python package reads 8, 24 and 32 bpp rows its own way too, from a
// file or its bytes in memory, and takes every other depth from the codec's blocks: the pixels
// of LoadBmp, and the same refusals and cuts.
void ExpectArrayReadMatchesImage(const std::string& path, const std::string& what) {
    BitmapImage image;
    FileFailure imageFailure;
    const bool loaded = image.LoadBmp(path.c_str(), imageFailure);
    const Bytes bytes = ReadFileBytes(path);
    std::vector<std::uint8_t> rgbExpected;
    std::vector<std::uint8_t> bgrExpected;
    for (std::int32_t y = 0; loaded && y < image.GetHeight(); ++y) {
        for (std::int32_t x = 0; x < image.GetWidth(); ++x) {
            const PixelRgba pixel = image.PixelAt(x, y);
            rgbExpected.insert(rgbExpected.end(), {pixel.Red, pixel.Green, pixel.Blue});
            bgrExpected.insert(bgrExpected.end(), {pixel.Blue, pixel.Green, pixel.Red});
        }
    }
    ForEachPath([&](const vectors::Kernels& kernels) {
        for (const auto& [threads, fromMemory, order] :
             {std::tuple{1U, false, ChannelOrder::Rgb}, std::tuple{3U, false, ChannelOrder::Rgb},
              std::tuple{1U, true, ChannelOrder::Rgb}, std::tuple{3U, true, ChannelOrder::Rgb},
              std::tuple{3U, false, ChannelOrder::Bgr}, std::tuple{1U, true, ChannelOrder::Bgr}}) {
            const bool bgr = order == ChannelOrder::Bgr;
            const std::vector<std::uint8_t>& expected = bgr ? bgrExpected : rgbExpected;
            const std::string how = what + ", " + std::to_string(threads) + " threads, " +
                                    kernels.Name + (fromMemory ? ", from memory" : "") +
                                    (bgr ? ", blue first" : "");
            std::vector<std::uint8_t> rgb;
            const RgbAllocation allocate = [&rgb](std::uint32_t width, std::uint32_t height) {
                rgb.assign(std::size_t{3} * width * height, 0);
                return rgb.data();
            };
            FileFailure failure;
            const bool read = fromMemory
                                  ? ReadRgbArray(bytes, allocate, threads, failure, order)
                                  : ReadRgbArray(path.c_str(), allocate, threads, failure, order);
            ASSERT_EQ(read, loaded) << how;
            EXPECT_EQ(failure.Reason(), imageFailure.Reason()) << how;
            EXPECT_EQ(failure.RowsRead, imageFailure.RowsRead) << how;
            if (read && rgb != expected) {
                const auto at = static_cast<std::size_t>(
                    std::mismatch(rgb.begin(), rgb.end(), expected.begin()).first - rgb.begin());
                FAIL() << how << ": pixel " << at / 3 % image.GetWidth() << ","
                       << at / 3 / image.GetWidth() << " differs";
            }
        }
    });
}

void ExpectSameLoad(const std::string& path, const std::string& what) {
    ExpectJobMatchesStages(path, what);
    ExpectArrayReadMatchesImage(path, what);
    const ReferenceLoad reference = LoadThroughImage(path);
    const bool loaded = LoadGrayPlanes(path.c_str()) != LoadFailed;
    ASSERT_EQ(loaded, reference.Loaded) << what;
    if (!loaded) {
        return;
    }
    ASSERT_EQ(SourceBitDepth, reference.Depth) << what;
    ASSERT_EQ(PlaneWidth, reference.Cells.size()) << what;
    for (std::uint32_t x = 0; x < PlaneWidth; ++x) {
        ASSERT_EQ(PlaneHeight, reference.Cells[x].size()) << what;
        for (std::uint32_t y = 0; y < PlaneHeight; ++y) {
            ASSERT_EQ(ImagePlane[x][y], reference.Cells[x][y]) << what << " at " << x << "," << y;
        }
    }
    ReleasePlanes();
}

TEST_F(GrayPlanesEquivalence, LoadMatchesTheImagePathAtEveryDepth) {
    std::mt19937 random(7);
    for (const std::uint16_t depth : AllDepths) {
        for (int round = 0; round < 40; ++round) {
            const Bytes bytes = RandomFile(random, depth);
            const std::string what =
                "depth " + std::to_string(depth) + " round " + std::to_string(round);
            ExpectSameLoad(Folder.Write("whole.bmp", bytes), what);
        }
    }
}

// Rows that never arrive stay white, and at 16 bpp repeat the last value read: cuts anywhere,
// in the headers, the palette, between rows, inside a row and inside a pixel.
TEST_F(GrayPlanesEquivalence, LoadMatchesTheImagePathOnFilesCutShort) {
    std::mt19937 random(11);
    for (const std::uint16_t depth : AllDepths) {
        for (int round = 0; round < 12; ++round) {
            const Bytes bytes = RandomFile(random, depth);
            for (int cut = 0; cut < 8; ++cut) {
                const auto length = Draw(random, 0, static_cast<std::uint32_t>(bytes.size()));
                const Bytes part(bytes.begin(), bytes.begin() + length);
                const std::string what =
                    "depth " + std::to_string(depth) + " cut at " + std::to_string(length);
                ExpectSameLoad(Folder.Write("cut.bmp", part), what);
            }
        }
    }
}

// Large files are loaded by two threads: the planes are allocated while the file is read, and
// the columns filled by both. Cut ones too, in half and in the last row, and ones whose headers
// are refused, at a width that leaves a remainder in every grouping of pixels and a height that
// ends in part of a group; every file is large enough at every depth. Rows too long to move whole
// move in spans of columns, the last of them narrower.
TEST_F(GrayPlanesEquivalence, LoadMatchesTheImagePathOnLargeFiles) {
    std::mt19937 random(17);
    struct Size {
        std::int32_t Width, Height;
    };
    for (const Size size : {Size{1201, 941}, Size{(1 << 18) + 1201, 3}}) {
        for (const std::uint16_t depth : AllDepths) {
            Bytes bytes = RandomFile(random, depth, size.Width, size.Height);
            const std::string what =
                "depth " + std::to_string(depth) + ", width " + std::to_string(size.Width);
            ExpectSameLoad(Folder.Write("large.bmp", bytes), what);
            for (const std::size_t length : {bytes.size() / 2, bytes.size() - 7}) {
                const Bytes part(bytes.begin(),
                                 bytes.begin() + static_cast<std::ptrdiff_t>(length));
                ExpectSameLoad(Folder.Write("large-cut.bmp", part),
                               what + " cut at " + std::to_string(length));
            }
            bytes[30] = 1; // biCompression: run-length encoding, which is refused
            ExpectSameLoad(Folder.Write("large-refused.bmp", bytes), what + " refused");
        }
    }
}

// Blocks of rows are taken in one read, so tall pictures cross several of them.
TEST_F(GrayPlanesEquivalence, LoadMatchesTheImagePathOnTallPicturesCutInAnyBlock) {
    std::mt19937 random(13);
    for (const std::uint16_t depth : {std::uint16_t{8}, std::uint16_t{16}, std::uint16_t{24}}) {
        BmpFileBuilder file;
        file.biBitCount = depth;
        file.biWidth = 5;
        file.biHeight = 150;
        if (depth == 8) {
            file.Palette.resize(256, PixelRgba{10, 200, 30, 0});
        }
        for (std::int32_t row = 0; row < file.biHeight; ++row) {
            Bytes data(static_cast<std::size_t>(file.biWidth) * depth / 8);
            for (std::uint8_t& byte : data) {
                byte = static_cast<std::uint8_t>(random());
            }
            file.Rows.push_back(PaddedRow(data));
        }
        const Bytes bytes = file.Build();
        for (std::size_t length = bytes.size() - 900; length <= bytes.size(); length += 7) {
            const Bytes part(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
            ExpectSameLoad(Folder.Write("tall.bmp", part),
                           "depth " + std::to_string(depth) + " length " + std::to_string(length));
        }
    }
}

TEST_F(GrayPlanesEquivalence, LoadOfEveryColourIsItsLuma) {
    // 4096 x 4096 pixels hold each of the 2^24 colours once.
    constexpr std::int32_t side = 4096;
    BmpFileBuilder file;
    file.biWidth = side;
    file.biHeight = side;
    file.Rows.resize(side);
    for (std::uint32_t row = 0; row < side; ++row) {
        Bytes& data = file.Rows[row];
        data.reserve(3 * side);
        for (std::uint32_t x = 0; x < side; ++x) {
            const std::uint32_t colour = row * side + x;
            data.push_back(static_cast<std::uint8_t>(colour));
            data.push_back(static_cast<std::uint8_t>(colour >> 8));
            data.push_back(static_cast<std::uint8_t>(colour >> 16));
        }
    }
    const std::string path = Folder.Write("all.bmp", file.Build());
    file.Rows.clear();
    ASSERT_EQ(LoadGrayPlanes(path.c_str()), 0);
    for (std::uint32_t x = 0; x < side; ++x) {
        for (std::uint32_t y = 0; y < side; ++y) {
            const std::uint32_t colour = (side - 1 - y) * side + x; // the first file row is y 4095
            const auto blue = static_cast<std::uint8_t>(colour);
            const auto green = static_cast<std::uint8_t>(colour >> 8);
            const auto red = static_cast<std::uint8_t>(colour >> 16);
            if (ImagePlane[x][y] != Luma(red, green, blue)) {
                FAIL() << "colour " << colour;
            }
        }
    }
}

// The store against a gray image built pixel by pixel at the same depth and saved with SaveBmp.
// The stage's store and the arrays' writing (gray, and red, green and blue) at every depth,
// against a BitmapImage of the same pixels saved with SaveBmp; the last picture in several bands
// of rows, which several threads write at once.
TEST_F(GrayPlanesEquivalence, StoreWritesTheBytesOfTheImagePathAtEveryDepth) {
    std::mt19937 random(17);
    const std::string plain = Folder.File("plain.bmp");
    const std::string stored = Folder.File("stored.bmp");
    for (const std::int32_t depth : {1, 4, 8, 16, 24, 32}) {
        for (int round = 0; round < 11; ++round) {
            const auto width = round < 10 ? Draw(random, 1, 70) : 1201;
            const auto height = round < 10 ? Draw(random, 1, 70) : 300;
            const std::string what = "depth " + std::to_string(depth) + ", " +
                                     std::to_string(width) + " x " + std::to_string(height);
            ASSERT_TRUE(AllocatePlanes(width, height));
            BitmapImage image;
            BitmapImage colours;
            for (BitmapImage* picture : {&image, &colours}) {
                ASSERT_TRUE(picture->ChangeBitDepth(depth));
                ASSERT_TRUE(picture->SetDimensions(static_cast<std::int32_t>(width),
                                                   static_cast<std::int32_t>(height)));
            }
            std::vector<std::uint8_t> grays(std::size_t{width} * height);
            std::vector<std::uint8_t> rgb(3 * grays.size());
            std::vector<std::uint8_t> bgr(rgb.size());
            for (std::uint32_t x = 0; x < width; ++x) {
                for (std::uint32_t y = 0; y < height; ++y) {
                    // Mostly gray levels, now and then a value whose low byte is what counts.
                    const auto value =
                        static_cast<std::int32_t>(random() % 8 == 0 ? random() : random() % 256);
                    ImagePlane[x][y] = value;
                    const auto gray = static_cast<std::uint8_t>(value);
                    image.Column(static_cast<std::int32_t>(x))[y] = PixelRgba{gray, gray, gray, 0};
                    const std::size_t at = std::size_t{y} * width + x;
                    grays[at] = gray;
                    const PixelRgba colour{static_cast<std::uint8_t>(random()),
                                           static_cast<std::uint8_t>(random()),
                                           static_cast<std::uint8_t>(random()), 0};
                    colours.Column(static_cast<std::int32_t>(x))[y] = colour;
                    std::copy_n(std::begin({colour.Red, colour.Green, colour.Blue}), 3,
                                rgb.begin() + static_cast<std::ptrdiff_t>(3 * at));
                    std::copy_n(std::begin({colour.Blue, colour.Green, colour.Red}), 3,
                                bgr.begin() + static_cast<std::ptrdiff_t>(3 * at));
                }
            }
            ASSERT_TRUE(image.SaveBmp(plain.c_str()));
            const Bytes expected = ReadFileBytes(plain);
            SourceBitDepth = static_cast<std::int8_t>(depth);
            std::strcpy(OutputPath, stored.c_str());
            ASSERT_TRUE(StoreGrayImage());
            ASSERT_EQ(ReadFileBytes(stored), expected) << what;
            ReleasePlanes();
            ASSERT_TRUE(colours.SaveBmp(plain.c_str()));
            const Bytes expectedColours = ReadFileBytes(plain);
            ForEachPath([&](const vectors::Kernels& kernels) {
                for (const std::uint32_t threads : {1U, 3U}) {
                    const std::string how =
                        what + ", " + kernels.Name + ", " + std::to_string(threads) + " threads";
                    FileFailure failure;
                    ASSERT_TRUE(WriteArray({grays.data(), width, height, 1}, depth, stored.c_str(),
                                           threads, failure))
                        << how << ": " << failure.Reason();
                    ASSERT_EQ(ReadFileBytes(stored), expected) << how;
                    ASSERT_TRUE(WriteArray({rgb.data(), width, height, 3}, depth, stored.c_str(),
                                           threads, failure))
                        << how << ": " << failure.Reason();
                    ASSERT_EQ(ReadFileBytes(stored), expectedColours) << how << ", colours";
                    ASSERT_TRUE(WriteArray({bgr.data(), width, height, 3, ChannelOrder::Bgr}, depth,
                                           stored.c_str(), threads, failure))
                        << how << ": " << failure.Reason();
                    ASSERT_EQ(ReadFileBytes(stored), expectedColours) << how << ", blue first";
                }
            });
        }
    }
}

} // namespace
} // namespace dorvane
