#include "bitmap_image.hpp"
#include "bmp_file_builder.hpp"
#include "bmp_writer.hpp"
#include "file_replacement.hpp"
#include "platform.hpp"

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace dorvane;
using namespace dorvane::testing;
namespace fs = std::filesystem;

namespace {

PixelRgba Rgb(std::uint8_t red, std::uint8_t green, std::uint8_t blue, std::uint8_t alpha = 0) {
    return PixelRgba{blue, green, red, alpha};
}

// An image whose pixel (x, y) is (red 10x + y, green 100 + x, blue 200 + y, alpha x + 2y + 1).
BitmapImage Pattern(std::int32_t depth, std::int32_t width, std::int32_t height) {
    BitmapImage image;
    EXPECT_TRUE(image.ChangeBitDepth(depth));
    EXPECT_TRUE(image.SetDimensions(width, height));
    for (std::int32_t x = 0; x < width; ++x) {
        for (std::int32_t y = 0; y < height; ++y) {
            image.PixelAt(x, y) =
                Rgb(static_cast<std::uint8_t>(10 * x + y), static_cast<std::uint8_t>(100 + x),
                    static_cast<std::uint8_t>(200 + y), static_cast<std::uint8_t>(x + 2 * y + 1));
        }
    }
    return image;
}

// The two headers as the writer fills them.
Bytes Headers(std::uint32_t fileSize, std::uint32_t offBits, std::int32_t width,
              std::int32_t height, std::uint16_t depth, std::uint32_t compression,
              std::uint32_t imageSize, std::int32_t xResolution = 3780,
              std::int32_t yResolution = 3780) {
    BmpFileBuilder file;
    file.bfSize = fileSize;
    file.bfOffBits = offBits;
    file.biWidth = width;
    file.biHeight = height;
    file.biBitCount = depth;
    file.biCompression = compression;
    file.biSizeImage = imageSize;
    file.biXPelsPerMeter = xResolution;
    file.biYPelsPerMeter = yResolution;
    return file.Build();
}

void Append(Bytes& bytes, const Bytes& more) {
    bytes.insert(bytes.end(), more.begin(), more.end());
}

Bytes PaletteBytes(const BitmapImage& image) {
    Bytes bytes;
    for (const PixelRgba& entry : image.PaletteEntries()) {
        Append(bytes, Bytes{entry.Blue, entry.Green, entry.Red, entry.Alpha});
    }
    return bytes;
}

// A save into memory appends the file's bytes to what the buffer holds; where alpha is 0
// throughout, a picture of the image's colours as RGB rows gives the same file too.
void ExpectMemorySavesAgree(const BitmapImage& image, const Bytes& file) {
    FileFailure failure;
    Bytes bytes{7};
    ASSERT_TRUE(image.SaveBmp(bytes, failure));
    EXPECT_EQ(Bytes(bytes.begin() + 1, bytes.end()), file);
    Bytes rgb;
    for (std::int32_t y = 0; y < image.GetHeight(); ++y) {
        for (std::int32_t x = 0; x < image.GetWidth(); ++x) {
            const PixelRgba& pixel = image.PixelAt(x, y);
            if (pixel.Alpha != 0) {
                return;
            }
            Append(rgb, Bytes{pixel.Red, pixel.Green, pixel.Blue});
        }
    }
    const std::size_t stride = 3 * static_cast<std::size_t>(image.GetWidth());
    Bytes fromRows;
    ASSERT_TRUE(SaveRgbBmp(image, RgbRows{rgb.data(), stride, image.GetWidth(), image.GetHeight()},
                           fromRows, failure));
    EXPECT_EQ(fromRows, file);
}

class BmpWriter : public ::testing::Test {
  protected:
    Bytes Save(const BitmapImage& image) {
        const std::string path = Folder.File("out" + std::to_string(Serial++) + ".bmp");
        EXPECT_TRUE(image.SaveBmp(path.c_str()));
        const Bytes file = ReadFileBytes(path);
        ExpectMemorySavesAgree(image, file);
        return file;
    }

    TempDirectory Folder;
    int Serial = 0;
};

// Saves a gray picture of random grays at format's depth, with format's palette and resolution,
// three ways: as an image built pixel by pixel, with SaveGrayBmp from columns of cells (whose high
// bytes do not count) and from rows of bytes (with bytes between the rows); the files must be the
// same. GrayRowEncoder must give each row of that file and touch nothing after the row's data.
void ExpectGraySavesAgree(const BitmapImage& format, std::int32_t width, std::int32_t height,
                          std::mt19937& random, const TempDirectory& folder) {
    const std::int32_t depth = format.GetBitDepth();
    BitmapImage image;
    ASSERT_TRUE(image.ChangeBitDepth(depth));
    ASSERT_TRUE(image.SetDimensions(width, height));
    std::ranges::copy(format.PaletteEntries(), image.PaletteEntries().begin());
    image.XResolution = format.XResolution;
    image.YResolution = format.YResolution;
    const std::size_t stride = static_cast<std::size_t>(width) + 5;
    Bytes rows(stride * static_cast<std::size_t>(height));
    std::vector<std::vector<std::int32_t>> cells(static_cast<std::size_t>(width));
    std::vector<const std::int32_t*> columns;
    std::ranges::generate(rows, [&] { return static_cast<std::uint8_t>(random()); });
    for (std::int32_t x = 0; x < width; ++x) {
        auto& column = cells[static_cast<std::size_t>(x)];
        for (std::int32_t y = 0; y < height; ++y) {
            const std::uint8_t gray =
                rows[static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x)];
            image.PixelAt(x, y) = PixelRgba{gray, gray, gray, 0};
            column.push_back(static_cast<std::int32_t>(random() & 0xFFFFFF00U) | gray);
        }
        columns.push_back(column.data());
    }
    const std::string context =
        std::to_string(depth) + " bpp, " + std::to_string(width) + " x " + std::to_string(height);
    const std::string plain = folder.File("plain.bmp");
    const std::string fromColumns = folder.File("columns.bmp");
    const std::string fromRows = folder.File("rows.bmp");
    ASSERT_TRUE(image.SaveBmp(plain.c_str())) << context;
    ASSERT_TRUE(SaveGrayBmp(format, columns, height, fromColumns.c_str())) << context;
    ASSERT_TRUE(SaveGrayBmp(format, GrayRows{rows.data(), stride, width, height}, fromRows.c_str()))
        << context;
    const Bytes file = ReadFileBytes(plain);
    ASSERT_EQ(ReadFileBytes(fromColumns), file) << context;
    ASSERT_EQ(ReadFileBytes(fromRows), file) << context;
    FileFailure failure;
    Bytes inMemory;
    ASSERT_TRUE(
        SaveGrayBmp(format, GrayRows{rows.data(), stride, width, height}, inMemory, failure));
    ASSERT_EQ(inMemory, file) << context;
    // The same grays as RGB rows, with bytes between the rows.
    Bytes rgb;
    for (const std::uint8_t gray : rows) {
        Append(rgb, Bytes{gray, gray, gray});
    }
    const std::string fromRgb = folder.File("rgb.bmp");
    ASSERT_TRUE(SaveRgbBmp(format, RgbRows{rgb.data(), 3 * stride, width, height}, fromRgb.c_str(),
                           failure))
        << context;
    ASSERT_EQ(ReadFileBytes(fromRgb), file) << context;

