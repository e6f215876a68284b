#include "bmp_headers.hpp"
#include "byte_order.hpp"
#include "little_endian.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <tuple>

using namespace dorvane;

static_assert(ByteSwap16(19778) == 16973);
static_assert(ByteSwap16(0x00FF) == 0xFF00);
static_assert(ByteSwap32(0x11223344) == 0x44332211);
static_assert(ByteSwap32(1) == 16777216);
static_assert(ByteSwap32(0xFF000080) == 0x800000FF);
// File fields are decoded by value, whatever the host's order: "BM", a 5-6-5 mask, a width of
// 258, a resolution of -3780.
static_assert(LoadLittleEndian<std::uint16_t>({0x42, 0x4D}) == BmpSignature);
static_assert(LoadLittleEndian<std::uint16_t>({0xE0, 0x07}) == 0x07E0);
static_assert(LoadLittleEndian<std::int32_t>({0x02, 0x01, 0x00, 0x00}) == 258);
static_assert(LoadLittleEndian<std::int32_t>({0x3C, 0xF1, 0xFF, 0xFF}) == -3780);
// And written back so: signed fields as their 32-bit patterns.
static_assert(LittleEndianBytes(BmpSignature) == std::array<std::uint8_t, 2>{0x42, 0x4D});
static_assert(LittleEndianBytes(std::int32_t{-3780}) ==
              std::array<std::uint8_t, 4>{0x3C, 0xF1, 0xFF, 0xFF});
static_assert(LittleEndianBytes(std::uint32_t{0x11223344}) ==
              std::array<std::uint8_t, 4>{0x44, 0x33, 0x22, 0x11});

namespace {

auto Fields(const FileHeader& h) {
    return std::tuple{h.bfType, h.bfSize, h.bfReserved1, h.bfReserved2, h.bfOffBits};
}

auto Fields(const InfoHeader& h) {
    return std::tuple{h.biSize,          h.biWidth,       h.biHeight,      h.biPlanes,
                      h.biBitCount,      h.biCompression, h.biSizeImage,   h.biXPelsPerMeter,
                      h.biYPelsPerMeter, h.biClrUsed,     h.biClrImportant};
}

} // namespace

TEST(ByteOrder, ReversesEveryFileHeaderFieldByItsWidthAndBack) {
    const FileHeader original{0x0102, 0x03040506, 0x0708, 0x090A, 0x0B0C0D0E};
    FileHeader header = original;
    header.ReverseByteOrder();
    EXPECT_EQ(Fields(header), Fields(FileHeader{0x0201, 0x06050403, 0x0807, 0x0A09, 0x0E0D0C0B}));
    header.ReverseByteOrder();
    EXPECT_EQ(Fields(header), Fields(original));
}

TEST(ByteOrder, ReversesEveryInfoHeaderFieldSignedOnesAsBitPatterns) {
    const InfoHeader original{40, 1, -2, 1, 24, 3, 0x01020304, 3780, -3780, 0x0A0B0C0D, 0x7F000000};
    InfoHeader header = original;
    header.ReverseByteOrder();
    // biWidth 1 becomes 2^24; -2 (0xFFFFFFFE) becomes 0xFEFFFFFF; 3780 is 0x00000EC4.
    const InfoHeader reversed{0x28000000,
                              16777216,
                              -16777217,
                              0x0100,
                              0x1800,
                              0x03000000,
                              0x04030201,
                              static_cast<std::int32_t>(0xC40E0000),
                              static_cast<std::int32_t>(0x3CF1FFFF),
                              0x0D0C0B0A,
                              0x0000007F};
    EXPECT_EQ(Fields(header), Fields(reversed));
    header.ReverseByteOrder();
    EXPECT_EQ(Fields(header), Fields(original));
}
