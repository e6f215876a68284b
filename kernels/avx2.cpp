// The AVX2 path (with FMA): sixteen 16-bit lanes to a vector. Each function is built for AVX2
// alone, so that nothing of it reaches code that other processors run.
#include "blur_arithmetic.hpp"
#include "byte_set.hpp"
#include "edge_classes.hpp"
#include "path_kernels.hpp"
#include "stage_sums.hpp"

#if defined(__x86_64__)

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <immintrin.h>

#define DORVANE_AVX2 __attribute__((target("avx2,fma")))
#define DORVANE_WIDE_TARGET DORVANE_AVX2
#include "wide_blur_step.hpp"

namespace dorvane::vectors::avx2 {
namespace {

// All ones in each 16-bit lane whose value, 0..255, is in set; zero in the others.
DORVANE_AVX2 inline __m256i LanesIn(const ByteSet& set, __m256i values) {
    // Byte v / 8 by two table lookups, the fifth bit of the index choosing the table; then bit
    // v % 8 of it. Only the low byte of each lane counts.
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(set.data()));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(set.data() + 16));
    const __m256i index = _mm256_srli_epi16(values, 3);
    const __m256i bytes = _mm256_blendv_epi8(
        _mm256_shuffle_epi8(_mm256_broadcastsi128_si256(low), index),
        _mm256_shuffle_epi8(_mm256_broadcastsi128_si256(high), index), _mm256_slli_epi16(index, 3));
    const __m256i bit = _mm256_and_si256(
        _mm256_shuffle_epi8(_mm256_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 0, 0, 0, 0, 0, 0, 0, 0,
                                             1, 2, 4, 8, 16, 32, 64, -128, 0, 0, 0, 0, 0, 0, 0, 0),
                            _mm256_and_si256(values, _mm256_set1_epi16(7))),
        _mm256_set1_epi16(0xFF));
    return _mm256_cmpeq_epi16(_mm256_and_si256(bytes, bit), bit);
}

// --- The blur's step: four vectors of sixteen lanes.

// Sixteen ring cells from cells, widened to 16 bits.
DORVANE_AVX2 inline __m256i Load(const std::uint8_t* cells) {
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cells)));
}

// Sixteen lanes' cells at window column a, row b, from lanes.
DORVANE_AVX2 inline __m256i Cells(const std::uint8_t* lanes, std::int64_t a, std::int64_t b) {
    return Load(lanes + Tap(a, b));
}

DORVANE_AVX2 inline __m256i Add(__m256i a, __m256i b) {
    return _mm256_add_epi16(a, b);
}

// The chain, in fused multiply-adds (see blur_arithmetic.hpp), for the eight lanes from lane
// first of the windows from lanes.
DORVANE_AVX2 inline __m256i ChainOfEight(const std::uint8_t* lanes, std::int64_t first) {
    const __m256 scale = _mm256_set1_ps(GaussianScale);
    __m256 sum = _mm256_setzero_ps();
    for (std::size_t a = 0; a < 5; ++a) {
        for (std::size_t b = 0; b < 5; ++b) {
            const __m256 weight = _mm256_set1_ps(static_cast<float>(blur::Weight(a, b)));
            const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(
                lanes + Tap(static_cast<std::int64_t>(a), static_cast<std::int64_t>(b)) + first));
            const __m256 values = _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(bytes));
            sum = _mm256_fmadd_ps(_mm256_mul_ps(values, weight), scale, sum);
        }
    }
    return _mm256_cvttps_epi32(sum);
}

// v - 1 for the v where the chain gives that for a window of 25 cells v.
constexpr ByteSet UniformDecrements =
    ByteSetOf([](std::uint8_t v) { return blur::UniformResults[v] != v; });