    const GrayRowEncoder encode(format);
    const std::size_t rowBits = static_cast<std::size_t>(width) * static_cast<std::size_t>(depth);
    const std::size_t rowLength = (rowBits + 31) / 32 * 4;
    for (std::int32_t y = 0; y < height; ++y) {
        Bytes row(rowLength + 1, 0xAA);
        encode(rows.data() + static_cast<std::size_t>(y) * stride, width, row.data());
        const auto inFile = file.begin() + GetU32(file, 10) +
                            static_cast<std::ptrdiff_t>(rowLength) * (height - 1 - y);
        Bytes expected(inFile, inFile + static_cast<std::ptrdiff_t>((rowBits + 7) / 8));
        expected.resize(rowLength + 1, 0xAA);
        ASSERT_EQ(row, expected) << context << ", row " << y;
    }
}

#if defined(_WIN32)
constexpr bool HasUnnamedFiles = false; // a replacement names every temporary file
#else
constexpr bool HasUnnamedFiles = true;

// Runs body in a forked child; returns its exit code (-1 when it died of a signal).
int RunInChild(const std::function<int()>& body) {
    const pid_t child = fork();
    if (child == 0) {
        _exit(body());
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
#endif

} // namespace

// --- Exact layouts

TEST_F(BmpWriter, ThreeByTwoAtTwentyFourBits) {
    const BitmapImage image = Pattern(24, 3, 2);
    Bytes expected = Headers(78, 54, 3, 2, 24, 0, 24);
    Append(expected, {200 + 1, 100, 1, 201, 101, 11, 201, 102, 21, 0, 0, 0}); // row 1 first
    Append(expected, {200, 100, 0, 200, 101, 10, 200, 102, 20, 0, 0, 0});
    EXPECT_EQ(Save(image), expected);
}

TEST_F(BmpWriter, ThreeByTwoAtThirtyTwoBitsKeepsAlpha) {
    const BitmapImage image = Pattern(32, 3, 2);
    Bytes expected = Headers(78, 54, 3, 2, 32, 0, 24);
    Append(expected, {201, 100, 1, 3, 201, 101, 11, 4, 201, 102, 21, 5});
    Append(expected, {200, 100, 0, 1, 200, 101, 10, 2, 200, 102, 20, 3});
    EXPECT_EQ(Save(image), expected);
}

TEST_F(BmpWriter, ThreeByTwoAtSixteenBitsIsFiveSixFiveWithMasks) {
    BitmapImage image;
    ASSERT_TRUE(image.ChangeBitDepth(16));
    ASSERT_TRUE(image.SetDimensions(3, 2));
    image.PixelAt(0, 1) = Rgb(255, 255, 255, 9);
    image.PixelAt(1, 1) = Rgb(8, 4, 8);
    image.PixelAt(2, 1) = Rgb(7, 3, 7);
    image.PixelAt(0, 0) = Rgb(255, 0, 0);
    image.PixelAt(1, 0) = Rgb(0, 255, 0);
    image.PixelAt(2, 0) = Rgb(0, 0, 255);
    Bytes expected = Headers(82, 66, 3, 2, 16, 3, 16);
    Append(expected, {0x00, 0xF8, 0x00, 0x00, 0xE0, 0x07, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00});
    Append(expected, {0xFF, 0xFF, 0x21, 0x08, 0x00, 0x00, 0, 0});
    Append(expected, {0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0, 0});
    EXPECT_EQ(Save(image), expected);
}

TEST_F(BmpWriter, ThreeByTwoAtEightBitsWritesTheImagesPalette) {
    BitmapImage image;
    ASSERT_TRUE(image.ChangeBitDepth(8));
    ASSERT_TRUE(image.SetDimensions(3, 2));
    image.SetPaletteEntry(1, Rgb(1, 2, 3, 4));
    image.SetPaletteEntry(2, Rgb(9, 8, 7, 6));
    image.PixelAt(0, 1) = Rgb(1, 2, 3);     // entry 1, alpha aside
    image.PixelAt(1, 1) = Rgb(9, 8, 7, 50); // entry 2
    image.PixelAt(2, 1) = Rgb(0, 0, 0);     // entry 0
    image.PixelAt(0, 0) = Rgb(255, 255, 255);
    image.PixelAt(1, 0) = Rgb(128, 128, 128);
    image.PixelAt(2, 0) = Rgb(200, 200, 200);
    Bytes expected = Headers(1086, 1078, 3, 2, 8, 0, 8);
    Append(expected, PaletteBytes(image));
    Append(expected, {1, 2, 0, 0});
    Append(expected, {255, 164, 7, 0});
    EXPECT_EQ(Save(image), expected);
}

TEST_F(BmpWriter, ThreeByOneAtFourBits) {
    BitmapImage image;
    ASSERT_TRUE(image.ChangeBitDepth(4));
    ASSERT_TRUE(image.SetDimensions(3, 1));
    image.PixelAt(0, 0) = Rgb(128, 0, 0);     // 1
    image.PixelAt(1, 0) = Rgb(255, 255, 255); // 15
    image.PixelAt(2, 0) = Rgb(192, 192, 192); // 8
    Bytes expected = Headers(122, 118, 3, 1, 4, 0, 4);
    Append(expected, PaletteBytes(image));
    Append(expected, {0x1F, 0x80, 0, 0});
    EXPECT_EQ(Save(image), expected);
}

TEST_F(BmpWriter, ThirtyThreeByOneAtOneBit) {
    BitmapImage image;
    ASSERT_TRUE(image.ChangeBitDepth(1));
    ASSERT_TRUE(image.SetDimensions(33, 1)); // white: index 1
    image.PixelAt(1, 0) = Rgb(0, 0, 0);
    image.PixelAt(8, 0) = Rgb(10, 10, 10);
    Bytes expected = Headers(70, 62, 33, 1, 1, 0, 8);
    Append(expected, {0, 0, 0, 0, 255, 255, 255, 0});
    Append(expected, {0xBF, 0x7F, 0xFF, 0xFF, 0x80, 0, 0, 0});
    EXPECT_EQ(Save(image), expected);
}

TEST_F(BmpWriter, ResolutionZeroIsWrittenAs3780AndOtherValuesPassThrough) {
    BitmapImage image;
    ASSERT_TRUE(image.SetDimensions(1, 1));
    Bytes bytes = Save(image);
    EXPECT_EQ(GetU32(bytes, 38), 3780U);
    EXPECT_EQ(GetU32(bytes, 42), 3780U);
    EXPECT_EQ(image.XResolution, 0);
    EXPECT_EQ(image.YResolution, 0);

    image.XResolution = 2835;
    image.YResolution = -1;
    bytes = Save(image);
    EXPECT_EQ(GetU32(bytes, 38), 2835U);
    EXPECT_EQ(GetU32(bytes, 42), 0xFFFFFFFFU);

    image.XResolution = 0;
    image.YResolution = 1;
    bytes = Save(image);
    EXPECT_EQ(GetU32(bytes, 38), 3780U);
    EXPECT_EQ(GetU32(bytes, 42), 1U);
}

// Every width up to 40, odd ones and those that fill the last byte or word partly; the gray
// saves write the bytes of the same image in gray.
TEST_F(BmpWriter, SizesPaddingAndGraySavesForManyWidths) {
    std::mt19937 random(5);
    for (const std::int32_t depth : {1, 4, 8, 16, 24, 32}) {
        for (std::int32_t width = 1; width <= 40; ++width) {
            const BitmapImage image = Pattern(depth, width, 3);
            ExpectGraySavesAgree(image, width, 3, random, Folder);
            const Bytes bytes = Save(image);
            const std::uint32_t row = static_cast<std::uint32_t>((width * depth + 31) / 32 * 4);
            const std::uint32_t table = depth <= 8 ? 4U << depth : depth == 16 ? 12 : 0;
            ASSERT_EQ(bytes.size(), 54 + table + 3 * row) << depth << " " << width;
            EXPECT_EQ(GetU32(bytes, 2), bytes.size());
            EXPECT_EQ(GetU32(bytes, 10), 54 + table);
            EXPECT_EQ(GetU32(bytes, 14), 40U);
            EXPECT_EQ(GetU16(bytes, 26), 1U);
            EXPECT_EQ(GetU32(bytes, 30), depth == 16 ? 3U : 0U);
            EXPECT_EQ(GetU32(bytes, 34), 3 * row);
            EXPECT_EQ(GetU32(bytes, 46), 0U);
            EXPECT_EQ(GetU32(bytes, 50), 0U);
            // Bits and bytes beyond the pixels are zero.
            const std::uint32_t used = static_cast<std::uint32_t>(width * depth);
            for (std::uint32_t r = 0; r < 3; ++r) {
                for (std::uint32_t bit = used; bit < 8 * row; ++bit) {
                    const std::uint8_t byte = bytes[54 + table + r * row + bit / 8];
                    ASSERT_EQ((byte >> (7 - bit % 8)) & 1, 0)
                        << depth << " " << width << " row " << r << " bit " << bit;
                }
            }
        }
    }
}

// --- Round trips

TEST_F(BmpWriter, RoundTripAtEveryDepth) {
    for (const std::int32_t depth : {1, 4, 8, 16, 24, 32}) {
        for (const auto& [width, height] :
             {std::pair{1, 1}, std::pair{3, 2}, std::pair{7, 5}, std::pair{33, 4}, std::pair{64, 3},
              std::pair{5, 70}, std::pair{9, 65}}) {
            BitmapImage image = Pattern(depth, width, height);
            if (depth <= 8) {
                // Pixels that are entries of a palette without repeated colours come back
                // exactly, alpha included.
                const auto palette = image.PaletteEntries();
                for (std::size_t i = 0; i < palette.size(); ++i) {
                    palette[i] =
                        Rgb(static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i),
                            static_cast<std::uint8_t>(i * 7), static_cast<std::uint8_t>(i * 3 + 1));
                }
                for (std::int32_t x = 0; x < width; ++x) {
                    for (std::int32_t y = 0; y < height; ++y) {
                        const auto index = static_cast<std::size_t>(x * 7 + y * 3) % palette.size();
                        image.PixelAt(x, y) = palette[index];
                    }
                }
            }
            image.XResolution = 1234;
            image.YResolution = 4321;
            const std::string path = Folder.File("trip.bmp");
            ASSERT_TRUE(image.SaveBmp(path.c_str()));
            BitmapImage loaded;
            ASSERT_TRUE(loaded.LoadBmp(path.c_str()));
            ASSERT_EQ(loaded.GetBitDepth(), depth);
            ASSERT_EQ(loaded.GetWidth(), width);
            ASSERT_EQ(loaded.GetHeight(), height);
            EXPECT_EQ(loaded.XResolution, 1234);
            EXPECT_EQ(loaded.YResolution, 4321);
            for (std::int32_t i = 0; i < image.PaletteSize() && depth <= 8; ++i) {
                ASSERT_EQ(loaded.PaletteEntry(i), image.PaletteEntry(i));
            }
            for (std::int32_t x = 0; x < width; ++x) {
                for (std::int32_t y = 0; y < height; ++y) {
                    PixelRgba expected = image.PixelAt(x, y);
                    if (depth == 16) {
                        expected =
                            Rgb(expected.Red & 0xF8, expected.Green & 0xF8, expected.Blue & 0xF8);
                    } else if (depth == 24) {
                        expected.Alpha = 0;
                    }
                    ASSERT_EQ(loaded.PixelAt(x, y), expected)
                        << depth << " " << width << "x" << height << " at " << x << "," << y;
                }
            }
        }
    }
}

