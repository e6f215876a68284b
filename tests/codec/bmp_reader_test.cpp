#include "bitmap_image.hpp"
#include "bmp_file_builder.hpp"
#include "bmp_reader.hpp"

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

using namespace dorvane;
using namespace dorvane::testing;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool UnderAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool UnderAddressSanitizer = true;
#else
constexpr bool UnderAddressSanitizer = false;
#endif
#else
constexpr bool UnderAddressSanitizer = false;
#endif

PixelRgba Rgb(std::uint8_t red, std::uint8_t green, std::uint8_t blue, std::uint8_t alpha = 0) {
    return PixelRgba{blue, green, red, alpha};
}

std::vector<PixelRgba> StandardPalette(std::int32_t depth) {
    BitmapImage image;
    image.ChangeBitDepth(depth);
    const auto entries = image.PaletteEntries();
    return {entries.begin(), entries.end()};
}

// A recognisable palette of count entries: entry i is (red i, green 255 - i, blue 7 * i, 0).
std::vector<PixelRgba> TestPalette(std::size_t count) {
    std::vector<PixelRgba> palette;
    for (std::size_t i = 0; i < count; ++i) {
        palette.push_back(Rgb(static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i),
                              static_cast<std::uint8_t>(7 * i)));
    }
    return palette;
}

// Where the reader takes a file's bytes from: every test of the reader runs with both.
enum class Input { File, Memory };

class BmpReader : public ::testing::TestWithParam<Input> {
  protected:
    // Loads the builder's file into Image, from a file or from memory.
    bool Load(const BmpFileBuilder& builder) { return LoadBytes(builder.Build()); }
    bool LoadBytes(const Bytes& bytes) {
        if (GetParam() == Input::Memory) {
            return Image.LoadBmp(std::span<const std::uint8_t>(bytes), Failure);
        }
        const std::string path = Folder.Write("file" + std::to_string(Serial++) + ".bmp", bytes);
        return Image.LoadBmp(path.c_str(), Failure);
    }

    // The state that every rejection leaves: 1 x 1 at 1 bpp, standard palette, white pixel.
    void ExpectReset() const {
        EXPECT_EQ(Image.GetBitDepth(), 1);
        EXPECT_EQ(Image.GetWidth(), 1);
        EXPECT_EQ(Image.GetHeight(), 1);
        EXPECT_EQ(Image.PaletteEntry(0), Rgb(0, 0, 0));
        EXPECT_EQ(Image.PaletteEntry(1), Rgb(255, 255, 255));
        EXPECT_EQ(Image.PixelAt(0, 0), DefaultColour);
    }

    // Gives Image a recognisable state that the loads under test must replace or keep.
    void Prepare() {
        ASSERT_TRUE(Image.ChangeBitDepth(8));
        ASSERT_TRUE(Image.SetDimensions(3, 2));
        Image.PixelAt(2, 1) = Rgb(1, 2, 3, 4);
        Image.SetPaletteEntry(5, Rgb(9, 9, 9, 9));
        Image.XResolution = 111;
        Image.YResolution = 222;
    }
    void ExpectPrepared() const {
        EXPECT_EQ(Image.GetBitDepth(), 8);
        EXPECT_EQ(Image.GetWidth(), 3);
        EXPECT_EQ(Image.GetHeight(), 2);
        EXPECT_EQ(Image.PixelAt(2, 1), Rgb(1, 2, 3, 4));
        EXPECT_EQ(Image.PaletteEntry(5), Rgb(9, 9, 9, 9));
        EXPECT_EQ(Image.XResolution, 111);
        EXPECT_EQ(Image.YResolution, 222);
    }

    TempDirectory Folder;
    BitmapImage Image;
    FileFailure Failure; // of the last load
    int Serial = 0;
};

BmpFileBuilder File24(std::int32_t width, std::int32_t height) {
    BmpFileBuilder file;
    file.biWidth = width;
    file.biHeight = height;
    file.biBitCount = 24;
    return file;
}

// A 3 x 2 picture at 24 bpp whose pixel (x, y) is (red 10x + y, green 100 + x, blue 200 + y).
BmpFileBuilder ThreeByTwo24() {
    BmpFileBuilder file = File24(3, 2);
    for (std::int32_t y = 1; y >= 0; --y) { // bottom row first
        Bytes data;
        for (std::int32_t x = 0; x < 3; ++x) {
            data.push_back(static_cast<std::uint8_t>(200 + y));
            data.push_back(static_cast<std::uint8_t>(100 + x));
            data.push_back(static_cast<std::uint8_t>(10 * x + y));
        }
        file.Rows.push_back(PaddedRow(data, 0xEE)); // padding of any value is ignored
    }
    return file;
}

#if !defined(_WIN32)
// Runs body in a forked child whose address space is limited to what it uses now plus
// headroom; returns the child's exit code (-1 when it died of a signal).
int RunWithAddressLimit(std::size_t headroom, const std::function<int()>& body) {
    std::ifstream status("/proc/self/status");
    std::string line;
    std::size_t usedKiB = 0;
    while (std::getline(status, line)) {
        if (line.rfind("VmSize:", 0) == 0) {
            usedKiB = std::stoul(line.substr(7));
        }
    }
    const pid_t child = fork();
    if (child == 0) {
        const rlim_t limit = usedKiB * 1024 + headroom;
        const rlimit limits{limit, limit};
        if (setrlimit(RLIMIT_AS, &limits) != 0) {
            _exit(90);
        }
        _exit(body());
    }
    int status_code = 0;
    waitpid(child, &status_code, 0);
    return WIFEXITED(status_code) ? WEXITSTATUS(status_code) : -1;
}
#endif

} // namespace

INSTANTIATE_TEST_SUITE_P(FileAndMemory, BmpReader, ::testing::Values(Input::File, Input::Memory),
                         [](const ::testing::TestParamInfo<Input>& input) {
                             return input.param == Input::File ? "File" : "Memory";
                         });

// --- Rejections and the state they leave

TEST_P(BmpReader, MissingFileResetsTheImageButKeepsItsResolution) {
    Prepare();
    EXPECT_FALSE(Image.LoadBmp(Folder.File("missing.bmp").c_str()));
    ExpectReset();
    EXPECT_EQ(Image.XResolution, 111);
    EXPECT_EQ(Image.YResolution, 222);
}