// The held lanes of the sixteen from lanes (their place in a step's ring row), whose window sum
// 159 divides, set as the chain sets them: a window of 25 equal cells v by the chain's known
// result for v, any other by the chain itself, for eight lanes at once.
DORVANE_AVX2 __attribute__((noinline)) __m256i ExactLanes(const std::uint8_t* lanes, __m256i held,
                                                          __m256i results) {
    const __m256i centre = Cells(lanes, 2, 2);
    __m256i uniform = _mm256_set1_epi16(-1);
    for (std::int64_t a = 0; a < 5; ++a) {
        for (std::int64_t b = 0; b < 5; ++b) {
            uniform = _mm256_and_si256(uniform, _mm256_cmpeq_epi16(Cells(lanes, a, b), centre));
        }
    }
    if (_mm256_movemask_epi8(_mm256_andnot_si256(uniform, held)) == 0) {
        const __m256i value = _mm256_add_epi16(centre, LanesIn(UniformDecrements, centre));
        return _mm256_blendv_epi8(results, value, held);
    }
    // A vector usually holds one lane, so the chain runs on the half of it that holds lanes.
    const auto heldBytes = static_cast<std::uint32_t>(_mm256_movemask_epi8(held));
    const __m256i low = (heldBytes & 0xFFFF) != 0 ? ChainOfEight(lanes, 0) : _mm256_setzero_si256();
    const __m256i high = (heldBytes >> 16) != 0 ? ChainOfEight(lanes, 8) : _mm256_setzero_si256();
    // Both halves are 0..255, so packing keeps every value.
    const __m256i chain = _mm256_permute4x64_epi64(_mm256_packs_epi32(low, high), 0xD8);
    return _mm256_blendv_epi8(results, chain, held);
}

// The step's vectors (wide_blur_step.hpp): four of sixteen lanes, masks as lanes of all ones.
struct Wide {
    using Vector = __m256i;
    static constexpr std::size_t Size = 16;

    DORVANE_AVX2 static __m256i Splat(std::uint16_t value) {
        return _mm256_set1_epi16(static_cast<short>(value));
    }
    DORVANE_AVX2 static __m256i TapLoad(const std::uint8_t* lanes, std::int64_t a, std::int64_t b) {
        return Cells(lanes, a, b);
    }
    DORVANE_AVX2 static __m256i Add(__m256i a, __m256i b) { return avx2::Add(a, b); }
    DORVANE_AVX2 static __m256i Times(__m256i v, std::uint32_t factor) {
        return _mm256_mullo_epi16(v, Splat(static_cast<std::uint16_t>(factor)));
    }
    DORVANE_AVX2 static __m256i Quotients(__m256i sums) {
        return _mm256_srli_epi16(_mm256_mulhi_epu16(sums, Splat(blur::Reciprocal)),
                                 blur::QuotientShift - 16);
    }
    DORVANE_AVX2 static __m256i Equal(__m256i a, __m256i b) { return _mm256_cmpeq_epi16(a, b); }
    DORVANE_AVX2 static __m256i Tested(__m256i v, std::uint16_t bits) {
        const __m256i none =
            _mm256_cmpeq_epi16(_mm256_and_si256(v, Splat(bits)), _mm256_setzero_si256());
        return _mm256_xor_si256(none, _mm256_set1_epi16(-1));
    }
    DORVANE_AVX2 static __m256i And(__m256i a, __m256i b) { return _mm256_and_si256(a, b); }
    DORVANE_AVX2 static bool Any(__m256i mask) { return _mm256_movemask_epi8(mask) != 0; }
    DORVANE_AVX2 static __m256i Visit(std::uint64_t bits) {
        const __m256i laneBits =
            _mm256_setr_epi16(1, 2, 4, 8, 16, 32, 64, 128, 256, 512, 1024, 2048, 4096, 8192,
                              static_cast<short>(1 << 14), static_cast<short>(1 << 15));
        const __m256i lanes = Splat(static_cast<std::uint16_t>(bits));
        return _mm256_cmpeq_epi16(_mm256_and_si256(lanes, laneBits), laneBits);
    }
    DORVANE_AVX2 static __m256i Select(__m256i mask, __m256i whereSet, __m256i elsewhere) {
        return _mm256_blendv_epi8(elsewhere, whereSet, mask);
    }
    DORVANE_AVX2 static __m256i ExactLanes(const std::uint8_t* lanes, __m256i held,
                                           __m256i results) {
        return avx2::ExactLanes(lanes, held, results);
    }
    // Two vectors a store, packed to bytes.
    template <std::size_t N>
    DORVANE_AVX2 static void Store(const __m256i (&results)[N], std::uint8_t* out) {
        for (std::size_t j = 0; j < N; j += 2) {
            const __m256i bytes =
                _mm256_permute4x64_epi64(_mm256_packus_epi16(results[j], results[j + 1]), 0xD8);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + Size * j), bytes);
        }
    }
};