TEST_F(BmpWriter, WhiteAtSixteenBitsReadsBackAs248) {
    BitmapImage image;
    ASSERT_TRUE(image.ChangeBitDepth(16));
    const std::string path = Folder.File("white.bmp");
    ASSERT_TRUE(image.SaveBmp(path.c_str()));
    BitmapImage loaded;
    ASSERT_TRUE(loaded.LoadBmp(path.c_str()));
    EXPECT_EQ(loaded.PixelAt(0, 0), Rgb(248, 248, 248));
}

// --- Nearest palette index

TEST(NearestPaletteIndex, StandardEightBitPaletteExamples) {
    BitmapImage image;
    ASSERT_TRUE(image.ChangeBitDepth(8));
    EXPECT_EQ(image.NearestPaletteIndex(Rgb(128, 128, 64)), 100);
    EXPECT_EQ(image.NearestPaletteIndex(Rgb(128, 128, 128)), 164); // not 248, the same colour
    EXPECT_EQ(image.NearestPaletteIndex(Rgb(100, 100, 100)), 155);
    EXPECT_EQ(image.NearestPaletteIndex(Rgb(200, 200, 200)), 7);
    EXPECT_EQ(image.NearestPaletteIndex(Rgb(0, 0, 0)), 0);
    EXPECT_EQ(image.NearestPaletteIndex(Rgb(255, 255, 255)), 255);
}