TEST_P(BmpReader, WrongSignatureLeavesTheImageUnchanged) {
    Prepare();
    BmpFileBuilder file = ThreeByTwo24();
    file.bfType = 0x4142; // the bytes 0x42 0x41, "BA"
    EXPECT_FALSE(Load(file));
    ExpectPrepared();

    BitmapImage fresh;
    const std::string path = Folder.Write("ba.bmp", file.Build());
    EXPECT_FALSE(fresh.LoadBmp(path.c_str()));
    EXPECT_EQ(fresh.GetBitDepth(), 24);
    EXPECT_EQ(fresh.GetWidth(), 1);
    EXPECT_EQ(fresh.GetHeight(), 1);

    // A refusal names the formats most often mistaken for BMP by their signatures; an empty
    // file is named as such, and is reset as every file shorter than the headers is.
    const auto bytes = [](std::string_view text) { return Bytes(text.begin(), text.end()); };
    using namespace std::string_view_literals;
    for (const auto& [lead, reason] :
         {std::pair{bytes("\x89PNG\r\n\x1a\n\0\0\0\rIHDR"sv), "a PNG file, not a BMP file"},
          std::pair{bytes("\xff\xd8\xff\xe0"sv), "a JPEG file, not a BMP file"},
          std::pair{bytes("GIF87a"sv), "a GIF file, not a BMP file"},
          std::pair{bytes("GIF89a\x01"sv), "a GIF file, not a BMP file"},
          std::pair{bytes("II*\0\x08"sv), "a TIFF file, not a BMP file"},
          std::pair{bytes("MM\0*"sv), "a TIFF file, not a BMP file"},
          std::pair{bytes("\x89PNG\r\n\x1a"sv), "not a BMP file"}, // one byte short
          std::pair{bytes("GIF88a"sv), "not a BMP file"}, std::pair{Bytes{}, "empty file"}}) {
        EXPECT_FALSE(LoadBytes(lead));
        EXPECT_EQ(Failure.Reason(), reason) << lead.size();
    }
}

TEST_P(BmpReader, FilesShorterThanTheHeadersAreRejectedWithReset) {
    const Bytes full = ThreeByTwo24().Build();
    // Empty, a lone 'B' (the signature read fails and the default passes), a lone byte that is
    // not 'B', and every cut inside the two headers.
    std::vector<Bytes> cuts{Bytes{}, Bytes{0x42}, Bytes{0x58}};
    for (std::size_t length = 2; length < 54; ++length) {
        cuts.emplace_back(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(length));
    }
    for (const Bytes& cut : cuts) {
        Prepare();
        EXPECT_FALSE(LoadBytes(cut)) << cut.size();
        ExpectReset();
        EXPECT_EQ(Image.XResolution, 111) << cut.size();
        EXPECT_EQ(Image.YResolution, 222) << cut.size();
    }
}

TEST_P(BmpReader, HeaderRejectionsKeepTheHeaderResolution) {
    struct Case {
        const char* Name;
        std::function<void(BmpFileBuilder&)> Change;
    };
    const std::vector<Case> cases{
        {"OS/2 core header", [](BmpFileBuilder& f) { f.biSize = 12; }},
        {"info header of 39 bytes", [](BmpFileBuilder& f) { f.biSize = 39; }},
        {"header size 0", [](BmpFileBuilder& f) { f.biSize = 0; }},
        {"8 bpp, a longer header past bfOffBits",
         [](BmpFileBuilder& f) {
             f.biSize = 124;
             f.biBitCount = 8;
         }},
        {"RLE8", [](BmpFileBuilder& f) { f.biCompression = 1; }},
        {"RLE4", [](BmpFileBuilder& f) { f.biCompression = 2; }},
        {"JPEG", [](BmpFileBuilder& f) { f.biCompression = 4; }},
        {"compression 2^32-1", [](BmpFileBuilder& f) { f.biCompression = 0xFFFFFFFF; }},
        {"bitfields at 32 bpp",
         [](BmpFileBuilder& f) {
             f.biCompression = 3;
             f.biBitCount = 32;
         }},
        {"bitfields at 24 bpp", [](BmpFileBuilder& f) { f.biCompression = 3; }},
        {"bitfields at 8 bpp",
         [](BmpFileBuilder& f) {
             f.biCompression = 3;
             f.biBitCount = 8;
         }},
        {"2 bpp", [](BmpFileBuilder& f) { f.biBitCount = 2; }},
        {"0 bpp", [](BmpFileBuilder& f) { f.biBitCount = 0; }},
        {"64 bpp", [](BmpFileBuilder& f) { f.biBitCount = 64; }},
        {"top-down", [](BmpFileBuilder& f) { f.biHeight = -10; }},
        {"width 0", [](BmpFileBuilder& f) { f.biWidth = 0; }},
        {"width -1", [](BmpFileBuilder& f) { f.biWidth = -1; }},
        {"height 0", [](BmpFileBuilder& f) { f.biHeight = 0; }},
        {"width 2^24+1", [](BmpFileBuilder& f) { f.biWidth = 16'777'217; }},
        {"height 2^24+1", [](BmpFileBuilder& f) { f.biHeight = 16'777'217; }},
        {"width 2^31-1", [](BmpFileBuilder& f) { f.biWidth = 0x7FFFFFFF; }},
        {"17 x 15790321 pixels",
         [](BmpFileBuilder& f) {
             f.biWidth = 17;
             f.biHeight = 15'790'321;
         }},
        {"3000000 x 2000000 pixels",
         [](BmpFileBuilder& f) {
             f.biWidth = 3'000'000;
             f.biHeight = 2'000'000;
         }},
        {"2^31-1 squared at 32 bpp",
         [](BmpFileBuilder& f) {
             f.biWidth = 0x7FFFFFFF;
             f.biHeight = 0x7FFFFFFF;
             f.biBitCount = 32;
         }},
    };
    for (const Case& c : cases) {
        Prepare();
        BmpFileBuilder file = ThreeByTwo24();
        file.biXPelsPerMeter = 2835;
        file.biYPelsPerMeter = -7;
        c.Change(file);
        EXPECT_FALSE(Load(file)) << c.Name;
        ExpectReset();
        EXPECT_EQ(Image.XResolution, 2835) << c.Name;
        EXPECT_EQ(Image.YResolution, -7) << c.Name;
    }
}

namespace {

// An OS/2 core file, 8 pixels wide at 1 bpp: a 12-byte header with 16-bit width and height, and
// palette entries of 3 bytes. Two rows end it within the 40 bytes of our header, eight do not.
Bytes CoreHeaderFile(std::uint16_t height) {
    const std::uint32_t rows = 4U * height;
    Bytes file{'B', 'M'};
    PutU32(file, 14 + 12 + 6 + rows);
    PutU32(file, 0);
    PutU32(file, 14 + 12 + 6);
    PutU32(file, 12);     // bcSize
    PutU16(file, 8);      // bcWidth
    PutU16(file, height); // bcHeight
    PutU16(file, 1);      // bcPlanes
    PutU16(file, 1);      // bcBitCount
    file.insert(file.end(), {0, 0, 0, 255, 255, 255});
    file.insert(file.end(), rows, 0xA5);
    return file;
}

} // namespace

