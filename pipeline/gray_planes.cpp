#include "gray_planes.hpp"

#include "avx2_clones.hpp"
#include "bitmap_image.hpp"
#include "bmp_pixel_blocks.hpp"
#include "bmp_writer.hpp"
#include "byte_set.hpp"
#include "pipeline_state.hpp"
#include "platform.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <system_error>
#include <thread>

#ifdef DORVANE_X86_VECTORS
#include <immintrin.h>
#endif

namespace dorvane {
namespace {

// Where a channel's byte lies in a pixel's four bytes read as one 32-bit value.
constexpr std::uint32_t ShiftOf(std::size_t offset) {
    return std::endian::native == std::endian::little ? 8 * static_cast<std::uint32_t>(offset)
                                                      : 24 - 8 * static_cast<std::uint32_t>(offset);
}

// Below this many bytes of file (about 2^16 pixels at 8 bpp) a helper thread costs more than it
// saves.
constexpr std::uintmax_t MinFileBytesToShare = std::uintmax_t{1} << 16;

// Rows of the gray picture that go into the columns at a time: each column then takes a run of
// 1 KiB, since every visit to another column costs an address translation that the processor
// cannot keep for thousands of columns.
constexpr std::uint32_t RowsPerColumnVisit = 256;

// The gray picture is kept in tiles of this many columns, each tile a line of bytes per row:
// a row of the file fills one line of each tile, and the cells of a column for a run of rows lie
// on a few pages, where a picture stored row after row would spread them over a page per row.
constexpr std::uint32_t TileColumns = 64;

// LoadGrayPlanes in steps. A helper thread reads the file, turning its pixels into a gray picture
// of one byte per pixel, row by row, while the caller allocates the planes as soon as the headers
// give their size: each column block costs a page fault of its own, thousands of them for a large
// picture, and the reading hides them. (The caller allocates, as with glibc a program's first
// thread allocates from the main heap, which grows faster than the heaps of later threads.) Both
// threads then copy the gray picture into ImagePlane, a tile at a time. A small file is loaded on
// the caller's thread alone. Nothing is installed unless everything succeeded.
class GrayLoad {
  public:
    // The whole load; format as ReadBmpPixels leaves it. False, with nothing installed, when
    // reading or allocation failed; Failure() then says why, and otherwise whether the source
    // was cut short.
    bool Run(const char* path, BitmapImage& format) {
        const PixelBlockSink sink{[this](std::int32_t width, std::int32_t height) {
                                      return Start(static_cast<std::uint32_t>(width),
                                                   static_cast<std::uint32_t>(height));
                                  },
                                  [this](const PixelBlock& block) { Take(block); },
                                  {}};
        std::jthread reader; // after sink, so that it is joined first
        std::error_code error;
        if (std::filesystem::file_size(platform::PathOf(path), error) >= MinFileBytesToShare &&
            !error) {
            try {
                reader = std::jthread([&] { Read(format, path, sink); });
            } catch (const std::system_error&) {
                // No thread to be had: everything happens here.
            }
        }
        if (!reader.joinable()) {
            Alone = true;
            Read(format, path, sink); // Start allocates the planes
        } else if (Await(Started) == Outcome::Succeeded) {
            Planes.emplace(Width, Height);
            Announce(Allocated, Allocate());
        }
        if (Allocated.load() == Outcome::Succeeded && Await(Reading) == Outcome::Succeeded) {
            CopyTiles();
        }
        if (reader.joinable()) {
            reader.join();
        }
        if (Reading.load() != Outcome::Succeeded) {
            return false;
        }
        if (Allocated.load() != Outcome::Succeeded) {
            Why = FormatFailure(FailureKind::OutOfMemory, Width, Height);
            return false;
        }
        Planes->Install();
        return true;
    }

    const FileFailure& Failure() const { return Why; }

  private:
    enum class Outcome : std::uint8_t { Pending, Succeeded, Failed };

    static void Announce(std::atomic<Outcome>& step, Outcome outcome) {
        step.store(outcome);
        platform::WakeAll(step);
    }
    static Outcome Await(const std::atomic<Outcome>& step) {
        platform::Wait(step, Outcome::Pending);
        return step.load();
    }

    Outcome Allocate() {
        return Planes->AllocateImage() && Planes->AllocateDirectionAndMagnitude()
                   ? Outcome::Succeeded
                   : Outcome::Failed;
    }