TEST(NearestPaletteIndex, TiesGoToTheLowerIndexAndAlphaIsIgnored) {
    BitmapImage image;
    ASSERT_TRUE(image.ChangeBitDepth(1));
    image.SetPaletteEntry(0, Rgb(20, 20, 20));
    image.SetPaletteEntry(1, Rgb(10, 10, 10));
    EXPECT_EQ(image.NearestPaletteIndex(Rgb(15, 15, 15)), 0);
    image.SetPaletteEntry(0, Rgb(10, 10, 10));
    image.SetPaletteEntry(1, Rgb(20, 20, 20));
    EXPECT_EQ(image.NearestPaletteIndex(Rgb(15, 15, 15)), 0);
    EXPECT_EQ(image.NearestPaletteIndex(Rgb(16, 15, 15)), 1);

    ASSERT_TRUE(image.ChangeBitDepth(4));
    image.SetPaletteEntry(3, Rgb(50, 60, 70, 1));
    image.SetPaletteEntry(5, Rgb(50, 60, 70, 2));
    EXPECT_EQ(image.NearestPaletteIndex(Rgb(50, 60, 70, 2)), 3);
    EXPECT_EQ(image.NearestPaletteIndex(Rgb(50, 60, 70, 200)), 3);
}

TEST_F(BmpWriter, APaletteOfOneColourWritesIndexZeroEverywhere) {
    BitmapImage image = Pattern(8, 5, 2);
    for (std::int32_t i = 0; i < 256; ++i) {
        image.SetPaletteEntry(i, Rgb(1, 2, 3));
    }
    const Bytes bytes = Save(image);
    for (std::size_t i = 1078; i < bytes.size(); ++i) {
        EXPECT_EQ(bytes[i], 0) << i;
    }
}