// --- The luma: N (path_kernels.hpp) of sixteen pixels in 16-bit lanes, or of eight in 32-bit ones.

// Luma of four pixels as Luma computes it, in double.
DORVANE_AVX2 __m128i LumaHalf(__m128i green, __m128i red, __m128i blue) {
    __m256d sum = _mm256_mul_pd(_mm256_cvtepi32_pd(green), _mm256_set1_pd(0.587));
    sum = _mm256_add_pd(sum, _mm256_mul_pd(_mm256_cvtepi32_pd(red), _mm256_set1_pd(0.299)));
    sum = _mm256_add_pd(sum, _mm256_mul_pd(_mm256_cvtepi32_pd(blue), _mm256_set1_pd(0.114)));
    return _mm256_cvttpd_epi32(sum);
}

// The v where the luma of the gray (v, v, v) is v - 1: its N is 1000 v, so every gray pixel
// would otherwise take the double sum.
const ByteSet& GrayDecrements() {
    static const ByteSet set = ByteSetOf([](std::uint8_t v) { return GrayLumas()[v] != v; });
    return set;
}

// N of eight pixels, each four bytes (blue, green, red and a fourth that does not count) of value
// from the low byte up.
DORVANE_AVX2 inline __m256i WeightedSums(__m256i value) {
    const __m256i lowBytes = _mm256_set1_epi32(0x00FF00FF);
    const __m256i br = _mm256_and_si256(value, lowBytes);
    const __m256i ga = _mm256_and_si256(_mm256_srli_epi32(value, 8), lowBytes);
    return _mm256_add_epi32(
        _mm256_madd_epi16(br, _mm256_set1_epi32(static_cast<int>(BlueWeight | RedWeight << 16))),
        _mm256_madd_epi16(ga, _mm256_set1_epi32(static_cast<int>(GreenWeight))));
}

// Where each of eight pixels, as WeightedSums takes them, is a gray: blue, green and red equal.
DORVANE_AVX2 inline __m256i Grays(__m256i pixels) {
    const __m256i greens = _mm256_shuffle_epi8(
        pixels, _mm256_setr_epi8(1, 1, 1, -1, 5, 5, 5, -1, 9, 9, 9, -1, 13, 13, 13, -1, 1, 1, 1, -1,
                                 5, 5, 5, -1, 9, 9, 9, -1, 13, 13, 13, -1));
    return _mm256_cmpeq_epi32(greens, _mm256_and_si256(pixels, _mm256_set1_epi32(0xFFFFFF)));
}

// The luma of sixteen pixels into the sixteen bytes at gray, from the first eight and the next
// eight pixels and their N, in whole numbers; false, writing nothing, where the double sum decides
// an N other than a gray's, whose luma comes from a table.
DORVANE_AVX2 inline bool LumaSixteen(__m256i first, __m256i second, __m256i firstSums,
                                     __m256i secondSums, std::uint8_t* gray) {
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

static_assert(FloatQuotientIsExact());

// The luma of eight pixels of four bytes each, as WeightedSums takes them, whose N are sum, into
// the eight bytes at gray: the ends of a row, and groups of sixteen that LumaSixteen leaves. N and
// its float product with 0.001 are exact enough (path_kernels.hpp).
DORVANE_AVX2 inline void LumaEight(__m256i value, __m256i sum, std::uint8_t* gray) {
    __m256i luma =
        _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(sum), _mm256_set1_ps(Thousandth)));
    const __m256i ends =
        _mm256_or_si256(_mm256_cmpeq_epi32(sum, _mm256_setzero_si256()),
                        _mm256_cmpeq_epi32(sum, _mm256_set1_epi32(static_cast<int>(MaxWeighted))));
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