    // ReadBmpPixels, telling the other thread how it went, and then helping with the copy.
    void Read(BitmapImage& format, const char* path, const PixelBlockSink& sink) {
        const bool read = ReadBmpPixels(format, path, sink, Why);
        Outcome pending = Outcome::Pending;
        if (Started.compare_exchange_strong(pending, Outcome::Failed)) {
            platform::WakeAll(Started); // the headers were refused
        }
        Announce(Reading, read ? Outcome::Succeeded : Outcome::Failed);
        if (!Alone && read && Await(Allocated) == Outcome::Succeeded) {
            CopyTiles();
        }
    }

    // Called once the headers are accepted. False when memory runs out.
    bool Start(std::uint32_t width, std::uint32_t height) {
        Width = width;
        Height = height;
        const std::size_t tiles = (std::size_t{width} + TileColumns - 1) / TileColumns;
        Gray.reset(new (std::nothrow) std::uint8_t[tiles * TileColumns * height]);
        Outcome outcome = Gray ? Outcome::Succeeded : Outcome::Failed;
        if (Alone && Gray) {
            Planes.emplace(width, height);
            outcome = Allocate();
            Announce(Allocated, outcome);
        }
        Announce(Started, outcome);
        return outcome == Outcome::Succeeded;
    }

    void Take(const PixelBlock& block) {
        const PixelRgba* pixels = block.Pixels.data();
        const auto left = static_cast<std::uint32_t>(block.XLow);
        const auto end = left + static_cast<std::uint32_t>(block.Columns);
        for (std::int32_t r = 0; r < block.Rows; ++r, pixels += block.Stride) {
            const auto y = static_cast<std::uint32_t>(block.YLow + r);
            for (std::uint32_t x = left; x < end;) {
                const std::uint32_t x0 = x / TileColumns * TileColumns;
                const std::uint32_t count = std::min(x0 + TileColumns, end) - x;
                LumaRow(pixels + (x - left), Line(x0, y) + (x - x0), count);
                x += count;
            }
        }
    }

    // The line of the tile that holds column x0 (a multiple of TileColumns) for row y.
    std::uint8_t* Line(std::uint32_t x0, std::uint32_t y) const {
        return Gray.get() + (std::size_t{x0} * Height + std::size_t{y} * TileColumns);
    }

    // Takes tiles until none is left: within a tile a run of rows at a time, whose lines stay in
    // the cache while its columns take them.
    void CopyTiles() {
        const WorkPlane<std::int32_t> plane = Planes->Image();
        for (;;) {
            const std::uint32_t x0 = NextTile.fetch_add(1) * TileColumns;
            if (x0 >= Width) {
                return;
            }
            const std::uint32_t end = std::min(x0 + TileColumns, Width);
            for (std::uint32_t y0 = 0; y0 < Height; y0 += RowsPerColumnVisit) {
                const std::uint32_t rows = std::min(RowsPerColumnVisit, Height - y0);
                const std::uint8_t* lines = Line(x0, y0);
                for (std::uint32_t x = x0; x < end; ++x) {
                    std::int32_t* cells = plane[x] + y0;
                    const std::uint8_t* gray = lines + (x - x0);
                    for (std::uint32_t r = 0; r < rows; ++r) {
                        cells[r] = gray[std::size_t{r} * TileColumns];
                    }
                }
            }
        }
    }