TEST_P(BmpReader, ShorterInfoHeadersAreRefusedForTheirSize) {
    for (const std::uint16_t height : {std::uint16_t{2}, std::uint16_t{8}}) {
        Prepare();
        EXPECT_FALSE(LoadBytes(CoreHeaderFile(height))) << height;
        ExpectReset();
        EXPECT_EQ(Failure.Reason(), "unsupported info header size 12 (an OS/2 core header)")
            << height;
    }
    BmpFileBuilder file = ThreeByTwo24(); // an OS/2 2.x header may stop after biBitCount
    file.biSize = 16;
    EXPECT_FALSE(Load(file));
    EXPECT_EQ(Failure.Reason(), "unsupported info header size 16");
}

TEST(BmpReaderLimits, DimensionLimitsAreInclusive) {
    EXPECT_TRUE(BmpDimensionsWithinLimits(16384, 16384));
    EXPECT_FALSE(BmpDimensionsWithinLimits(16384, 16385));
    EXPECT_TRUE(BmpDimensionsWithinLimits(16'777'216, 16));
    EXPECT_FALSE(BmpDimensionsWithinLimits(16'777'216, 17));
    EXPECT_TRUE(BmpDimensionsWithinLimits(1, 16'777'216));
    EXPECT_FALSE(BmpDimensionsWithinLimits(1, 16'777'217));
    EXPECT_FALSE(BmpDimensionsWithinLimits(16'777'217, 1));
    EXPECT_FALSE(BmpDimensionsWithinLimits(0x7FFFFFFF, 0x7FFFFFFF));
}

TEST_P(BmpReader, TheTallestAllowedColumnLoads) {
    BmpFileBuilder file;
    file.biWidth = 1;
    file.biHeight = 16'777'216;
    file.biBitCount = 1;
    file.Palette = TestPalette(2);
    file.Rows.push_back(Bytes{0x80, 0, 0, 0}); // the bottom row only; the rest never arrives
    ASSERT_TRUE(Load(file));
    EXPECT_EQ(Image.GetWidth(), 1);
    EXPECT_EQ(Image.GetHeight(), 16'777'216);
    EXPECT_EQ(Image.PixelAt(0, 16'777'215), TestPalette(2)[1]);
    EXPECT_EQ(Image.PixelAt(0, 0), DefaultColour);
}

// --- Layout: rows, padding, palettes

TEST_P(BmpReader, RowsAreBottomUpAndPaddingIsSkipped) {
    ASSERT_TRUE(Load(ThreeByTwo24()));
    EXPECT_EQ(Image.GetBitDepth(), 24);
    EXPECT_EQ(Image.GetWidth(), 3);
    EXPECT_EQ(Image.GetHeight(), 2);
    EXPECT_EQ(Image.XResolution, 2835);
    for (std::int32_t x = 0; x < 3; ++x) {
        for (std::int32_t y = 0; y < 2; ++y) {
            EXPECT_EQ(Image.PixelAt(x, y),
                      Rgb(static_cast<std::uint8_t>(10 * x + y), static_cast<std::uint8_t>(100 + x),
                          static_cast<std::uint8_t>(200 + y)))
                << x << "," << y;
        }
    }
}

TEST_P(BmpReader, PaletteCountComesFromTheOffsetNotFromClrUsed) {
    // 16 entries by bfOffBits although biClrUsed says 2; the rows follow at once.
    BmpFileBuilder file;
    file.biWidth = 16;
    file.biBitCount = 8;
    file.biClrUsed = 2;
    file.Palette = TestPalette(16);
    Bytes row;
    for (std::uint8_t i = 0; i < 16; ++i) {
        row.push_back(i);
    }
    file.Rows.push_back(row);
    ASSERT_TRUE(Load(file));
    for (std::int32_t i = 0; i < 16; ++i) {
        EXPECT_EQ(Image.PaletteEntry(i), TestPalette(16)[static_cast<std::size_t>(i)]) << i;
        EXPECT_EQ(Image.PixelAt(i, 0), TestPalette(16)[static_cast<std::size_t>(i)]) << i;
    }
    for (std::int32_t i = 16; i < 256; ++i) {
        EXPECT_EQ(Image.PaletteEntry(i), DefaultColour) << i;
    }

    // 4 entries by bfOffBits although biClrUsed says 256.
    file.biClrUsed = 256;
    file.Palette = TestPalette(4);
    file.Rows = {Bytes{3, 4, 0, 1, 2, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}};
    ASSERT_TRUE(Load(file));
    EXPECT_EQ(Image.PaletteEntry(3), TestPalette(4)[3]);
    EXPECT_EQ(Image.PaletteEntry(4), DefaultColour);
    EXPECT_EQ(Image.PixelAt(0, 0), TestPalette(4)[3]);
    EXPECT_EQ(Image.PixelAt(1, 0), DefaultColour);
}

TEST_P(BmpReader, FullPaletteThenAGapBeforeTheRows) {
    BmpFileBuilder file;
    file.biWidth = 2;
    file.biBitCount = 8;
    file.Palette = TestPalette(256);
    file.Gap = Bytes(10, 0x77);
    file.Rows.push_back(Bytes{255, 7, 0, 0});
    ASSERT_EQ(file.OffsetOfRows(), 54U + 1024U + 10U);
    ASSERT_TRUE(Load(file));
    EXPECT_EQ(Image.PixelAt(0, 0), TestPalette(256)[255]);
    EXPECT_EQ(Image.PixelAt(1, 0), TestPalette(256)[7]);
}

TEST_P(BmpReader, NoPaletteAtAllMakesEveryEntryWhite) {
    for (const std::uint32_t offset : {54U, 50U, 0U, 0xFFFFFFFFU}) {
        BmpFileBuilder file;
        file.biWidth = 2;
        file.biBitCount = 8;
        file.bfOffBits = offset; // below 54: no entry, no gap
        file.Rows.push_back(Bytes{0, 200, 0, 0});
        ASSERT_TRUE(Load(file)) << offset;
        for (std::int32_t i = 0; i < 256; ++i) {
            ASSERT_EQ(Image.PaletteEntry(i), DefaultColour) << offset << " " << i;
        }
        EXPECT_EQ(Image.PixelAt(0, 0), DefaultColour);
        EXPECT_EQ(Image.PixelAt(1, 0), DefaultColour);
    }
}

TEST_P(BmpReader, OffsetBeyondTwoToTheThirtyFirstWrapsNegativeAndRowsFollowTheHeaders) {
    // (0xFFFFFFFF - 54) in signed 32-bit arithmetic is negative: no gap, the row starts at 54.
    BmpFileBuilder file = ThreeByTwo24();
    file.bfOffBits = 0xFFFFFFFF;
    ASSERT_TRUE(Load(file));
    EXPECT_EQ(Image.PixelAt(2, 1), Rgb(21, 102, 201));
}