// Eight pixels of PixelBytes bytes each, widened to four bytes (blue, green, red and one that
// does not count). Three-byte pixels are read as two runs of sixteen bytes, four past them.
template <std::size_t PixelBytes>
DORVANE_AVX2 inline __m256i EightPixels(const std::uint8_t* bytes) {
    if constexpr (PixelBytes == 4) {
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

// Pixels of four bytes, or of three, which stop two pixels early, as their runs are read four
// bytes beyond. Returns how many were done, a multiple of eight.
template <std::size_t PixelBytes>
DORVANE_AVX2 std::size_t LumaOfPixels(const std::uint8_t* pixels, std::uint8_t* gray,
                                      std::size_t count) {
    constexpr std::size_t Beyond = PixelBytes == 4 ? 0 : 2;
    std::size_t i = 0;
    for (; i + 16 + Beyond <= count; i += 16) {
        const __m256i first = EightPixels<PixelBytes>(pixels + PixelBytes * i);
        const __m256i second = EightPixels<PixelBytes>(pixels + PixelBytes * (i + 8));
        const __m256i firstSums = WeightedSums(first);
        const __m256i secondSums = WeightedSums(second);
        if (!LumaSixteen(first, second, firstSums, secondSums, gray + i)) {
            LumaEight(first, firstSums, gray + i);
            LumaEight(second, secondSums, gray + i + 8);
        }
    }
    for (; i + 8 + Beyond <= count; i += 8) {
        const __m256i value = EightPixels<PixelBytes>(pixels + PixelBytes * i);
        LumaEight(value, WeightedSums(value), gray + i);
    }
    return i;
}

// --- Gray rows as file rows: sixteen grays a turn, each output vector's bytes taken from the
// grays by a shuffle, at 24 bpp each gray three times, at 32 bpp three times and a zero (-1
// selects zero).

DORVANE_AVX2 std::size_t EncodeThreeBytes(const std::uint8_t* gray, std::size_t count,
                                          std::uint8_t* out) {
    const __m128i first = _mm_setr_epi8(0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5);
    const __m128i second = _mm_setr_epi8(5, 5, 6, 6, 6, 7, 7, 7, 8, 8, 8, 9, 9, 9, 10, 10);
    const __m128i third =
        _mm_setr_epi8(10, 11, 11, 11, 12, 12, 12, 13, 13, 13, 14, 14, 14, 15, 15, 15);
    std::size_t x = 0;
    for (; x + 16 <= count; x += 16, out += 48) {
        const __m128i grays = _mm_loadu_si128(reinterpret_cast<const __m128i*>(gray + x));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(grays, first));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_shuffle_epi8(grays, second));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32), _mm_shuffle_epi8(grays, third));
    }
    return x;
}

DORVANE_AVX2 std::size_t EncodeFourBytes(const std::uint8_t* gray, std::size_t count,
                                         std::uint8_t* out) {
    std::size_t x = 0;
    for (; x + 16 <= count; x += 16, out += 64) {
        const __m128i grays = _mm_loadu_si128(reinterpret_cast<const __m128i*>(gray + x));
        for (int quarter = 0; quarter < 4; ++quarter) {
            const auto g = static_cast<char>(4 * quarter);
            const __m128i pick = _mm_setr_epi8(
                g, g, g, -1, static_cast<char>(g + 1), static_cast<char>(g + 1),
                static_cast<char>(g + 1), -1, static_cast<char>(g + 2), static_cast<char>(g + 2),
                static_cast<char>(g + 2), -1, static_cast<char>(g + 3), static_cast<char>(g + 3),
                static_cast<char>(g + 3), -1);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * quarter),
                             _mm_shuffle_epi8(grays, pick));
        }
    }
    return x;
}

// --- Channels reversed: a byte shuffle within each 128-bit half reverses the pixels it holds (-1
// selects zero); pixels of three bytes are also moved between the halves, by 32-bit lanes. Each
// loop runs while 32 bytes from its first pixel lie within both rows, eleven pixels before the end.

// Ten pixels of three bytes, five in each half: two runs of fifteen bytes, read and written sixteen
// bytes at a time.
DORVANE_AVX2 std::size_t ReverseThreeBytes(const std::uint8_t* in, std::uint8_t* out,
                                           std::size_t count) {
    const __m256i pick = _mm256_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15, 2,
                                          1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    std::size_t x = 0;
    for (; x + 11 <= count; x += 10) {
        const __m256i pixels =
            _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(in + 3 * x + 15),
                                reinterpret_cast<const __m128i*>(in + 3 * x));
        const __m256i reversed = _mm256_shuffle_epi8(pixels, pick);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * x), _mm256_castsi256_si128(reversed));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * x + 15),
                         _mm256_extracti128_si256(reversed, 1));
    }
    return x;
}