    bool Alone = false; // no reader thread: the caller reads, and allocates in Start
    std::uint32_t Width = 0;
    std::uint32_t Height = 0;
    std::unique_ptr<std::uint8_t[]> Gray; // tiles of TileColumns columns, see Line
    std::optional<PlaneAllocation> Planes;
    std::atomic<Outcome> Started{Outcome::Pending};   // headers accepted, gray picture there
    std::atomic<Outcome> Allocated{Outcome::Pending}; // the three planes
    std::atomic<Outcome> Reading{Outcome::Pending};   // the whole gray picture filled in
    std::atomic<std::uint32_t> NextTile{0};
    FileFailure Why; // the reader's, written before Reading is announced
};

std::int32_t LoadPlanesFrom(const char* path, FileFailure& failure) {
    GrayLoad load;
    BitmapImage format;
    const bool loaded = load.Run(path, format);
    failure = load.Failure(); // after a load, whether the source was cut short
    if (!loaded) {
        return LoadFailed;
    }
    SourceBitDepth = static_cast<std::int8_t>(format.GetBitDepth());
    return 0;
}

// The same double products and sums in the same order as Luma, which the compiler turns into
// vector code that gives the same bytes. The channels come out of the pixel read as one value, a
// pattern that vectorises where single-byte fields do not. The sum is never negative and at most
// 255, so truncation is the floor.
DORVANE_AVX2_CLONES void LumaRowPlain(const PixelRgba* pixels, std::uint8_t* gray,
                                      std::uint32_t count) {
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint32_t value;
        std::memcpy(&value, &pixels[i], sizeof value);
        const std::uint32_t green = (value >> ShiftOf(offsetof(PixelRgba, Green))) & 0xFF;
        const std::uint32_t red = (value >> ShiftOf(offsetof(PixelRgba, Red))) & 0xFF;
        const std::uint32_t blue = (value >> ShiftOf(offsetof(PixelRgba, Blue))) & 0xFF;
        double sum = green * 0.587;
        sum = sum + red * 0.299;
        sum = sum + blue * 0.114;
        gray[i] = static_cast<std::uint8_t>(static_cast<std::int32_t>(sum));
    }
}

#ifdef DORVANE_X86_VECTORS

// The luma in whole numbers: N = 587 G + 299 R + 114 B, whose N / 1000 the double sum floors to
// unless 1000 divides N, where its rounding decides (a gray of 128 gives 127); eight pixels whose
// any N is such take the double sum. N < 2^18, so its float is exact, and the float product of
// N and 0.001 truncates to N / 1000 for every such N (checked over all of them by the tests,
// which load every colour).
// Luma of four pixels as Luma computes it, in double.
__attribute__((target("avx2"))) __m128i LumaHalf(__m128i green, __m128i red, __m128i blue) {
    __m256d sum = _mm256_mul_pd(_mm256_cvtepi32_pd(green), _mm256_set1_pd(0.587));
    sum = _mm256_add_pd(sum, _mm256_mul_pd(_mm256_cvtepi32_pd(red), _mm256_set1_pd(0.299)));
    sum = _mm256_add_pd(sum, _mm256_mul_pd(_mm256_cvtepi32_pd(blue), _mm256_set1_pd(0.114)));
    return _mm256_cvttpd_epi32(sum);
}

// The v where the luma of the gray (v, v, v) is v - 1: its N is 1000 v, so every gray pixel
// would otherwise take the double sum.
const ByteSet& GrayDecrements() {
    static const ByteSet set = ByteSetOf([](std::uint8_t v) { return Luma(v, v, v) != v; });
    return set;
}

// N of eight pixels, each four bytes (blue, green, red and a fourth that does not count) of value
// from the low byte up.
__attribute__((target("avx2"))) inline __m256i WeightedSums(__m256i value) {
    const __m256i lowBytes = _mm256_set1_epi32(0x00FF00FF);
    const __m256i br = _mm256_and_si256(value, lowBytes);
    const __m256i ga = _mm256_and_si256(_mm256_srli_epi32(value, 8), lowBytes);
    return _mm256_add_epi32(_mm256_madd_epi16(br, _mm256_set1_epi32(114 | 299 << 16)),
                            _mm256_madd_epi16(ga, _mm256_set1_epi32(587)));
}

// N / 1000 is (N / 8) / 125, and x / 125 for every x = N / 8 is the high half of x times
// Reciprocal125, shifted right by Shift125: sixteen pixels to a vector of 16-bit lanes.
constexpr std::uint32_t Reciprocal125 = 33555;
constexpr std::uint32_t Shift125 = 6;
constexpr bool Reciprocal125DividesEveryEighth() {
    for (std::uint32_t x = 0; x <= 255000 / 8; ++x) {
        if ((x * Reciprocal125) >> (16 + Shift125) != x / 125) {
            return false;
        }
    }
    return Reciprocal125 < (1U << 16);
}
static_assert(Reciprocal125DividesEveryEighth());

// Where each of eight pixels, as WeightedSums takes them, is a gray: blue, green and red equal.
__attribute__((target("avx2"))) inline __m256i Grays(__m256i pixels) {
    const __m256i greens = _mm256_shuffle_epi8(
        pixels, _mm256_setr_epi8(1, 1, 1, -1, 5, 5, 5, -1, 9, 9, 9, -1, 13, 13, 13, -1, 1, 1, 1, -1,
                                 5, 5, 5, -1, 9, 9, 9, -1, 13, 13, 13, -1));
    return _mm256_cmpeq_epi32(greens, _mm256_and_si256(pixels, _mm256_set1_epi32(0xFFFFFF)));
}

// The luma of sixteen pixels into the sixteen bytes at gray, from the first eight and the next
// eight pixels and their N, in whole numbers; false, writing nothing, where 1000 divides an N
// other than black's, white's and a gray's, whose luma the double sum decides.
__attribute__((target("avx2"))) inline bool LumaSixteen(__m256i first, __m256i second,
                                                        __m256i firstSums, __m256i secondSums,
                                                        std::uint8_t* gray) {
    __m256i quotient =
        _mm256_srli_epi16(_mm256_mulhi_epu16(_mm256_packus_epi32(_mm256_srli_epi32(firstSums, 3),
                                                                 _mm256_srli_epi32(secondSums, 3)),
                                             _mm256_set1_epi16(static_cast<short>(Reciprocal125))),
                          Shift125);
    // N - 1000 (N / 1000) is below 1000: it is 0 exactly where its low sixteen bits are.
    const __m256i low = _mm256_set1_epi32(0xFFFF);
    const __m256i sumsLow =
        _mm256_packus_epi32(_mm256_and_si256(firstSums, low), _mm256_and_si256(secondSums, low));
    const __m256i exact =
        _mm256_cmpeq_epi16(sumsLow, _mm256_mullo_epi16(quotient, _mm256_set1_epi16(1000)));
    const __m256i ends = _mm256_or_si256(_mm256_cmpeq_epi16(quotient, _mm256_setzero_si256()),
                                         _mm256_cmpeq_epi16(quotient, _mm256_set1_epi16(255)));
    const __m256i held = _mm256_andnot_si256(ends, exact);
    if (_mm256_movemask_epi8(held) != 0) {
        // Grays, as scans and the light parts of pages are, have their luma from a table.
        const __m256i grays = _mm256_packs_epi32(Grays(first), Grays(second));
        if (_mm256_movemask_epi8(_mm256_andnot_si256(grays, held)) != 0) {
            return false;
        }
        quotient =
            _mm256_add_epi16(quotient, _mm256_and_si256(LanesIn(GrayDecrements(), quotient), held));
    }
    // The packing interleaved the two halves by fours: back into the pixels' order.
    const __m256i ordered = _mm256_permute4x64_epi64(quotient, 0xD8);
    _mm_storeu_si128(
        reinterpret_cast<__m128i*>(gray),
        _mm_packus_epi16(_mm256_castsi256_si128(ordered), _mm256_extracti128_si256(ordered, 1)));
    return true;
}

// The luma of eight pixels of four bytes each, as WeightedSums takes them, whose N are sum, into
// the eight bytes at gray: the ends of a row, and groups of sixteen that LumaSixteen leaves.
__attribute__((target("avx2"))) inline void LumaEight(__m256i value, __m256i sum,
                                                      std::uint8_t* gray) {
    __m256i luma =
        _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(sum), _mm256_set1_ps(0.001F)));
    // Black (N = 0) and white (N = 255000), all that most of a page holds, come out right too.
    const __m256i ends = _mm256_or_si256(_mm256_cmpeq_epi32(sum, _mm256_setzero_si256()),
                                         _mm256_cmpeq_epi32(sum, _mm256_set1_epi32(255000)));
    const __m256i exact = _mm256_andnot_si256(
        ends, _mm256_cmpeq_epi32(sum, _mm256_mullo_epi32(luma, _mm256_set1_epi32(1000))));
    if (_mm256_movemask_epi8(exact) != 0) {
        const __m256i channel = _mm256_set1_epi32(0xFF);
        const __m256i blue = _mm256_and_si256(value, channel);
        const __m256i green = _mm256_and_si256(_mm256_srli_epi32(value, 8), channel);
        const __m256i red = _mm256_and_si256(_mm256_srli_epi32(value, 16), channel);
        luma = _mm256_set_m128i(LumaHalf(_mm256_extracti128_si256(green, 1),
                                         _mm256_extracti128_si256(red, 1),
                                         _mm256_extracti128_si256(blue, 1)),
                                LumaHalf(_mm256_castsi256_si128(green), _mm256_castsi256_si128(red),
                                         _mm256_castsi256_si128(blue)));
    }
    const __m256i words = _mm256_packus_epi32(luma, luma);
    const __m256i bytes = _mm256_packus_epi16(words, words);
    _mm_storel_epi64(
        reinterpret_cast<__m128i*>(gray),
        _mm_unpacklo_epi32(_mm256_castsi256_si128(bytes), _mm256_extracti128_si256(bytes, 1)));
}

