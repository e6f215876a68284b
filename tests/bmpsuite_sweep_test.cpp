// Reads every file of the BMP suite and checks the outcome our reader's rules give: loaded with
// its width, height and depth (and the palette and pixels of another file of the suite that holds
// the same picture, where there is one), or rejected (reset to 1 x 1 at 1 bpp) for the reason the
// table names, or, for a file without the "BM" signature, refused with the image unchanged. Run
// under the sanitizers, it also shows that no file makes the reader crash, hang or allocate beyond
// its limits.
#include "DorvaneBMPBlur.h"

#include "bitmap_image.hpp"
#include "bmp_file_builder.hpp"
#include "bytes_entries.hpp"
#include "file_failure.hpp"
#include "file_jobs.hpp"
#include "scaling.hpp"
#include "temp_directory.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

using namespace dorvane;
using namespace dorvane::testing;
namespace fs = std::filesystem;

namespace {

enum class Outcome { Loads, Rejected, NotBmp };

struct Expected {
    Outcome Result;
    std::int32_t Width = 0, Height = 0, Depth = 0;
    FailureKind Why = FailureKind::None;
    const char* SameAs = nullptr; // a file of the same palette and pixels
};

Expected Loads(std::int32_t width, std::int32_t height, std::int32_t depth,
               const char* sameAs = nullptr) {
    return {Outcome::Loads, width, height, depth, FailureKind::None, sameAs};
}
Expected Rejected(FailureKind why) {
    return {Outcome::Rejected, 0, 0, 0, why};
}
const Expected NotBmp{Outcome::NotBmp};

// Why a file is rejected: RLE (compression 1, 2), JPEG/PNG/RLE24 (4, 5), alpha bit fields (6),
// info headers shorter than 40 bytes (OS/2: the 12-byte core header, a 16-byte 2.x header), bit
// fields at other depths than 16, 2 and 64 bpp, a negative width or height, dimensions beyond the
// limits.
const std::map<std::string, Expected>& Table() {
    static const std::map<std::string, Expected> table{
        // g: "good" files
        {"g/pal1.bmp", Loads(127, 64, 1)},
        {"g/pal1bg.bmp", Loads(127, 64, 1)},
        {"g/pal1wb.bmp", Loads(127, 64, 1)},
        {"g/pal4.bmp", Loads(127, 64, 4)},
        {"g/pal4gs.bmp", Loads(127, 64, 4)},
        {"g/pal4rle.bmp", Rejected(FailureKind::RleCompressed)},
        {"g/pal8-0.bmp", Loads(127, 64, 8)},
        {"g/pal8.bmp", Loads(127, 64, 8)},
        {"g/pal8gs.bmp", Loads(127, 64, 8)},
        {"g/pal8nonsquare.bmp", Loads(127, 32, 8)},
        {"g/pal8os2.bmp", Rejected(FailureKind::UnsupportedHeaderSize)},
        {"g/pal8rle.bmp", Rejected(FailureKind::RleCompressed)},
        {"g/pal8topdown.bmp", Rejected(FailureKind::TopDown)},
        {"g/pal8v4.bmp", Loads(127, 64, 8, "g/pal8.bmp")},
        {"g/pal8v5.bmp", Loads(127, 64, 8, "g/pal8.bmp")},
        {"g/pal8w124.bmp", Loads(124, 61, 8)},
        {"g/pal8w125.bmp", Loads(125, 62, 8)},
        {"g/pal8w126.bmp", Loads(126, 63, 8)},
        {"g/rgb16-565.bmp", Loads(127, 64, 16)},
        {"g/rgb16-565pal.bmp", Loads(127, 64, 16)},
        {"g/rgb16.bmp", Loads(127, 64, 16)},
        {"g/rgb16bfdef.bmp", Loads(127, 64, 16)},
        {"g/rgb24.bmp", Loads(127, 64, 24)},
        {"g/rgb24pal.bmp", Loads(127, 64, 24)},
        {"g/rgb32.bmp", Loads(127, 64, 32)},
        {"g/rgb32bf.bmp", Rejected(FailureKind::UnsupportedCompression)},
        {"g/rgb32bfdef.bmp", Rejected(FailureKind::UnsupportedCompression)},
        // q: "questionable" files
        {"q/pal1huffmsb.bmp", Rejected(FailureKind::UnsupportedCompression)},
        {"q/pal1p1.bmp", Loads(127, 64, 1)},
        {"q/pal2.bmp", Rejected(FailureKind::UnsupportedBitDepth)},
        {"q/pal2color.bmp", Rejected(FailureKind::UnsupportedBitDepth)},
        {"q/pal4rlecut.bmp", Rejected(FailureKind::RleCompressed)},
        {"q/pal4rletrns.bmp", Rejected(FailureKind::RleCompressed)},
        {"q/pal8offs.bmp", Loads(127, 64, 8)},
        {"q/pal8os2-hs.bmp", Rejected(FailureKind::UnsupportedHeaderSize)},
        {"q/pal8os2-sz.bmp", Rejected(FailureKind::UnsupportedHeaderSize)},
        {"q/pal8os2sp.bmp", Rejected(FailureKind::UnsupportedHeaderSize)},
        {"q/pal8os2v2-16.bmp", Rejected(FailureKind::UnsupportedHeaderSize)},
        {"q/pal8os2v2-40sz.bmp", Loads(127, 64, 8)},
        {"q/pal8os2v2-sz.bmp", Loads(127, 64, 8, "g/pal8.bmp")},
        {"q/pal8os2v2.bmp", Loads(127, 64, 8, "g/pal8.bmp")},
        {"q/pal8oversizepal.bmp", Loads(127, 64, 8)},
        {"q/pal8rlecut.bmp", Rejected(FailureKind::RleCompressed)},
        {"q/pal8rletrns.bmp", Rejected(FailureKind::RleCompressed)},
        {"q/rgb16-231.bmp", Loads(127, 64, 16)},
        {"q/rgb16-3103.bmp", Loads(127, 64, 16)},
        {"q/rgb16faketrns.bmp", Loads(127, 64, 16)},
        {"q/rgb24jpeg.bmp", Rejected(FailureKind::UnsupportedCompression)},
        {"q/rgb24largepal.bmp", Loads(127, 64, 24)},
        {"q/rgb24lprof.bmp", Loads(127, 64, 24)},
        {"q/rgb24png.bmp", Rejected(FailureKind::UnsupportedCompression)},
        {"q/rgb24prof.bmp", Loads(127, 64, 24)},
        {"q/rgb24prof2.bmp", Loads(127, 64, 24)},
        {"q/rgb24rle24.bmp", Rejected(FailureKind::UnsupportedCompression)},
        {"q/rgb32-111110.bmp", Rejected(FailureKind::UnsupportedCompression)},
        {"q/rgb32-7187.bmp", Rejected(FailureKind::UnsupportedCompression)},
        {"q/rgb32-xbgr.bmp", Rejected(FailureKind::UnsupportedCompression)},
        {"q/rgb32fakealpha.bmp", Loads(127, 64, 32)},
        {"q/rgb32h52.bmp", Rejected(FailureKind::UnsupportedCompression)},
        {"q/rgba16-1924.bmp", Loads(127, 64, 16)},
        {"q/rgba16-4444.bmp", Loads(127, 64, 16)},
        {"q/rgba16-5551.bmp", Loads(127, 64, 16)},
        {"q/rgba32-1.bmp", Rejected(FailureKind::UnsupportedCompression)},
        {"q/rgba32-1010102.bmp", Rejected(FailureKind::UnsupportedCompression)},
        {"q/rgba32-2.bmp", Rejected(FailureKind::UnsupportedCompression)},
        {"q/rgba32-61754.bmp", Rejected(FailureKind::UnsupportedCompression)},
        {"q/rgba32-81284.bmp", Rejected(FailureKind::UnsupportedCompression)},
        {"q/rgba32abf.bmp", Rejected(FailureKind::UnsupportedCompression)},
        {"q/rgba32h56.bmp", Rejected(FailureKind::UnsupportedCompression)},
        {"q/rgba64.bmp", Rejected(FailureKind::UnsupportedBitDepth)},
        // b: "bad" files
        {"b/badbitcount.bmp", Rejected(FailureKind::UnsupportedBitDepth)},
        {"b/badbitssize.bmp", Loads(127, 64, 1)},
        {"b/baddens1.bmp", Loads(127, 64, 1)},
        {"b/baddens2.bmp", Loads(127, 64, 1)},
        {"b/badfilesize.bmp", Loads(127, 64, 1)},
        {"b/badheadersize.bmp", Loads(127, 64, 1, "g/pal1.bmp")}, // a 66-byte header
        {"b/badpalettesize.bmp", Loads(127, 64, 8)},
        {"b/badplanes.bmp", Loads(127, 64, 1)},
        {"b/badrle.bmp", Rejected(FailureKind::RleCompressed)},
        {"b/badrle4.bmp", Rejected(FailureKind::RleCompressed)},
        {"b/badrle4bis.bmp", Rejected(FailureKind::RleCompressed)},
        {"b/badrle4ter.bmp", Rejected(FailureKind::RleCompressed)},
        {"b/badrlebis.bmp", Rejected(FailureKind::RleCompressed)},
        {"b/badrleter.bmp", Rejected(FailureKind::RleCompressed)},
        {"b/badwidth.bmp", Rejected(FailureKind::InvalidSize)},
        {"b/pal8badindex.bmp", Loads(127, 64, 8)},
        // 3000000 x 2000000: beyond MaxBmpPixelCount
        {"b/reallybig.bmp", Rejected(FailureKind::TooLarge)},
        {"b/rgb16-880.bmp", Loads(127, 64, 16)},
        {"b/rletopdown.bmp", Rejected(FailureKind::RleCompressed)},
        {"b/shortfile.bmp", Loads(127, 64, 1)}, // cut short: the rows that arrived
        // x: related formats
        {"x/ba-bm.bmp", NotBmp}, // an OS/2 bitmap array, signature "BA"
    };
    return table;
}

const fs::path SuiteDir = DORVANE_BMPSUITE_DIR;

void ExpectSamePicture(const BitmapImage& image, const char* sameAs, const std::string& name) {
    BitmapImage same;
    ASSERT_TRUE(same.LoadBmp((SuiteDir / sameAs).string().c_str())) << sameAs;
    EXPECT_TRUE(std::ranges::equal(image.PaletteEntries(), same.PaletteEntries()))
        << name << " against " << sameAs;
    ASSERT_EQ(image.GetWidth(), same.GetWidth()) << name;
    ASSERT_EQ(image.GetHeight(), same.GetHeight()) << name;
    for (std::int32_t x = 0; x < image.GetWidth(); ++x) {
        for (std::int32_t y = 0; y < image.GetHeight(); ++y) {
            ASSERT_EQ(image.PixelAt(x, y), same.PixelAt(x, y))
                << name << " against " << sameAs << " at " << x << "," << y;
        }
    }
}

} // namespace