// Eight pixels of four bytes into 24 bytes: each half packs its four into its first twelve bytes,
// and those of both halves are put side by side.
DORVANE_AVX2 std::size_t PackFourBytes(const std::uint8_t* in, std::uint8_t* out,
                                       std::size_t count) {
    const __m256i pick = _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1, 2,
                                          1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
    const __m256i gather = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7);
    std::size_t x = 0;
    for (; x + 11 <= count; x += 8) {
        const __m256i pixels = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 4 * x));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 3 * x),
                            _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(pixels, pick), gather));
    }
    return x;
}

// Eight pixels of three bytes into 32 bytes: the twelve bytes of four go to each half, which
// spreads them over its four pixels.
DORVANE_AVX2 std::size_t SpreadThreeBytes(const std::uint8_t* in, std::uint8_t* out,
                                          std::size_t count) {
    const __m256i spread = _mm256_setr_epi32(0, 1, 2, 0, 3, 4, 5, 0);
    const __m256i pick = _mm256_setr_epi8(2, 1, 0, -1, 5, 4, 3, -1, 8, 7, 6, -1, 11, 10, 9, -1, 2,
                                          1, 0, -1, 5, 4, 3, -1, 8, 7, 6, -1, 11, 10, 9, -1);
    std::size_t x = 0;
    for (; x + 11 <= count; x += 8) {
        const __m256i pixels = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 3 * x));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * x),
                            _mm256_shuffle_epi8(_mm256_permutevar8x32_epi32(pixels, spread), pick));
    }
    return x;
}

// --- The edge map's classes (edge_classes.hpp): sixteen cells in 16-bit lanes.

// Weighted 1, 2, 1.
DORVANE_AVX2 inline __m256i OneTwoOne(__m256i first, __m256i middle, __m256i last) {
    return Add(Add(first, last), Add(middle, middle));
}

// The magnitude of each lane, clamped to GradientClamp.
DORVANE_AVX2 inline __m256i Clamped(__m256i gradients) {
    return _mm256_min_epi16(_mm256_abs_epi16(gradients),
                            _mm256_set1_epi16(static_cast<short>(GradientClamp)));
}

// All ones in the lanes of sums at least square.
DORVANE_AVX2 inline __m256i AtLeast(__m256i sums, std::int16_t square) {
    return _mm256_cmpgt_epi16(sums, _mm256_set1_epi16(static_cast<short>(square - 1)));
}

DORVANE_AVX2 inline __m256i Bits(__m256i mask, std::uint8_t bits) {
    return _mm256_and_si256(mask, _mm256_set1_epi16(bits));
}

// The classes of sixteen cells down the centre column, as EdgeClassOf gives them.
DORVANE_AVX2 inline void SixteenClasses(const std::uint8_t* left, const std::uint8_t* centre,
                                        const std::uint8_t* right, std::uint8_t* classes) {
    const __m256i leftAbove = Load(left - 1);
    const __m256i leftBelow = Load(left + 1);
    const __m256i rightAbove = Load(right - 1);
    const __m256i rightBelow = Load(right + 1);
    const __m256i gc = _mm256_sub_epi16(OneTwoOne(leftAbove, Load(left), leftBelow),
                                        OneTwoOne(rightAbove, Load(right), rightBelow));
    const __m256i gr = _mm256_sub_epi16(OneTwoOne(leftBelow, Load(centre + 1), rightBelow),
                                        OneTwoOne(leftAbove, Load(centre - 1), rightAbove));
    const __m256i c = Clamped(gc);
    const __m256i r = Clamped(gr);
    const __m256i s = Add(_mm256_mullo_epi16(c, c), _mm256_mullo_epi16(r, r));
    const __m256i far =
        _mm256_andnot_si256(AtLeast(s, SquareOf(HysteresisHigh)),
                            Bits(AtLeast(s, SquareOf(HysteresisLow + 1)), FarClass));
    const __m256i lanes =
        _mm256_or_si256(_mm256_or_si256(Bits(AtLeast(s, SquareOf(HysteresisHigh + 1)), StrongClass),
                                        Bits(AtLeast(s, SquareOf(HysteresisLow)), NearClass)),
                        far);
    _mm_storeu_si128(
        reinterpret_cast<__m128i*>(classes),
        _mm_packus_epi16(_mm256_castsi256_si128(lanes), _mm256_extracti128_si256(lanes, 1)));
}