// Eight pixels of BytesPerPixel bytes each, widened to four bytes (blue, green, red and one that
// does not count). Three-byte pixels are read as two runs of sixteen bytes, four past them.
template <std::size_t BytesPerPixel>
__attribute__((target("avx2"))) inline __m256i EightPixels(const std::uint8_t* bytes) {
    if constexpr (BytesPerPixel == 4) {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes));
    } else {
        const __m256i widen =
            _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, 0, 1, 2, -1, 3,
                             4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
        return _mm256_shuffle_epi8(
            _mm256_set_m128i(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 12)),
                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes))),
            widen);
    }
}

// Pixels of four bytes, as PixelRgba and the file's 32 bpp rows hold them on a little-endian
// machine, or of three, which stops two pixels early, as their runs are read four bytes beyond.
// Returns how many were done, a multiple of eight; the caller does the rest.
template <std::size_t BytesPerPixel>
__attribute__((target("avx2"))) std::uint32_t
LumaOfPixelsAvx2(const std::uint8_t* pixels, std::uint8_t* gray, std::uint32_t count) {
    constexpr std::uint32_t Beyond = BytesPerPixel == 4 ? 0 : 2;
    std::uint32_t i = 0;
    for (; i + 16 + Beyond <= count; i += 16) {
        const __m256i first = EightPixels<BytesPerPixel>(pixels + BytesPerPixel * i);
        const __m256i second = EightPixels<BytesPerPixel>(pixels + BytesPerPixel * (i + 8));
        const __m256i firstSums = WeightedSums(first);
        const __m256i secondSums = WeightedSums(second);
        if (!LumaSixteen(first, second, firstSums, secondSums, gray + i)) {
            LumaEight(first, firstSums, gray + i);
            LumaEight(second, secondSums, gray + i + 8);
        }
    }
    for (; i + 8 + Beyond <= count; i += 8) {
        const __m256i value = EightPixels<BytesPerPixel>(pixels + BytesPerPixel * i);
        LumaEight(value, WeightedSums(value), gray + i);
    }
    return i;
}