TEST_P(BmpReader, OneBitRowsPutTheLeftPixelInTheTopBit) {
    BmpFileBuilder file;
    file.biWidth = 33;
    file.biHeight = 2;
    file.biBitCount = 1;
    file.Palette = {Rgb(10, 20, 30), Rgb(40, 50, 60, 7)};
    file.Rows.push_back(PaddedRow({0x80, 0x00, 0x00, 0x01, 0x80})); // bottom: y = 1
    file.Rows.push_back(PaddedRow({0x7F, 0xFF, 0xFF, 0xFF, 0x7F})); // top: y = 0
    ASSERT_TRUE(Load(file));
    const PixelRgba zero = file.Palette[0];
    const PixelRgba one = file.Palette[1];
    for (std::int32_t x = 0; x < 33; ++x) {
        const bool bottomSet = x == 0 || x == 31 || x == 32;
        EXPECT_EQ(Image.PixelAt(x, 1), bottomSet ? one : zero) << x;
        EXPECT_EQ(Image.PixelAt(x, 0), x == 0 || x == 32 ? zero : one) << x;
    }
    EXPECT_EQ(Image.PixelAt(0, 1).Alpha, 7); // the palette entry's fourth byte
}

TEST_P(BmpReader, FourBitRowsPutTheLeftPixelInTheHighNibble) {
    BmpFileBuilder file;
    file.biWidth = 3;
    file.biBitCount = 4;
    file.Palette = TestPalette(16);
    file.Rows.push_back(PaddedRow({0x1F, 0x30}));
    ASSERT_TRUE(Load(file));
    EXPECT_EQ(Image.PixelAt(0, 0), TestPalette(16)[1]);
    EXPECT_EQ(Image.PixelAt(1, 0), TestPalette(16)[15]);
    EXPECT_EQ(Image.PixelAt(2, 0), TestPalette(16)[3]);
}

TEST_P(BmpReader, AlphaComesFromThirtyTwoBitPixelsAndPaletteEntriesOnly) {
    BmpFileBuilder file;
    file.biWidth = 2;
    file.biBitCount = 32;
    file.Rows.push_back(Bytes{1, 2, 3, 4, 5, 6, 7, 8});
    ASSERT_TRUE(Load(file));
    EXPECT_EQ(Image.PixelAt(0, 0), (PixelRgba{1, 2, 3, 4}));
    EXPECT_EQ(Image.PixelAt(1, 0), (PixelRgba{5, 6, 7, 8}));

    file = File24(1, 1);
    file.Rows.push_back(Bytes{1, 2, 3, 4});
    ASSERT_TRUE(Load(file));
    EXPECT_EQ(Image.PixelAt(0, 0), (PixelRgba{1, 2, 3, 0}));

    file = BmpFileBuilder{};
    file.biBitCount = 8;
    file.Palette = {Rgb(1, 2, 3, 7), Rgb(4, 5, 6, 0)};
    file.Rows.push_back(Bytes{0, 0, 0, 0});
    ASSERT_TRUE(Load(file));
    EXPECT_EQ(Image.PixelAt(0, 0).Alpha, 7);
}

// --- 16 bpp

BmpFileBuilder File16(std::int32_t width, std::vector<std::vector<std::uint16_t>> rowsBottomUp) {
    BmpFileBuilder file;
    file.biWidth = width;
    file.biHeight = static_cast<std::int32_t>(rowsBottomUp.size());
    file.biBitCount = 16;
    for (const auto& row : rowsBottomUp) {
        file.Rows.push_back(Row16(row));
    }
    return file;
}

TEST_P(BmpReader, SixteenBitWithoutMasksIsFiveFiveFiveWithoutLowBitReplication) {
    ASSERT_TRUE(Load(File16(6, {{0x7C00, 0x7FFF, 0x03E0, 0x001F, 0x0421, 0x8000}})));
    EXPECT_EQ(Image.PixelAt(0, 0), Rgb(248, 0, 0));
    EXPECT_EQ(Image.PixelAt(1, 0), Rgb(248, 248, 248));
    EXPECT_EQ(Image.PixelAt(2, 0), Rgb(0, 248, 0));
    EXPECT_EQ(Image.PixelAt(3, 0), Rgb(0, 0, 248));
    EXPECT_EQ(Image.PixelAt(4, 0), Rgb(8, 8, 8));
    EXPECT_EQ(Image.PixelAt(5, 0), Rgb(0, 0, 0)); // the top bit belongs to no channel
}

TEST_P(BmpReader, SixteenBitWithFiveSixFiveMasks) {
    BmpFileBuilder file = File16(4, {{0xFFFF, 0x0020, 0x0040, 0xF800}});
    file.biCompression = 3;
    file.Masks = {0xF800, 0x07E0, 0x001F};
    ASSERT_TRUE(Load(file));
    EXPECT_EQ(Image.PixelAt(0, 0), Rgb(248, 248, 248));
    EXPECT_EQ(Image.PixelAt(1, 0), Rgb(0, 0, 0)); // the lowest green bit is lost
    EXPECT_EQ(Image.PixelAt(2, 0), Rgb(0, 8, 0));
    EXPECT_EQ(Image.PixelAt(3, 0), Rgb(248, 0, 0));
    EXPECT_EQ(Image.PixelAt(0, 0).Alpha, 0);
}

TEST_P(BmpReader, MasksAndTheirShiftsUseOnlyTheLowSixteenBits) {
    // High halves that would shift differently, or mask differently, on 32 bits.
    BmpFileBuilder file = File16(3, {{0xF800, 0x07E0, 0x001F}});
    file.biCompression = 3;
    file.Masks = {0xFFFFF800, 0x000107E0, 0xFFFF001F};
    ASSERT_TRUE(Load(file));
    EXPECT_EQ(Image.PixelAt(0, 0), Rgb(248, 0, 0));
    EXPECT_EQ(Image.PixelAt(1, 0), Rgb(0, 248, 0));
    EXPECT_EQ(Image.PixelAt(2, 0), Rgb(0, 0, 248));
}

TEST_P(BmpReader, UnusualMasksShiftUntilTheyFitInFiveBits) {
    // red 0xFFFF shifts 11; green 0x000F shifts 0; blue 0 shifts 0 and is always 0.
    BmpFileBuilder file = File16(2, {{0xFFFF, 0x07FF}});
    file.biCompression = 3;
    file.Masks = {0xFFFF, 0x000F, 0x0000};
    ASSERT_TRUE(Load(file));
    EXPECT_EQ(Image.PixelAt(0, 0), Rgb(248, 120, 0));
    EXPECT_EQ(Image.PixelAt(1, 0), Rgb(0, 120, 0));
}