// --- Transposes: rows i and i + 8 of a block share a vector, so that each round of the 128-bit
// path's interleaving serves both halves of the block at once.

DORVANE_AVX2 inline __m256i RowsApart(const std::uint8_t* first, std::ptrdiff_t stride) {
    return _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(first))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(first + 8 * stride)), 1);
}

// The vector bodies of the kernels (VectorsThenPlain): each returns how many items it did.
std::size_t LumaBody(const std::uint8_t* pixels, std::size_t pixelBytes, std::size_t count,
                     std::uint8_t* gray) {
    return pixelBytes == 4 ? LumaOfPixels<4>(pixels, gray, count)
                           : LumaOfPixels<3>(pixels, gray, count);
}

std::size_t EncodeBody(const std::uint8_t* gray, std::size_t count, std::size_t pixelBytes,
                       std::uint8_t* out) {
    return pixelBytes == 4 ? EncodeFourBytes(gray, count, out) : EncodeThreeBytes(gray, count, out);
}

std::size_t ReverseBody(const std::uint8_t* in, std::size_t inBytes, std::size_t count,
                        std::size_t outBytes, std::uint8_t* out) {
    return inBytes == 4    ? PackFourBytes(in, out, count)
           : outBytes == 4 ? SpreadThreeBytes(in, out, count)
                           : ReverseThreeBytes(in, out, count);
}

DORVANE_AVX2 std::size_t ClassesBody(const std::array<const std::uint8_t*, 3>& columns,
                                     std::size_t count, std::uint8_t* classes) {
    std::size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        SixteenClasses(columns[0] + i, columns[1] + i, columns[2] + i, classes + i);
    }
    return i;
}

} // namespace

// The plain loop, which the compiler vectorises for AVX2 here.
DORVANE_AVX2 bool StageSums(const std::array<const std::int32_t*, 5>& columns, std::size_t count,
                            std::uint32_t* sums) {
    return StageSumsOf(columns, count, sums);
}

DORVANE_AVX2 void BlurStep(std::uint64_t visited, std::uint8_t* row) {
    WideBlurStep<Wide>(visited, row);
}

// Bytes, then pairs, fours and eights interleaved; the last round's halves lie in the two halves
// of a vector, which one permutation puts into the two rows out.
DORVANE_AVX2 void Transpose(const std::uint8_t* in, std::ptrdiff_t inStride,
                            std::ptrdiff_t outStride, std::uint8_t* out) {
    __m256i rows[8];
    for (std::ptrdiff_t i = 0; i < 8; ++i) {
        rows[i] = RowsApart(in + i * inStride, inStride);
    }
    __m256i pairs[8];
    for (std::size_t k = 0; k < 4; ++k) {
        pairs[2 * k] = _mm256_unpacklo_epi8(rows[2 * k], rows[2 * k + 1]);
        pairs[2 * k + 1] = _mm256_unpackhi_epi8(rows[2 * k], rows[2 * k + 1]);
    }
    __m256i fours[8];
    for (std::size_t m = 0; m < 2; ++m) {
        const __m256i* p = pairs + 4 * m;
        fours[4 * m] = _mm256_unpacklo_epi16(p[0], p[2]);
        fours[4 * m + 1] = _mm256_unpackhi_epi16(p[0], p[2]);
        fours[4 * m + 2] = _mm256_unpacklo_epi16(p[1], p[3]);
        fours[4 * m + 3] = _mm256_unpackhi_epi16(p[1], p[3]);
    }
    for (std::size_t q = 0; q < 4; ++q) {
        const __m256i eights[2] = {_mm256_unpacklo_epi32(fours[q], fours[4 + q]),
                                   _mm256_unpackhi_epi32(fours[q], fours[4 + q])};
        for (std::size_t h = 0; h < 2; ++h) {
            // Its 64-bit lanes 0 and 2 make one row, 1 and 3 the next.
            const __m256i two = _mm256_permute4x64_epi64(eights[h], 0xD8);
            const auto row = static_cast<std::ptrdiff_t>(4 * q + 2 * h);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + row * outStride),
                             _mm256_castsi256_si128(two));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + (row + 1) * outStride),
                             _mm256_extracti128_si256(two, 1));
        }
    }
}