TEST(NearestPaletteIndex, RowEncodersAgreeWithTheLinearSearchForEveryColourTried) {
    std::mt19937 random(7);
    for (const std::int32_t depth : {1, 4, 8}) {
        for (int palettes = 0; palettes < 3; ++palettes) {
            // The standard palette, then random ones (small channel ranges make many ties).
            const std::int32_t width = 6000;
            BitmapImage image;
            ASSERT_TRUE(image.ChangeBitDepth(depth));
            ASSERT_TRUE(image.SetDimensions(width, 2));
            if (palettes > 0) {
                const std::uint32_t range = palettes == 1 ? 256 : 4;
                for (std::int32_t i = 0; i < image.PaletteSize(); ++i) {
                    const auto channel = [&] {
                        return static_cast<std::uint8_t>(random() % range * (256 / range));
                    };
                    image.SetPaletteEntry(i, PixelRgba{channel(), channel(), channel(), 0});
                }
            }
            for (std::int32_t x = 0; x < width; ++x) {
                // Row 0: every gray, then random colours; row 1: colours with repeats.
                const auto gray = static_cast<std::uint8_t>(x);
                image.PixelAt(x, 0) = x < 256 ? PixelRgba{gray, gray, gray, 0}
                                              : PixelRgba{static_cast<std::uint8_t>(random()),
                                                          static_cast<std::uint8_t>(random()),
                                                          static_cast<std::uint8_t>(random()), 0};
                image.PixelAt(x, 1) = image.PixelAt(static_cast<std::int32_t>(random() % 600), 0);
            }
            Bytes buffer(static_cast<std::size_t>(width), 0);
            for (std::int32_t y = 0; y < 2; ++y) {
                std::fill(buffer.begin(), buffer.end(), 0);
                const bool packed = depth == 8   ? image.PackRow8(buffer, y)
                                    : depth == 4 ? image.PackRow4(buffer, y)
                                                 : image.PackRow1(buffer, y);
                ASSERT_TRUE(packed);
                const std::int32_t perByte = 8 / depth;
                for (std::int32_t x = 0; x < width; ++x) {
                    const std::uint32_t byte = buffer[static_cast<std::size_t>(x / perByte)];
                    const std::uint32_t shift =
                        static_cast<std::uint32_t>(depth * (perByte - 1 - x % perByte));
                    const std::uint32_t index = (byte >> shift) & ((1U << depth) - 1);
                    ASSERT_EQ(index, image.NearestPaletteIndex(image.PixelAt(x, y)))
                        << depth << " palette " << palettes << " at " << x << "," << y;
                }
            }
        }
    }
}

// A save encodes a block of many rows at a time, a few columns at a time, and a large picture
// takes several blocks, the last one partly filled; at every depth such a picture of random
// colours must hold, row for row, what the row encoders give, and at 16 bpp the 5-6-5 values. A
// gray picture of that size, with a random palette at 1, 4 and 8 bpp, is saved alike by the gray
// saves.
TEST_F(BmpWriter, LargePicturesHoldTheRowsOfTheRowEncoders) {
    std::mt19937 random(23);
    constexpr std::int32_t Width = 1001;
    constexpr std::int32_t Height = 240;
    for (const std::int32_t depth : {1, 4, 8, 16, 24, 32}) {
        BitmapImage image;
        ASSERT_TRUE(image.ChangeBitDepth(depth));
        ASSERT_TRUE(image.SetDimensions(Width, Height));
        for (std::int32_t x = 0; x < Width; ++x) {
            for (std::int32_t y = 0; y < Height; ++y) {
                image.PixelAt(x, y) =
                    Rgb(static_cast<std::uint8_t>(random()), static_cast<std::uint8_t>(random()),
                        static_cast<std::uint8_t>(random()), static_cast<std::uint8_t>(random()));
            }
        }
        for (PixelRgba& entry : image.PaletteEntries()) {
            entry = Rgb(static_cast<std::uint8_t>(random()), static_cast<std::uint8_t>(random()),
                        static_cast<std::uint8_t>(random()), static_cast<std::uint8_t>(random()));
        }
        image.XResolution = 1234;
        ExpectGraySavesAgree(image, Width, Height, random, Folder);
        const Bytes file = Save(image);
        const std::size_t rowLength = (static_cast<std::size_t>(Width) * depth + 31) / 32 * 4;
        const std::size_t table = depth <= 8 ? 4U << depth : depth == 16 ? 12 : 0;
        ASSERT_EQ(file.size(), 54 + table + rowLength * Height) << depth;
        for (std::int32_t y = 0; y < Height; ++y) {
            Bytes expected(rowLength, 0);
            switch (depth) {
            case 32:
                ASSERT_TRUE(image.PackRow32(expected, y));
                break;
            case 24:
                ASSERT_TRUE(image.PackRow24(expected, y));
                break;
            case 16:
                for (std::int32_t x = 0; x < Width; ++x) {
                    const PixelRgba pixel = image.PixelAt(x, y);
                    const std::uint32_t value = ((std::uint32_t{pixel.Red} >> 3) << 11) |
                                                ((std::uint32_t{pixel.Green} >> 2) << 5) |
                                                (std::uint32_t{pixel.Blue} >> 3);
                    expected[2 * static_cast<std::size_t>(x)] = static_cast<std::uint8_t>(value);
                    expected[2 * static_cast<std::size_t>(x) + 1] =
                        static_cast<std::uint8_t>(value >> 8);
                }
                break;
            case 8:
                ASSERT_TRUE(image.PackRow8(expected, y));
                break;
            case 4:
                ASSERT_TRUE(image.PackRow4(expected, y));
                break;
            default:
                ASSERT_TRUE(image.PackRow1(expected, y));
                break;
            }
            const auto row = file.begin() +
                             static_cast<std::ptrdiff_t>(
                                 54 + table + rowLength * static_cast<std::size_t>(Height - 1 - y));
            ASSERT_TRUE(std::equal(expected.begin(), expected.end(), row))
                << "depth " << depth << " row " << y;
        }
    }
}

// --- Row encoders