TEST_P(BmpReader, SixteenBitOddWidthsConsumeTwoPaddingBytesPerRow) {
    BmpFileBuilder file = File16(3, {{0x7C00, 0x03E0, 0x001F}, {0x001F, 0x7C00, 0x03E0}});
    ASSERT_EQ(file.Rows[0].size(), 8U);
    file.Rows[0][6] = 0x55; // padding of any value
    ASSERT_TRUE(Load(file));
    EXPECT_EQ(Image.PixelAt(0, 1), Rgb(248, 0, 0));
    EXPECT_EQ(Image.PixelAt(2, 1), Rgb(0, 0, 248));
    EXPECT_EQ(Image.PixelAt(0, 0), Rgb(0, 0, 248));
    EXPECT_EQ(Image.PixelAt(1, 0), Rgb(248, 0, 0));
    EXPECT_EQ(Image.PixelAt(2, 0), Rgb(0, 248, 0));
}

TEST_P(BmpReader, SixteenBitGapsFollowTheMasks) {
    BmpFileBuilder file = File16(1, {{0x001F}});
    file.biCompression = 3;
    file.Masks = {0xF800, 0x07E0, 0x001F};
    file.Gap = Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    ASSERT_TRUE(Load(file));
    EXPECT_EQ(Image.PixelAt(0, 0), Rgb(0, 0, 248));

    file = File16(1, {{0x7C00}});
    file.Gap = Bytes{0xFF, 0xFF, 0xFF, 0xFF};
    ASSERT_TRUE(Load(file));
    EXPECT_EQ(Image.PixelAt(0, 0), Rgb(248, 0, 0));
}

TEST_P(BmpReader, ShortSixteenBitFilesRepeatTheLastCompleteValue) {
    // 3 x 2; the bottom row arrives whole, of the top row one value and one byte.
    BmpFileBuilder file = File16(3, {{0x7C00, 0x03E0, 0x001F}});
    file.biHeight = 2;
    file.Trailer = Bytes{0x21, 0x04, 0xFF}; // 0x0421, then half of 0x??FF
    ASSERT_TRUE(Load(file));
    EXPECT_EQ(Image.PixelAt(2, 1), Rgb(0, 0, 248));
    EXPECT_EQ(Image.PixelAt(0, 0), Rgb(8, 8, 8));
    EXPECT_EQ(Image.PixelAt(1, 0), Rgb(8, 8, 8));
    EXPECT_EQ(Image.PixelAt(2, 0), Rgb(8, 8, 8));
}

TEST_P(BmpReader, SixteenBitPixelsBeforeAnyCompleteValueStayWhite) {
    BmpFileBuilder file = File16(2, {});
    file.biHeight = 2;
    file.biCompression = 3;
    file.Masks = {0xF800, 0x07E0, 0x001F};
    file.Trailer = Bytes{0x00}; // one byte of the first value
    ASSERT_TRUE(Load(file));
    for (std::int32_t x = 0; x < 2; ++x) {
        for (std::int32_t y = 0; y < 2; ++y) {
            EXPECT_EQ(Image.PixelAt(x, y), DefaultColour);
        }
    }
}

// --- Short files and gaps

TEST_P(BmpReader, AFileCutInItsRowsKeepsTheCompleteBottomRows) {
    BmpFileBuilder file = File24(3, 3);
    file.Rows.push_back(PaddedRow({1, 2, 3, 4, 5, 6, 7, 8, 9}));
    file.Trailer = Bytes{10, 11, 12, 13, 14, 15}; // half of the middle row
    ASSERT_TRUE(Load(file));
    EXPECT_EQ(Image.PixelAt(0, 2), Rgb(3, 2, 1));
    EXPECT_EQ(Image.PixelAt(2, 2), Rgb(9, 8, 7));
    for (std::int32_t y = 0; y < 2; ++y) {
        for (std::int32_t x = 0; x < 3; ++x) {
            EXPECT_EQ(Image.PixelAt(x, y), DefaultColour);
        }
    }
}

TEST_P(BmpReader, HeadersOnlyWithAFullPaletteOffsetKeepTheStandardPalette) {
    BmpFileBuilder file;
    file.biWidth = 4;
    file.biHeight = 2;
    file.biBitCount = 8;
    file.bfOffBits = 1078;
    const Bytes bytes = file.Build();
    ASSERT_EQ(bytes.size(), 54U);
    ASSERT_TRUE(LoadBytes(bytes));
    EXPECT_EQ(Image.GetBitDepth(), 8);
    const std::vector<PixelRgba> standard = StandardPalette(8);
    for (std::int32_t i = 0; i < 256; ++i) {
        ASSERT_EQ(Image.PaletteEntry(i), standard[static_cast<std::size_t>(i)]) << i;
    }
    EXPECT_EQ(Image.PixelAt(3, 1), DefaultColour);
}

TEST_P(BmpReader, APartialPaletteEntryTakesTheBytesThatArrived) {
    BmpFileBuilder file;
    file.biBitCount = 8;
    file.bfOffBits = 1078;
    file.Palette = TestPalette(3);
    file.Trailer = Bytes{0x11, 0x22};
    ASSERT_TRUE(Load(file));
    const std::vector<PixelRgba> standard = StandardPalette(8);
    EXPECT_EQ(Image.PaletteEntry(2), TestPalette(3)[2]);
    EXPECT_EQ(Image.PaletteEntry(3), (PixelRgba{0x11, 0x22, standard[3].Red, standard[3].Alpha}));
    EXPECT_EQ(Image.PaletteEntry(4), standard[4]);
}

TEST_P(BmpReader, GapsLongerThanOneSkipPieceAreSkippedExactly) {
    const std::size_t gap = 3 * GapSkipChunkSize + 5;
    BmpFileBuilder file = ThreeByTwo24();
    file.Gap = Bytes(gap, 0xAB);
    ASSERT_TRUE(Load(file));
    EXPECT_EQ(Image.PixelAt(2, 1), Rgb(21, 102, 201));
    EXPECT_EQ(Image.PixelAt(0, 0), Rgb(0, 100, 200));

    BmpFileBuilder file16 = File16(1, {{0x7C00}});
    file16.biCompression = 3;
    file16.Masks = {0x7C00, 0x03E0, 0x001F};
    file16.Gap = Bytes(gap, 0xAB);
    ASSERT_TRUE(Load(file16));
    EXPECT_EQ(Image.PixelAt(0, 0), Rgb(248, 0, 0));
}