void Luma(const std::uint8_t* pixels, std::size_t pixelBytes, std::size_t count,
          std::uint8_t* gray) {
    VectorsThenPlain<LumaBody, plain::Luma, after::Luma>(pixels, pixelBytes, count, gray);
}

void EncodeGrays(const std::uint8_t* gray, std::size_t count, std::size_t pixelBytes,
                 std::uint8_t* out) {
    VectorsThenPlain<EncodeBody, plain::EncodeGrays, after::EncodeGrays>(gray, count, pixelBytes,
                                                                         out);
}

void ReverseChannels(const std::uint8_t* in, std::size_t inBytes, std::size_t count,
                     std::size_t outBytes, std::uint8_t* out) {
    VectorsThenPlain<ReverseBody, plain::ReverseChannels, after::ReverseChannels>(
        in, inBytes, count, outBytes, out);
}

void ScaleRow(const ScaleNeighbours& neighbours, const double* fx, double fy, std::size_t blue,
              std::size_t count, std::uint8_t* out) {
    VectorsThenPlain<WideScaleBytes<FourDoubles>, plain::ScaleRow, after::ScaleRow>(
        neighbours, fx, fy, blue, count, out);
}

namespace {

// The bytes of a 32-byte window that picks name, each under 32: bit 4, moved to bit 7 where the
// blend looks, takes the upper half.
DORVANE_AVX2 __m128i Picked(__m128i low, __m128i high, __m128i picks) {
    return _mm_blendv_epi8(_mm_shuffle_epi8(low, picks), _mm_shuffle_epi8(high, picks),
                           _mm_slli_epi16(picks, 3));
}

} // namespace

DORVANE_AVX2 void GatherColumns(const std::uint8_t* row, const std::uint8_t* ahead,
                                const std::uint32_t* starts, const std::uint8_t* picks,
                                std::size_t step, std::size_t groups, std::uint8_t* at0,
                                std::uint8_t* at1) {
    const __m128i steps = _mm_set1_epi8(static_cast<char>(step));
    for (std::size_t g = 0; g < groups; ++g) {
        const std::uint8_t* window = row + starts[g];
        // The next row's bytes come from memory while this row's are worked on.
        if (ahead != nullptr) {
            _mm_prefetch(reinterpret_cast<const char*>(ahead + starts[g]), _MM_HINT_T0);
        }
        const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(window));
        const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(window + 16));
        const __m128i chosen = _mm_loadu_si128(reinterpret_cast<const __m128i*>(picks + 16 * g));
        const __m128i first = Picked(low, high, chosen);
        const __m128i second = Picked(low, high, _mm_add_epi8(chosen, steps));
        // Sixteen bytes stored, the last four overwritten by the next group's; the last group's
        // twelve alone.
        if (g + 1 < groups) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(at0 + 12 * g), first);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(at1 + 12 * g), second);
        } else {
            std::memcpy(at0 + 12 * g, &first, 12);
            std::memcpy(at1 + 12 * g, &second, 12);
        }
    }
}

void EdgeClasses(const std::array<const std::uint8_t*, 3>& columns, std::size_t count,
                 std::uint8_t* classes) {
    VectorsThenPlain<ClassesBody, plain::EdgeClasses, after::EdgeClasses>(columns, count, classes);
}

// The plain loop, which the compiler vectorises for AVX2 here.
DORVANE_AVX2 void EdgeMap(const std::array<const std::uint8_t*, 5>& classes, std::size_t count,
                          std::uint8_t* map) {
    EdgeMapOf(classes, count, map);
}

} // namespace dorvane::vectors::avx2

#endif