TEST(BmpRowEncoders, RefuseBuffersTooSmallAndLeaveThemUntouched) {
    struct Case {
        std::int32_t Depth, Width;
        std::size_t Needed;
        bool (BitmapImage::*Pack)(std::span<std::uint8_t>, std::int32_t) const;
    };
    for (const Case& c :
         {Case{32, 3, 12, &BitmapImage::PackRow32}, Case{24, 3, 9, &BitmapImage::PackRow24},
          Case{8, 5, 5, &BitmapImage::PackRow8}, Case{4, 3, 2, &BitmapImage::PackRow4},
          Case{1, 9, 2, &BitmapImage::PackRow1}}) {
        const BitmapImage image = Pattern(c.Depth, c.Width, 1);
        Bytes buffer(c.Needed + 2, 0xAA);
        EXPECT_FALSE((image.*c.Pack)(std::span(buffer).first(c.Needed - 1), 0)) << c.Depth;
        EXPECT_EQ(buffer, Bytes(c.Needed + 2, 0xAA)) << c.Depth;
        EXPECT_TRUE((image.*c.Pack)(std::span(buffer).first(c.Needed), 0)) << c.Depth;
        EXPECT_EQ(buffer[c.Needed], 0xAA) << c.Depth; // nothing beyond the row's bytes
        EXPECT_EQ(buffer[c.Needed + 1], 0xAA) << c.Depth;
    }
}

// --- Failed writes (fault 4)

TEST(BmpWriterFailures, AFullDeviceGivesFalseAtEveryDepth) {
    if (!fs::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full";
    }
    for (const std::int32_t depth : {1, 4, 8, 16, 24, 32}) {
        // Small files fail when the stream is flushed or closed, large ones in a row write.
        for (const std::int32_t size : {1, 3, 700}) {
            const BitmapImage image = Pattern(depth, size, size);
            EXPECT_FALSE(image.SaveBmp("/dev/full")) << depth << " " << size;
            const Bytes grays(static_cast<std::size_t>(size * size), 77);
            EXPECT_FALSE(SaveGrayBmp(
                image, GrayRows{grays.data(), static_cast<std::size_t>(size), size, size},
                "/dev/full"))
                << depth << " " << size;
        }
    }
}

TEST(BmpWriterFailures, TheNullDeviceIsWrittenDirectly) {
#if defined(_WIN32)
    // Were NUL taken for a file, the rename of a temporary file onto it would fail.
    for (const char* const device : {"NUL", "nul"}) {
        EXPECT_TRUE(Pattern(24, 5, 5).SaveBmp(device)) << device;
    }
#else
    if (!fs::exists("/dev/null")) {
        GTEST_SKIP() << "no /dev/null";
    }
    EXPECT_TRUE(Pattern(24, 5, 5).SaveBmp("/dev/null"));
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
#endif
}

// --- Replacing the destination (fault 5)

TEST_F(BmpWriter, AMissingFolderGivesFalseAndLeavesNoFile) {
    const std::string path = Folder.File("missing/out.bmp");
    EXPECT_FALSE(Pattern(24, 2, 2).SaveBmp(path.c_str()));
    EXPECT_FALSE(fs::exists(Folder.Path / "missing"));
    EXPECT_TRUE(Folder.Entries().empty());
}

TEST_F(BmpWriter, TheRowAndColumnSavesRefuseAPictureWithoutPixels) {
    const BitmapImage format;
    const Bytes grays(12, 9);
    const std::int32_t cells[4] = {};
    const std::vector<const std::int32_t*> columns{cells, cells, cells};
    const std::string path = Folder.File("out.bmp");
    EXPECT_FALSE(SaveGrayBmp(format, std::span<const std::int32_t* const>(), 4, path.c_str()));
    EXPECT_FALSE(SaveGrayBmp(format, columns, 0, path.c_str()));
    for (const GrayRows& picture :
         {GrayRows{grays.data(), 3, 0, 4}, GrayRows{grays.data(), 3, 3, 0},
          GrayRows{grays.data(), 3, -3, 4}, GrayRows{grays.data(), 3, 3, -4},
          GrayRows{nullptr, 3, 3, 4}, GrayRows{grays.data(), 2, 3, 4}}) {
        EXPECT_FALSE(SaveGrayBmp(format, picture, path.c_str()))
            << picture.Stride << " " << picture.Width << " x " << picture.Height;
    }
    FileFailure failure;
    EXPECT_FALSE(SaveRgbBmp(format, RgbRows{grays.data(), 8, 3, 4}, path.c_str(), failure));
    Bytes memory{1};
    EXPECT_FALSE(SaveRgbBmp(format, RgbRows{nullptr, 9, 3, 4}, memory, failure));
    EXPECT_FALSE(SaveGrayBmp(format, GrayRows{grays.data(), 3, 0, 4}, memory, failure));
    EXPECT_EQ(memory, Bytes{1});
    EXPECT_TRUE(Folder.Entries().empty());
    // The same arguments with pixels write a file.
    EXPECT_TRUE(SaveGrayBmp(format, columns, 4, path.c_str()));
    EXPECT_TRUE(SaveGrayBmp(format, GrayRows{grays.data(), 3, 3, 4}, path.c_str()));
}

TEST_F(BmpWriter, AFolderAsDestinationGivesFalseAndStaysAFolder) {
    fs::create_directory(Folder.Path / "folder");
    EXPECT_FALSE(Pattern(24, 2, 2).SaveBmp(Folder.File("folder").c_str()));
    EXPECT_TRUE(fs::is_directory(Folder.Path / "folder"));
    EXPECT_EQ(Folder.Entries(), std::vector<std::string>{"folder"});
}

TEST_F(BmpWriter, ASuccessfulSaveLeavesOnlyTheDestination) {
    const std::string path = Folder.File("out.bmp");
    ASSERT_TRUE(Pattern(8, 4, 4).SaveBmp(path.c_str()));
    ASSERT_TRUE(Pattern(24, 9, 9).SaveBmp(path.c_str())); // over an existing file
    EXPECT_EQ(Folder.Entries(), std::vector<std::string>{"out.bmp"});
    EXPECT_EQ(ReadFileBytes(path).size(), 54U + 9 * 28);
}