TEST_P(BmpReader, GapsNearTwoToTheThirtyFirstLoadAsHeadersOnly) {
    for (const std::uint16_t depth : {std::uint16_t{1}, std::uint16_t{8}, std::uint16_t{16},
                                      std::uint16_t{24}, std::uint16_t{32}}) {
        for (const std::uint32_t compression : {0U, 3U}) {
            if (compression == 3 && depth != 16) {
                continue;
            }
            BmpFileBuilder file;
            file.biWidth = 2;
            file.biHeight = 2;
            file.biBitCount = depth;
            file.biCompression = compression;
            file.bfOffBits = 0x7FFFFFFF;
            file.Trailer = Bytes(64, 0x00);
            ASSERT_TRUE(Load(file)) << depth;
            EXPECT_EQ(Image.GetBitDepth(), depth);
            // The gap swallows the rest of the file: no row arrives.
            EXPECT_EQ(Image.PixelAt(1, 1), DefaultColour) << depth;
        }
    }
}

TEST_P(BmpReader, HugeGapsAllocateNothingOfTheirSize) {
    if (UnderAddressSanitizer) {
        GTEST_SKIP() << "an address-space limit cannot be set under AddressSanitizer";
    }
#if defined(_WIN32)
    GTEST_SKIP() << "Windows has no fork and no address-space limit";
#else
    BmpFileBuilder file;
    file.biWidth = 2;
    file.biHeight = 2;
    file.bfOffBits = 0x80000000; // a gap of 2^31 - 54 bytes
    const std::string path = Folder.Write("gap.bmp", file.Build());
    // With 256 MiB to spare, a buffer of the gap's size cannot be had.
    const int code = RunWithAddressLimit(256U << 20, [&] {
        BitmapImage image;
        return image.LoadBmp(path.c_str()) && image.GetWidth() == 2 ? 0 : 1;
    });
    EXPECT_EQ(code, 0);
#endif
}

TEST_P(BmpReader, ExhaustedMemoryFailsTheLoadLikeARejection) {
    if (UnderAddressSanitizer) {
        GTEST_SKIP() << "an address-space limit cannot be set under AddressSanitizer";
    }
#if defined(_WIN32)
    GTEST_SKIP() << "Windows has no fork and no address-space limit";
#else
    // Within the limits: 16384 x 16384 pixels take 1 GiB, more than the child may have.
    BmpFileBuilder file;
    file.biWidth = 16384;
    file.biHeight = 16384;
    file.biBitCount = 32;
    file.biXPelsPerMeter = 1234;
    const std::string path = Folder.Write("big.bmp", file.Build());
    const int code = RunWithAddressLimit(256U << 20, [&] {
        BitmapImage image;
        if (image.LoadBmp(path.c_str())) {
            return 1;
        }
        const bool reset = image.GetBitDepth() == 1 && image.GetWidth() == 1 &&
                           image.GetHeight() == 1 && image.PixelAt(0, 0) == DefaultColour &&
                           image.PaletteEntry(1) == DefaultColour;
        return reset && image.XResolution == 1234 ? 0 : 2;
    });
    EXPECT_EQ(code, 0);
#endif
}

// --- Fields without effect, longer headers

TEST_P(BmpReader, FieldsTheReaderIgnoresChangeNothing) {
    BmpFileBuilder base;
    base.biWidth = 3;
    base.biHeight = 2;
    base.biBitCount = 8;
    base.Palette = TestPalette(256);
    base.Rows = {Bytes{1, 2, 3, 0}, Bytes{4, 5, 6, 0}};
    ASSERT_TRUE(Load(base));
    BitmapImage expected(Image);

    BmpFileBuilder changed = base;
    changed.biClrUsed = 3;
    changed.biClrImportant = 99;
    changed.biSizeImage = 0xFFFFFFFF;
    changed.biPlanes = 7;
    changed.biSize = 41; // a longer header, whose extra byte is passed over
    changed.ExtraHeader = Bytes{0xEE};
    changed.bfSize = 1;
    changed.bfReserved1 = 0xFFFF;
    changed.bfReserved2 = 0x1234;
    ASSERT_TRUE(Load(changed));
    for (std::int32_t i = 0; i < 256; ++i) {
        ASSERT_EQ(Image.PaletteEntry(i), expected.PaletteEntry(i)) << i;
    }
    for (std::int32_t x = 0; x < 3; ++x) {
        for (std::int32_t y = 0; y < 2; ++y) {
            EXPECT_EQ(Image.PixelAt(x, y), expected.PixelAt(x, y));
        }
    }
}

TEST_P(BmpReader, LongerInfoHeadersAreReadAsFortyBytesAndPassedOver) {
    // 24 bpp: the rows are still found through bfOffBits, also where it lies within the header.
    BmpFileBuilder file = ThreeByTwo24();
    file.biSize = 124;
    file.ExtraHeader = Bytes(84, 0x5A);
    ASSERT_TRUE(Load(file));
    EXPECT_EQ(Image.PixelAt(2, 1), Rgb(21, 102, 201));
    file.ExtraHeader.clear();
    ASSERT_TRUE(Load(file));
    EXPECT_EQ(Image.PixelAt(2, 1), Rgb(21, 102, 201));

    // 1, 4 and 8 bpp: the palette follows the header's last byte, its entries as many as fit
    // before bfOffBits. Pixel 0 takes entry 1, pixel 1 entry 0.
    struct Case {
        std::uint16_t Depth;
        std::uint8_t Row;
    };
    for (const Case& c : {Case{1, 0x80}, Case{4, 0x10}, Case{8, 1}}) {
        BmpFileBuilder palette;
        palette.biSize = 48;
        palette.biBitCount = c.Depth;
        palette.biWidth = 2;
        palette.ExtraHeader = Bytes{1, 2, 3, 4, 5, 6, 7, 8};
        palette.Palette = TestPalette(2);
        palette.Rows.push_back(Bytes{c.Row, 0, 0, 0});
        ASSERT_TRUE(Load(palette)) << c.Depth;
        EXPECT_EQ(Image.PaletteEntry(0), TestPalette(2)[0]) << c.Depth;
        EXPECT_EQ(Image.PaletteEntry(1), TestPalette(2)[1]) << c.Depth;
        if (c.Depth > 1) {
            EXPECT_EQ(Image.PaletteEntry(2), DefaultColour) << c.Depth;
        }
        EXPECT_EQ(Image.PixelAt(0, 0), TestPalette(2)[1]) << c.Depth;
        EXPECT_EQ(Image.PixelAt(1, 0), TestPalette(2)[0]) << c.Depth;
        EXPECT_FALSE(Failure) << c.Depth;

        // A header that runs past bfOffBits leaves no place for a palette: refused, as is one of
        // 2^32 - 1 bytes.
        palette.bfOffBits = 54 + 4;
        Prepare();
        EXPECT_FALSE(Load(palette)) << c.Depth;
        ExpectReset();
        EXPECT_EQ(Failure.Reason(), "info header size 48 runs past the pixel data at offset 58");
        palette.biSize = 0xFFFFFFFF;
        palette.bfOffBits = 0xFFFFFFFF;
        EXPECT_FALSE(Load(palette)) << c.Depth;
        EXPECT_EQ(Failure.Kind, FailureKind::HeaderPastPixels) << c.Depth;

        // One that ends before bfOffBits but beyond the file is a file cut short: no row.
        palette.biSize = 1000;
        palette.bfOffBits = 14 + 1000 + 8;
        ASSERT_TRUE(Load(palette)) << c.Depth;
        EXPECT_EQ(Failure.RowsRead, 0) << c.Depth;
        EXPECT_EQ(Failure.RowsExpected, 1) << c.Depth;
        EXPECT_EQ(Image.PixelAt(0, 0), DefaultColour) << c.Depth;
    }

    // 16 bpp: the masks are read at offset 54, where the longer headers hold them (a 56-byte
    // header, masks of red, green, blue and alpha). 0x0040 is green 8 as 5-6-5, 16 as 5-5-5.
    BmpFileBuilder masks;
    masks.biSize = 56;
    masks.biBitCount = 16;
    masks.biCompression = 3;
    for (const std::uint32_t mask : {0xF800U, 0x07E0U, 0x001FU, 0U}) {
        PutU32(masks.ExtraHeader, mask);
    }
    masks.Rows.push_back(Row16({0x0040}));
    ASSERT_TRUE(Load(masks));
    EXPECT_EQ(Image.PixelAt(0, 0), Rgb(0, 8, 0));
}