bool HasAvx2() {
    return __builtin_cpu_supports("avx2");
}

#endif

} // namespace

void LumaRow(const PixelRgba* pixels, std::uint8_t* gray, std::uint32_t count) {
    std::uint32_t done = 0;
#ifdef DORVANE_X86_VECTORS
    if (HasAvx2()) {
        done = LumaOfPixelsAvx2<4>(reinterpret_cast<const std::uint8_t*>(pixels), gray, count);
    }
#endif
    LumaRowPlain(pixels + done, gray + done, count - done);
}

void LumaRowOfFile(const std::uint8_t* row, std::int32_t depth, std::uint8_t* gray,
                   std::uint32_t count) {
    const std::size_t bytesPerPixel = depth == 32 ? 4 : 3;
    std::uint32_t done = 0;
#ifdef DORVANE_X86_VECTORS
    if (HasAvx2()) {
        done = depth == 32 ? LumaOfPixelsAvx2<4>(row, gray, count)
                           : LumaOfPixelsAvx2<3>(row, gray, count);
    }
#endif
    for (std::uint32_t i = done; i < count; ++i) {
        const std::uint8_t* pixel = row + bytesPerPixel * i;
        gray[i] = static_cast<std::uint8_t>(Luma(pixel[2], pixel[1], pixel[0]));
    }
}

std::int32_t Luma(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    // The order of the additions is part of the result.
    double sum = green * 0.587;
    sum = sum + red * 0.299;
    sum = sum + blue * 0.114;
    return static_cast<std::int32_t>(std::floor(sum));
}

std::int32_t LoadGrayPlanes(const char* path, FileFailure& failure) {
    failure = {};
    try {
        return LoadPlanesFrom(path, failure);
    } catch (const std::bad_alloc&) {
        // Only setting up the sink can throw, before anything is allocated.
        failure = FormatFailure(FailureKind::OutOfMemory);
        return LoadFailed;
    }
}

std::int32_t LoadGrayPlanes(const char* path) {
    FileFailure ignored;
    return LoadGrayPlanes(path, ignored);
}

bool StoreGrayImage(const char* output, Durability durability, FileFailure& failure) {
    failure = SystemFailure(FailedFile::Output, FailureKind::Write, ENOMEM);
    try {
        // The image gives the depth, the standard palette and the resolution of a new image;
        // the gray pixels go from ImagePlane straight into the file's rows.
        BitmapImage format;
        if (!format.ChangeBitDepth(SourceBitDepth)) {
            return false;
        }
        const std::span<const std::int32_t* const> columns(ImagePlane, PlaneWidth);
        return SaveGrayBmp(format, columns, static_cast<std::int32_t>(PlaneHeight), output, failure,
                           durability);
    } catch (const std::bad_alloc&) {
        failure = SystemFailure(FailedFile::Output, FailureKind::Write, ENOMEM);
        return false;
    }
}

bool StoreGrayImage(FileFailure& failure) {
    return StoreGrayImage(OutputPath, Durability::Process, failure);
}

bool StoreGrayImage() {
    FileFailure ignored;
    return StoreGrayImage(ignored);
}

} // namespace dorvane