TEST(BmpSuiteSweep, TheTableNamesEveryFileOfTheSuite) {
    if (!fs::is_directory(SuiteDir)) {
        GTEST_SKIP() << "no BMP suite at " << SuiteDir;
    }
    std::vector<std::string> found;
    for (const char* folder : {"g", "q", "b", "x"}) {
        for (const auto& entry : fs::directory_iterator(SuiteDir / folder)) {
            found.push_back(std::string(folder) + "/" + entry.path().filename().string());
        }
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> listed;
    for (const auto& [name, expected] : Table()) {
        listed.push_back(name);
    }
    EXPECT_EQ(found, listed);
}

TEST(BmpSuiteSweep, EveryFileLoadsOrIsRejectedAsTheTableSays) {
    if (!fs::is_directory(SuiteDir)) {
        GTEST_SKIP() << "no BMP suite at " << SuiteDir;
    }
    // The scale job reads what LoadBmp reads, or refuses it for the same reason; each job reads
    // a file's bytes in memory as it reads the file.
    const TempDirectory folder;
    const std::string scaledPath = folder.File("scaled.bmp");
    const std::string output = folder.File("output.bmp");
    for (const auto& [name, expected] : Table()) {
        const fs::path path = SuiteDir / name;
        if (!fs::exists(path)) {
            continue; // reported by the test above
        }
        BitmapImage image;
        FileFailure failure;
        const bool loaded = image.LoadBmp(path.string().c_str(), failure);
        FileFailure scaling;
        const std::int32_t result =
            ScaleFiles(path.string().c_str(), output.c_str(), 'P', 70, {}, scaling);
        EXPECT_EQ(scaling.Kind, failure.Kind) << name;
        if (loaded) {
            // Loaded afresh: a copy would have its resolution through dots per inch.
            BitmapImage scaled;
            ASSERT_TRUE(scaled.LoadBmp(path.string().c_str())) << name;
            ASSERT_TRUE(ScaleImage(scaled, 'P', 70)) << name;
            ASSERT_TRUE(scaled.SaveBmp(scaledPath.c_str())) << name;
            EXPECT_EQ(result, BMPBLUR_OK) << name;
            EXPECT_EQ(ReadFileBytes(output), ReadFileBytes(scaledPath)) << name;
        } else {
            EXPECT_EQ(result, BMPBLUR_SOURCE_UNREADABLE) << name;
        }
        // From the file's bytes, the jobs write what they write from the file, or fail alike.
        ExpectBytesEntriesAsFiles(path.string(), output, 'P', 70, name);
        switch (expected.Result) {
        case Outcome::Loads:
            EXPECT_TRUE(loaded) << name;
            EXPECT_EQ(image.GetWidth(), expected.Width) << name;
            EXPECT_EQ(image.GetHeight(), expected.Height) << name;
            EXPECT_EQ(image.GetBitDepth(), expected.Depth) << name;
            if (expected.SameAs != nullptr) {
                ExpectSamePicture(image, expected.SameAs, name);
            }
            break;
        case Outcome::Rejected:
            EXPECT_FALSE(loaded) << name;
            EXPECT_EQ(image.GetWidth(), 1) << name;
            EXPECT_EQ(image.GetHeight(), 1) << name;
            EXPECT_EQ(image.GetBitDepth(), 1) << name;
            EXPECT_EQ(image.PixelAt(0, 0), DefaultColour) << name;
            EXPECT_EQ(failure.Kind, expected.Why) << name << ": " << failure.Reason();
            break;
        case Outcome::NotBmp:
            EXPECT_FALSE(loaded) << name;
            EXPECT_EQ(failure.Kind, FailureKind::NotBmp) << name;
            EXPECT_EQ(image.GetBitDepth(), 24) << name; // unchanged
            EXPECT_EQ(image.GetWidth(), 1) << name;
            break;
        }
    }
}

TEST(BmpSuiteSweep, TheShortFileKeepsTheRowsThatArrived) {
    const fs::path path = SuiteDir / "b/shortfile.bmp";
    if (!fs::exists(path)) {
        GTEST_SKIP() << "no BMP suite at " << SuiteDir;
    }
    // 273 bytes: 62 of headers and palette, then 13 whole rows of 16 bytes (and 3 more bytes).
    BitmapImage image;
    ASSERT_TRUE(image.LoadBmp(path.string().c_str()));
    BitmapImage full;
    ASSERT_TRUE(full.LoadBmp((SuiteDir / "g/pal1.bmp").string().c_str()));
    for (std::int32_t y = 0; y < 64; ++y) {
        for (std::int32_t x = 0; x < 127; ++x) {
            if (y >= 64 - 13) {
                ASSERT_EQ(image.PixelAt(x, y), full.PixelAt(x, y)) << x << "," << y;
            } else {
                ASSERT_EQ(image.PixelAt(x, y), DefaultColour) << x << "," << y;
            }
        }
    }
}