// --- Row decoders

TEST(BmpRowDecoders, RowsTooShortForTheWidthDecodeNothing) {
    struct Case {
        std::int32_t Depth, Width;
        std::size_t Needed;
        bool (*Unpack)(BitmapImage&, std::span<const std::uint8_t>, std::int32_t);
    };
    for (const Case& c :
         {Case{32, 3, 12, UnpackRow32}, Case{24, 3, 9, UnpackRow24}, Case{8, 5, 5, UnpackRow8},
          Case{4, 3, 2, UnpackRow4}, Case{1, 9, 2, UnpackRow1}}) {
        BitmapImage image;
        ASSERT_TRUE(image.ChangeBitDepth(c.Depth));
        ASSERT_TRUE(image.SetDimensions(c.Width, 2));
        const Bytes row(c.Needed, 0);
        EXPECT_FALSE(c.Unpack(image, std::span(row).first(c.Needed - 1), 1)) << c.Depth;
        for (std::int32_t x = 0; x < c.Width; ++x) {
            EXPECT_EQ(image.PixelAt(x, 1), DefaultColour) << c.Depth;
        }
        EXPECT_TRUE(c.Unpack(image, row, 1)) << c.Depth;
        EXPECT_NE(image.PixelAt(0, 1), DefaultColour) << c.Depth;
        EXPECT_EQ(image.PixelAt(0, 0), DefaultColour) << c.Depth; // only row y is written
    }
}

// --- Every cut of a file against a literal, step-by-step model of the reader

namespace {

// The reader as its rules read, step by step over the bytes, one ReadItems per palette entry, mask,
// pixel value and padding byte; used for files whose headers pass.
struct LiteralStream {
    const Bytes& Data;
    std::size_t Position = 54;
    bool AtEnd = false;

