#include "header_inspection.hpp"
#include "temp_directory.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <span>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

using namespace dorvane;

namespace {

using Bytes = std::vector<std::uint8_t>;

void AppendLittleEndian(Bytes& bytes, std::uint32_t value, int width) {
    for (int i = 0; i < width; ++i) {
        bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

// The 78 bytes of a 3 x 2 image at 24 bpp: both headers and two rows of 9 + 3 bytes.
Bytes ThreeByTwoFile() {
    Bytes bytes;
    for (const auto& [value, width] : {std::pair{19778U, 2},
                                       {78U, 4},
                                       {0U, 2},
                                       {0U, 2},
                                       {54U, 4},
                                       {40U, 4},
                                       {3U, 4},
                                       {2U, 4},
                                       {1U, 2},
                                       {24U, 2},
                                       {0U, 4},
                                       {24U, 4},
                                       {2835U, 4},
                                       {2834U, 4},
                                       {0U, 4},
                                       {0U, 4}}) {
        AppendLittleEndian(bytes, value, width);
    }
    bytes.resize(78, 0x5A);
    return bytes;
}

std::string WriteFile(const dorvane::testing::TempDirectory& directory, const Bytes& bytes) {
    const std::string path = directory.File("header.bmp");
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path;
}

auto Fields(const FileHeader& h) {
    return std::tuple{h.bfType, h.bfSize, h.bfReserved1, h.bfReserved2, h.bfOffBits};
}

auto Fields(const InfoHeader& h) {
    return std::tuple{h.biSize,          h.biWidth,       h.biHeight,      h.biPlanes,
                      h.biBitCount,      h.biCompression, h.biSizeImage,   h.biXPelsPerMeter,
                      h.biYPelsPerMeter, h.biClrUsed,     h.biClrImportant};
}

} // namespace

TEST(HeaderInspection, ReadsBothHeadersOfAWholeFile) {
    const dorvane::testing::TempDirectory directory;
    const std::string path = WriteFile(directory, ThreeByTwoFile());

    const FileHeader file = ReadFileHeaderOf(path.c_str());
    EXPECT_EQ(file.bfType, 19778);
    EXPECT_EQ(file.bfSize, 78U);
    EXPECT_EQ(file.bfReserved1, 0);
    EXPECT_EQ(file.bfReserved2, 0);
    EXPECT_EQ(file.bfOffBits, 54U);

    const InfoHeader info = ReadInfoHeaderOf(path.c_str());
    EXPECT_EQ(info.biSize, 40U);
    EXPECT_EQ(info.biWidth, 3);
    EXPECT_EQ(info.biHeight, 2);
    EXPECT_EQ(info.biPlanes, 1);
    EXPECT_EQ(info.biBitCount, 24);
    EXPECT_EQ(info.biCompression, 0U);
    EXPECT_EQ(info.biSizeImage, 24U);
    EXPECT_EQ(info.biXPelsPerMeter, 2835);
    EXPECT_EQ(info.biYPelsPerMeter, 2834);
    EXPECT_EQ(BitDepthOfFile(path.c_str()), 24);
    InspectBmpFile(path.c_str());
}

TEST(HeaderInspection, TakesFieldsLeastSignificantByteFirstWithoutChecking) {
    const dorvane::testing::TempDirectory directory;
    Bytes bytes = ThreeByTwoFile();
    bytes[0] = 'B';
    bytes[1] = 'A';
    const Bytes height{0xFE, 0xFF, 0xFF, 0xFF}; // -2: a top-down file is reported as it stands
    std::copy(height.begin(), height.end(), bytes.begin() + 22);
    const Bytes size{0x44, 0x33, 0x22, 0x11};
    std::copy(size.begin(), size.end(), bytes.begin() + 2);
    const std::string path = WriteFile(directory, bytes);

    const FileHeader file = ReadFileHeaderOf(path.c_str());
    EXPECT_EQ(file.bfType, 0x4142);
    EXPECT_EQ(file.bfSize, 0x11223344U);
    EXPECT_EQ(ReadInfoHeaderOf(path.c_str()).biHeight, -2);
}

TEST(HeaderInspection, MissingFileGivesDefaultsWithSignatureZero) {
    const dorvane::testing::TempDirectory directory;
    const std::string path = directory.File("missing.bmp");

    const FileHeader file = ReadFileHeaderOf(path.c_str());
    EXPECT_EQ(file.bfType, 0);
    EXPECT_EQ(file.bfSize, 0U);
    EXPECT_EQ(file.bfReserved1, 0);
    EXPECT_EQ(file.bfReserved2, 0);
    EXPECT_EQ(file.bfOffBits, 0U);
    EXPECT_EQ(Fields(ReadInfoHeaderOf(path.c_str())), Fields(InfoHeader{}));
    EXPECT_EQ(BitDepthOfFile(path.c_str()), 0);
    InspectBmpFile(path.c_str());
}

TEST(HeaderInspection, ShortFileLeavesUnreadFieldsAtTheirDefaults) {
    const dorvane::testing::TempDirectory directory;
    Bytes bytes = ThreeByTwoFile();
    bytes.resize(14);
    std::string path = WriteFile(directory, bytes);
    const FileHeader file = ReadFileHeaderOf(path.c_str());
    EXPECT_EQ(file.bfType, 19778);
    EXPECT_EQ(file.bfSize, 78U);
    EXPECT_EQ(file.bfOffBits, 54U);
    EXPECT_EQ(Fields(ReadInfoHeaderOf(path.c_str())), Fields(InfoHeader{}));

    // Ending inside biWidth: biSize is read, the field cut short keeps its default.
    bytes = ThreeByTwoFile();
    bytes.resize(20);
    path = WriteFile(directory, bytes);
    const InfoHeader info = ReadInfoHeaderOf(path.c_str());
    EXPECT_EQ(info.biSize, 40U);
    EXPECT_EQ(info.biWidth, 0);
    EXPECT_EQ(info.biPlanes, 1);

    // Ending inside bfSize.
    bytes.resize(4);
    path = WriteFile(directory, bytes);
    const FileHeader cut = ReadFileHeaderOf(path.c_str());
    EXPECT_EQ(cut.bfType, 19778);
    EXPECT_EQ(cut.bfSize, 0U);
    EXPECT_EQ(cut.bfOffBits, 0U);
}

TEST(HeaderInspection, FileStartingWithZerosLooksLikeAMissingOne) {
    const dorvane::testing::TempDirectory directory;
    const std::string path = WriteFile(directory, Bytes(54, 0));
    EXPECT_EQ(ReadFileHeaderOf(path.c_str()).bfType, 0);
    EXPECT_EQ(ReadInfoHeaderOf(path.c_str()).biPlanes, 0); // read, so no longer the default
}

TEST(HeaderInspection, BytesInMemoryGiveWhatTheSameFileGives) {
    const dorvane::testing::TempDirectory directory;
    const Bytes whole = ThreeByTwoFile();
    for (std::size_t length = 0; length <= whole.size(); ++length) {
        const Bytes bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
        const std::string path = WriteFile(directory, bytes);
        EXPECT_EQ(Fields(ReadFileHeaderOf(std::span(bytes))),
                  Fields(ReadFileHeaderOf(path.c_str())))
            << length;
        EXPECT_EQ(Fields(ReadInfoHeaderOf(std::span(bytes))),
                  Fields(ReadInfoHeaderOf(path.c_str())))
            << length;
        FileHeader fromFile;
        InfoHeader infoFromFile;
        FileHeader fromMemory;
        InfoHeader infoFromMemory;
        FileFailure fileFailure;
        FileFailure memoryFailure;
        ASSERT_EQ(ReadBmpHeaders(std::span(bytes), fromMemory, infoFromMemory, memoryFailure),
                  ReadBmpHeaders(path.c_str(), fromFile, infoFromFile, fileFailure))
            << length;
        EXPECT_EQ(memoryFailure.Reason(), fileFailure.Reason()) << length;
        if (!memoryFailure) {
            EXPECT_EQ(Fields(fromMemory), Fields(fromFile));
            EXPECT_EQ(Fields(infoFromMemory), Fields(infoFromFile));
        }
    }
}

TEST(HeaderInspection, EveryFieldHasItsPublishedNameAndItsOwnBytes) {
    // Every byte after "BM" differs, so a field read from the wrong place or with the wrong width
    // shows, and so do two fields that trade places.
    Bytes bytes{'B', 'M'};
    for (std::uint8_t k = 2; k < 54; ++k) {
        bytes.push_back(k);
    }
    const std::vector<std::tuple<std::string, std::uint32_t, std::uint32_t>> fields{
        {"bfType", 0, 2},           {"bfSize", 2, 4},           {"bfReserved1", 6, 2},
        {"bfReserved2", 8, 2},      {"bfOffBits", 10, 4},       {"biSize", 14, 4},
        {"biWidth", 18, 4},         {"biHeight", 22, 4},        {"biPlanes", 26, 2},
        {"biBitCount", 28, 2},      {"biCompression", 30, 4},   {"biSizeImage", 34, 4},
        {"biXPelsPerMeter", 38, 4}, {"biYPelsPerMeter", 42, 4}, {"biClrUsed", 46, 4},
        {"biClrImportant", 50, 4}};
    FileHeader file;
    InfoHeader info;
    FileFailure failure;
    ASSERT_TRUE(ReadBmpHeaders(std::span(bytes), file, info, failure));
    std::size_t index = 0;
    const auto check = [&](const auto& field, auto value) {
        ASSERT_LT(index, fields.size());
        const auto& [name, offset, size] = fields[index++];
        EXPECT_EQ(field.Name, name);
        EXPECT_EQ(field.Offset, offset) << name;
        EXPECT_EQ(sizeof(value), size) << name;
        std::uint32_t expected = 0;
        for (std::uint32_t k = size; k-- > 0;) {
            expected = (expected << 8) | bytes[offset + k];
        }
        EXPECT_EQ(static_cast<std::uint32_t>(value), expected) << name;
    };
    ForEachField(file, check);
    ForEachField(info, check);
    EXPECT_EQ(index, fields.size());
    // And each in its own member of the records.
    EXPECT_EQ(Fields(file), Fields(FileHeader{0x4D42, 0x05040302, 0x0706, 0x0908, 0x0D0C0B0A}));
    EXPECT_EQ(Fields(info),
              Fields(InfoHeader{0x11100F0E, 0x15141312, 0x19181716, 0x1B1A, 0x1D1C, 0x21201F1E,
                                0x25242322, 0x29282726, 0x2D2C2B2A, 0x31302F2E, 0x35343332}));
}