TEST_F(BmpWriter, ANewFileGetsTheModeThatCreatingItWouldGive) {
    const std::string reference = Folder.File("reference");
    std::fclose(std::fopen(reference.c_str(), "wb"));
    const std::string path = Folder.File("new.bmp");
    ASSERT_TRUE(Pattern(24, 2, 2).SaveBmp(path.c_str()));
    EXPECT_EQ(fs::status(path).permissions(), fs::status(reference).permissions());
}

// The mode and the group of a replaced file stay (a group only root can give: any, for the test);
// a file that the caller may not write is refused, as opening it would be, and stays as it was.
TEST_F(BmpWriter, AReplacedFileKeepsItsPermissionBitsAndGroup) {
#if defined(_WIN32)
    GTEST_SKIP() << "Windows files have access lists instead of permission bits";
#else
    const std::string path = Folder.File("out.bmp");
    const bool root = ::geteuid() == 0;
    const ::gid_t group = root ? 4321 : ::getegid();
    for (const fs::perms mode :
         {fs::perms{0640}, fs::perms{0660}, fs::perms{0755}, fs::perms{02775}, fs::perms{0444}}) {
        WriteFileBytes(path, Bytes{1, 2, 3});
        ASSERT_EQ(::chown(path.c_str(), static_cast<::uid_t>(-1), group), 0);
        fs::permissions(path, mode, fs::perm_options::replace);
        FileFailure failure;
        const bool writable = root || (mode & fs::perms::owner_write) != fs::perms::none;
        ASSERT_EQ(Pattern(24, 2, 2).SaveBmp(path.c_str(), failure), writable);
        EXPECT_EQ(failure.Reason(), writable ? "no failure" : "Permission denied");
        struct ::stat status {};
        ASSERT_EQ(::stat(path.c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 07777, static_cast<::mode_t>(mode));
        EXPECT_EQ(status.st_gid, group);
        EXPECT_EQ(ReadFileBytes(path).size(), writable ? 70U : 3U);
    }
#endif
}

TEST_F(BmpWriter, SavingOverTheLoadedFileWorks) {
    const std::string path = Folder.File("same.bmp");
    ASSERT_TRUE(Pattern(24, 5, 4).SaveBmp(path.c_str()));
    BitmapImage image;
    ASSERT_TRUE(image.LoadBmp(path.c_str()));
    image.PixelAt(4, 3) = Rgb(1, 2, 3);
    ASSERT_TRUE(image.SaveBmp(path.c_str()));
    BitmapImage again;
    ASSERT_TRUE(again.LoadBmp(path.c_str()));
    EXPECT_EQ(again.PixelAt(4, 3), Rgb(1, 2, 3));
    EXPECT_EQ(again.PixelAt(0, 0), Rgb(0, 100, 200));
    EXPECT_EQ(Folder.Entries(), std::vector<std::string>{"same.bmp"});
}

TEST_F(BmpWriter, ASymbolicLinkDestinationReplacesTheFileItLeadsTo) {
#if defined(_WIN32)
    GTEST_SKIP() << "symbolic links need a privilege on Windows";
#else
    fs::create_directory(Folder.Path / "real");
    const fs::path target = Folder.Path / "real" / "target.bmp";
    WriteFileBytes(target, Bytes{1, 2, 3});
    fs::create_symlink("real/target.bmp", Folder.Path / "link.bmp");
    ASSERT_TRUE(Pattern(24, 2, 2).SaveBmp(Folder.File("link.bmp").c_str()));
    EXPECT_TRUE(fs::is_symlink(Folder.Path / "link.bmp"));
    EXPECT_EQ(ReadFileBytes(target).size(), 70U);
    EXPECT_EQ(Folder.Entries(), (std::vector<std::string>{"link.bmp", "real"}));

    // A link to nothing yet creates the file it names.
    fs::create_symlink("real/later.bmp", Folder.Path / "dangling.bmp");
    ASSERT_TRUE(Pattern(24, 2, 2).SaveBmp(Folder.File("dangling.bmp").c_str()));
    EXPECT_TRUE(fs::is_symlink(Folder.Path / "dangling.bmp"));
    EXPECT_EQ(ReadFileBytes(Folder.Path / "real" / "later.bmp").size(), 70U);
#endif
}

TEST_F(BmpWriter, AFailedSaveOverAFileLeavesItByteForByte) {
    const std::string path = Folder.File("keep.bmp");
    ASSERT_TRUE(Pattern(24, 40, 40).SaveBmp(path.c_str()));
#if defined(_WIN32)
    // Windows refuses to replace a read-only file (before anything is written), or one that a
    // reader holds open without letting it be deleted, as the C library opens files (the whole
    // picture is written, and then the rename fails).
    const Bytes before = ReadFileBytes(path);
    for (const bool readOnly : {true, false}) {
        fs::permissions(path, fs::perms::owner_write,
                        readOnly ? fs::perm_options::remove : fs::perm_options::add);
        std::ifstream holder;
        if (!readOnly) {
            holder.open(path, std::ios::binary);
        }
        FileFailure failure;
        EXPECT_FALSE(Pattern(24, 100, 100).SaveBmp(path.c_str(), failure)) << readOnly;
        EXPECT_EQ(failure.Reason(), readOnly ? "Permission denied"
                                             : "cannot put the file in place: Permission denied");
        holder.close();
        EXPECT_EQ(ReadFileBytes(path), before) << readOnly;
        EXPECT_EQ(Folder.Entries(), std::vector<std::string>{"keep.bmp"}) << readOnly;
    }
#else
    fs::permissions(path, fs::perms{0640}, fs::perm_options::replace);
    const Bytes before = ReadFileBytes(path);
    // A child whose files may not grow beyond 2000 bytes writes a larger picture over it.
    for (const std::int32_t depth : {8, 16, 24}) {
        const int code = RunInChild([&] {
            signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{2000, 2000};
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0) {
                return 90;
            }
            return Pattern(depth, 100, 100).SaveBmp(path.c_str()) ? 1 : 0;
        });
        EXPECT_EQ(code, 0) << depth;
        EXPECT_EQ(ReadFileBytes(path), before) << depth;
        EXPECT_EQ(fs::status(path).permissions(), fs::perms{0640});
        EXPECT_EQ(Folder.Entries(), std::vector<std::string>{"keep.bmp"}) << depth;
    }
#endif
}