    std::size_t Read(void* out, std::size_t size, std::size_t count) {
        const std::size_t wanted = size * count;
        const std::size_t got = std::min(wanted, Data.size() - Position);
        std::memcpy(out, Data.data() + Position, got);
        Position += got;
        if (got < wanted) {
            AtEnd = true;
        }
        return got / size;
    }
    bool ReadItems(void* out, std::size_t size, std::size_t count) {
        return !AtEnd && Read(out, size, count) >= count;
    }
    // One 16-bit item, least significant byte first; value changes only when both bytes arrived.
    bool ReadU16(std::uint16_t& value) {
        std::uint8_t bytes[2] = {0, 0};
        if (!ReadItems(bytes, 2, 1)) {
            return false;
        }
        value = static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
        return true;
    }
};

struct LiteralImage {
    std::int32_t Width = 0, Height = 0;
    std::vector<PixelRgba> Palette;
    std::vector<std::vector<PixelRgba>> Pixels;
};

LiteralImage LiteralLoad(const Bytes& bytes) {
    const auto width = static_cast<std::int32_t>(GetU32(bytes, 18));
    const auto height = static_cast<std::int32_t>(GetU32(bytes, 22));
    const auto depth = static_cast<std::int32_t>(GetU16(bytes, 28));
    // A palette follows the info header, however long; masks and rows count from offset 54.
    const std::uint32_t headersEnd =
        HasPaletteDepth(depth) ? 14 + std::max(GetU32(bytes, 14), 40U) : 54;
    const auto offBits = static_cast<std::int32_t>(GetU32(bytes, 10) - headersEnd);
    const std::uint32_t compression = GetU32(bytes, 30);
    LiteralImage image;
    image.Width = width;
    image.Height = height;
    image.Pixels.assign(static_cast<std::size_t>(width),
                        std::vector<PixelRgba>(static_cast<std::size_t>(height), DefaultColour));
    LiteralStream stream{bytes};
    std::int32_t gap = offBits;
    if (HasPaletteDepth(depth)) {
        if (headersEnd > 54) {
            Bytes extra(headersEnd - 54);
            stream.ReadItems(extra.data(), extra.size(), 1);
        }
        image.Palette = StandardPalette(depth);
        const std::int32_t size = 1 << depth;
        const std::int32_t n = std::min(std::max(offBits / 4, 0), size);
        for (std::int32_t i = 0; i < n; ++i) {
            stream.ReadItems(&image.Palette[static_cast<std::size_t>(i)], 4, 1);
        }
        for (std::int32_t i = n; i < size; ++i) {
            image.Palette[static_cast<std::size_t>(i)] = DefaultColour;
        }
        gap -= 4 * size;
    } else if (depth == 16 && compression == 3) {
        gap -= 12;
    }
    gap = std::max(gap, 0);
    const auto entry = [&](std::uint32_t index) {
        return index < image.Palette.size() ? image.Palette[index] : DefaultColour;
    };
    if (depth != 16) {
        if (gap > 0) {
            Bytes skipped(static_cast<std::size_t>(gap));
            stream.ReadItems(skipped.data(), skipped.size(), 1);
        }
        std::int32_t length = (width * depth + 7) / 8;
        while (length % 4 != 0) {
            ++length;
        }
        Bytes row(static_cast<std::size_t>(length));
        for (std::int32_t y = height - 1; y >= 0; --y) {
            if (stream.Read(row.data(), 1, row.size()) < row.size()) {
                break;
            }
            for (std::int32_t x = 0; x < width; ++x) {
                PixelRgba& pixel =
                    image.Pixels[static_cast<std::size_t>(x)][static_cast<std::size_t>(y)];
                const auto at = [&](std::int32_t i) { return row[static_cast<std::size_t>(i)]; };
                switch (depth) {
                case 32:
                    pixel = PixelRgba{at(4 * x), at(4 * x + 1), at(4 * x + 2), at(4 * x + 3)};
                    break;
                case 24:
                    pixel = PixelRgba{at(3 * x), at(3 * x + 1), at(3 * x + 2), 0};
                    break;
                case 8:
                    pixel = entry(at(x));
                    break;
                case 4:
                    pixel = entry(x % 2 == 0 ? at(x / 2) >> 4 : at(x / 2) & 0x0Fu);
                    break;
                default:
                    pixel = entry((at(x / 8) >> (7 - x % 8)) & 1u);
                    break;
                }
            }
        }
        return image;
    }
    std::uint16_t masks[3] = {0x7C00, 0x03E0, 0x001F};
    if (compression != 0) {
        for (std::uint16_t& mask : masks) {
            std::uint16_t highHalf = 0;
            stream.ReadU16(mask);
            stream.ReadU16(highHalf);
        }
    }
    if (gap > 0) {
        Bytes skipped(static_cast<std::size_t>(gap));
        stream.ReadItems(skipped.data(), skipped.size(), 1);
    }
    int shifts[3] = {0, 0, 0};
    for (int c = 0; c < 3; ++c) {
        for (std::uint32_t m = masks[c]; m > 31; m >>= 1) {
            ++shifts[c];
        }
    }
    const std::int32_t padding = (4 - (2 * width) % 4) % 4;
    bool haveValue = false;
    std::uint16_t value = 0;
    for (std::int32_t y = height - 1; y >= 0; --y) {
        for (std::int32_t x = 0; x < width; ++x) {
            if (stream.ReadU16(value)) {
                haveValue = true;
            }
            if (haveValue) {
                PixelRgba& pixel =
                    image.Pixels[static_cast<std::size_t>(x)][static_cast<std::size_t>(y)];
                pixel.Red = static_cast<std::uint8_t>(8 * ((value & masks[0]) >> shifts[0]));
                pixel.Green = static_cast<std::uint8_t>(8 * ((value & masks[1]) >> shifts[1]));
                pixel.Blue = static_cast<std::uint8_t>(8 * ((value & masks[2]) >> shifts[2]));
            }
        }
        for (std::int32_t i = 0; i < padding; ++i) {
            std::uint8_t scratch = 0;
            stream.ReadItems(&scratch, 1, 1);
        }
    }
    return image;
}

// A file with every byte after the headers different from its neighbours.
BmpFileBuilder PatternFile(std::uint16_t depth, std::int32_t width, std::int32_t height,
                           std::size_t paletteEntries, std::uint32_t compression, std::size_t gap) {
    BmpFileBuilder file;
    file.biWidth = width;
    file.biHeight = height;
    file.biBitCount = depth;
    file.biCompression = compression;
    file.Palette = TestPalette(paletteEntries);
    for (auto& entry : file.Palette) {
        entry.Alpha = static_cast<std::uint8_t>(entry.Red + 1);
    }
    if (compression == 3) {
        file.Masks = {0xF800, 0x07E0, 0x001F};
    }
    for (std::size_t i = 0; i < gap; ++i) {
        file.Gap.push_back(static_cast<std::uint8_t>(0xA0 + i));
    }
    const std::int32_t length = (width * depth + 31) / 32 * 4;
    std::uint32_t seed = 12345;
    for (std::int32_t row = 0; row < height; ++row) {
        Bytes bytes;
        for (std::int32_t i = 0; i < length; ++i) {
            seed = seed * 1103515245 + 12345;
            bytes.push_back(static_cast<std::uint8_t>(seed >> 16));
        }
        file.Rows.push_back(bytes);
    }
    return file;
}

// The file with an info header of size bytes, its fields beyond our 40 a pattern of their own.
BmpFileBuilder WithLongerHeader(BmpFileBuilder file, std::uint32_t size) {
    file.biSize = size;
    for (std::uint32_t i = 40; i < size; ++i) {
        file.ExtraHeader.push_back(static_cast<std::uint8_t>(0x30 + i));
    }
    return file;
}

} // namespace

TEST_P(BmpReader, EveryCutOfAFileGivesWhatTheLiteralReaderGives) {
    const std::vector<BmpFileBuilder> files{
        PatternFile(24, 5, 3, 0, 0, 3),
        PatternFile(32, 3, 3, 0, 0, 0),
        PatternFile(8, 5, 3, 40, 0, 0),
        PatternFile(8, 3, 2, 256, 0, 6),
        PatternFile(4, 7, 3, 16, 0, 2),
        PatternFile(1, 35, 3, 2, 0, 0),
        // V4 and V5 headers: cuts within the header's extra fields too.
        WithLongerHeader(PatternFile(8, 5, 3, 40, 0, 3), 108),
        WithLongerHeader(PatternFile(4, 7, 3, 16, 0, 0), 124),
        PatternFile(16, 3, 3, 0, 0, 2),
        PatternFile(16, 4, 2, 0, 3, 0),
        PatternFile(16, 5, 3, 0, 3, 3),
        // Taller than one block of rows read at once.
        PatternFile(16, 3, 40, 0, 0, 0),
        PatternFile(24, 2, 40, 0, 0, 0),
        PatternFile(1, 9, 70, 2, 0, 0),
    };
    for (const BmpFileBuilder& file : files) {
        const Bytes full = file.Build();
        for (std::size_t length = 54; length <= full.size(); ++length) {
            const Bytes cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(length));
            const LiteralImage expected = LiteralLoad(cut);
            ASSERT_TRUE(LoadBytes(cut)) << file.biBitCount << " cut at " << length;
            ASSERT_EQ(Image.GetWidth(), expected.Width);
            ASSERT_EQ(Image.GetHeight(), expected.Height);
            for (std::size_t i = 0; i < expected.Palette.size(); ++i) {
                ASSERT_EQ(Image.PaletteEntry(static_cast<std::int32_t>(i)), expected.Palette[i])
                    << file.biBitCount << " cut at " << length << " entry " << i;
            }
            for (std::int32_t x = 0; x < expected.Width; ++x) {
                for (std::int32_t y = 0; y < expected.Height; ++y) {
                    ASSERT_EQ(
                        Image.PixelAt(x, y),
                        expected.Pixels[static_cast<std::size_t>(x)][static_cast<std::size_t>(y)])
                        << file.biBitCount << " cut at " << length << " pixel " << x << "," << y;
                }
            }
        }
    }
}