TEST_F(BmpWriter, AFailedSaveOfANewFileLeavesNothing) {
#if defined(_WIN32)
    GTEST_SKIP() << "Windows has no file-size limit to make a write fail";
#else
    const std::string path = Folder.File("new.bmp");
    const int code = RunInChild([&] {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{100, 100};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) {
            return 90;
        }
        return Pattern(32, 50, 50).SaveBmp(path.c_str()) ? 1 : 0;
    });
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(Folder.Entries().empty());
#endif
}

TEST_F(BmpWriter, AFifoIsWrittenDirectly) {
#if defined(_WIN32)
    GTEST_SKIP() << "Windows has no FIFOs";
#else
    const std::string fifo = Folder.File("pipe");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const BitmapImage image = Pattern(8, 7, 3);
    Bytes received;
    std::thread reader([&] { received = ReadFileBytes(fifo); });
    const bool saved = image.SaveBmp(fifo.c_str());
    reader.join();
    EXPECT_TRUE(saved);
    EXPECT_EQ(received, Save(image));
    EXPECT_TRUE(fs::is_fifo(fifo));
#endif
}

TEST_F(BmpWriter, ExclusiveCreationNeverFollowsOrReplacesAnExistingName) {
#if defined(_WIN32)
    GTEST_SKIP() << "symbolic links need a privilege on Windows";
#else
    const fs::path victim = Folder.Path / "victim";
    WriteFileBytes(victim, Bytes{7, 7});
    fs::create_symlink(victim, Folder.Path / "planted");
    int error = 0;
    const platform::Destination place = platform::ReachDestination(Folder.File("fresh").c_str());
    ASSERT_EQ(place.Error, 0);
    EXPECT_EQ(platform::CreateExclusive(place.Place, "planted", error), nullptr);
    EXPECT_EQ(error, EEXIST);
    EXPECT_EQ(platform::CreateExclusive(place.Place, "victim", error), nullptr);
    EXPECT_EQ(ReadFileBytes(victim), (Bytes{7, 7}));
    EXPECT_NE(platform::CreateExclusive(place.Place, place.Name, error), nullptr);
    EXPECT_TRUE(fs::exists(Folder.Path / "fresh"));
#endif
}

TEST_F(BmpWriter, AnAbandonedReplacementRemovesItsTemporaryFile) {
    const std::string path = Folder.File("out.bmp");
    WriteFileBytes(path, Bytes{1, 2, 3});
    for (const TemporaryFile kind : {TemporaryFile::Named, TemporaryFile::Unnamed}) {
        {
            FileReplacement replacement(kind);
            ASSERT_TRUE(replacement.Open(path.c_str()));
            std::fputs("partial", replacement.Stream());
            if (kind == TemporaryFile::Named || !HasUnnamedFiles) {
                EXPECT_EQ(replacement.TemporaryPath().parent_path(), Folder.Path);
                EXPECT_EQ(Folder.Entries().size(), 2U);
                // What a signal handler does before the process ends.
                RemoveUnfinishedFiles();
#if !defined(_WIN32)
                // Windows removes the name once the file is closed, as the process ends.
                EXPECT_EQ(Folder.Entries(), std::vector<std::string>{"out.bmp"});
#endif
            } else {
                // Nothing in the folder to be left behind, however the process ends.
                EXPECT_TRUE(replacement.TemporaryPath().empty());
                EXPECT_EQ(Folder.Entries(), std::vector<std::string>{"out.bmp"});
            }
        } // destroyed without Commit
        EXPECT_EQ(Folder.Entries(), std::vector<std::string>{"out.bmp"});
        EXPECT_EQ(ReadFileBytes(path), (Bytes{1, 2, 3}));
    }
}

TEST_F(BmpWriter, TheTemporaryFileIsNeverMoreOpenThanTheFileItReplaces) {
#if defined(_WIN32)
    GTEST_SKIP() << "Windows files have access lists instead of permission bits";
#else
    const std::string path = Folder.File("secret.bmp");
    for (const TemporaryFile kind : {TemporaryFile::Named, TemporaryFile::Unnamed}) {
        WriteFileBytes(path, Bytes{1, 2, 3});
        fs::permissions(path, fs::perms{0600}, fs::perm_options::replace);
        FileReplacement replacement(kind);
        ASSERT_TRUE(replacement.Open(path.c_str()));
        struct stat written {};
        ASSERT_EQ(fstat(fileno(replacement.Stream()), &written), 0);
        EXPECT_EQ(written.st_mode & 07777, 0600U);
        std::fputs("new", replacement.Stream());
        ASSERT_TRUE(replacement.Commit());
        EXPECT_EQ(ReadFileBytes(path), (Bytes{'n', 'e', 'w'}));
        EXPECT_EQ(fs::status(path).permissions(), fs::perms{0600});
        EXPECT_EQ(Folder.Entries(), std::vector<std::string>{"secret.bmp"});
    }
#endif
}
