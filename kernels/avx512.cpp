// The AVX-512 path (F, BW and VL): the blur's step in two vectors of 32 16-bit lanes, with masks
// for the lanes it holds, the channel reversal, whose masked loads and stores finish a row
// without the plain loop, and the edge map's classes in 32 16-bit lanes, also finished by masks;
// the rest of the path is AVX2's. Each function is built for AVX-512 alone, so that nothing of it
// reaches code that other processors run.
#include "blur_arithmetic.hpp"
#include "byte_set.hpp"
#include "edge_classes.hpp"
#include "path_kernels.hpp"

#if defined(__x86_64__)

// GCC 12 warns that the vectors its own AVX-512 intrinsics leave undefined on purpose may be used
// uninitialised.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <immintrin.h>

#define DORVANE_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl,avx2,fma")))
#define DORVANE_WIDE_TARGET DORVANE_AVX512
#include "wide_blur_step.hpp"

namespace dorvane::vectors::avx512 {
namespace {

// The lanes whose value, 0..255, is in set: bit v % 16 of the set's 16-bit word v / 16.
DORVANE_AVX512 inline __mmask32 LanesIn(const ByteSet& set, __m512i values) {
    const __m512i words =
        _mm512_zextsi256_si512(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(set.data())));
    const __m512i word = _mm512_permutexvar_epi16(_mm512_srli_epi16(values, 4), words);
    const __m512i bits = _mm512_srlv_epi16(word, _mm512_and_si512(values, _mm512_set1_epi16(15)));
    return _mm512_test_epi16_mask(bits, _mm512_set1_epi16(1));
}

// 32 lanes' cells at window column a, row b, from lanes, widened to 16 bits.
DORVANE_AVX512 inline __m512i Cells(const std::uint8_t* lanes, std::int64_t a, std::int64_t b) {
    return _mm512_cvtepu8_epi16(
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lanes + Tap(a, b))));
}

// The chain, in fused multiply-adds (see blur_arithmetic.hpp), for the sixteen lanes from lane
// first of the windows from lanes, as 16-bit lanes.
DORVANE_AVX512 inline __m256i ChainOfSixteen(const std::uint8_t* lanes, std::int64_t first) {
    const __m512 scale = _mm512_set1_ps(GaussianScale);
    __m512 sum = _mm512_setzero_ps();
    for (std::size_t a = 0; a < 5; ++a) {
        for (std::size_t b = 0; b < 5; ++b) {
            const __m512 weight = _mm512_set1_ps(static_cast<float>(blur::Weight(a, b)));
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(
                lanes + Tap(static_cast<std::int64_t>(a), static_cast<std::int64_t>(b)) + first));
            const __m512 values = _mm512_cvtepi32_ps(_mm512_cvtepu8_epi32(bytes));
            sum = _mm512_fmadd_ps(_mm512_mul_ps(values, weight), scale, sum);
        }
    }
    return _mm512_cvtepi32_epi16(_mm512_cvttps_epi32(sum));
}

// v - 1 for the v where the chain gives that for a window of 25 cells v.
constexpr ByteSet UniformDecrements =
    ByteSetOf([](std::uint8_t v) { return blur::UniformResults[v] != v; });

// The held lanes of the 32 from lanes, whose window sum 159 divides, set as the chain sets them:
// a window of 25 equal cells v by the chain's known result for v, any other by the chain itself,
// for the sixteen lanes of each half that holds one.
DORVANE_AVX512 __attribute__((noinline)) __m512i ExactLanes(const std::uint8_t* lanes,
                                                            __mmask32 held, __m512i results) {
    const __m512i centre = Cells(lanes, 2, 2);
    __mmask32 uniform = ~__mmask32{0};
    for (std::int64_t a = 0; a < 5; ++a) {
        for (std::int64_t b = 0; b < 5; ++b) {
            uniform &= _mm512_cmpeq_epi16_mask(Cells(lanes, a, b), centre);
        }
    }
    if ((held & ~uniform) == 0) {
        const __mmask32 decrements = LanesIn(UniformDecrements, centre);
        const __m512i value =
            _mm512_mask_sub_epi16(centre, decrements, centre, _mm512_set1_epi16(1));
        return _mm512_mask_mov_epi16(results, held, value);
    }
    const __m256i low = (held & 0xFFFF) != 0 ? ChainOfSixteen(lanes, 0) : _mm256_setzero_si256();
    const __m256i high = (held >> 16) != 0 ? ChainOfSixteen(lanes, 16) : _mm256_setzero_si256();
    const __m512i chain = _mm512_inserti64x4(_mm512_castsi256_si512(low), high, 1);
    return _mm512_mask_mov_epi16(results, held, chain);
}

// The step's vectors (wide_blur_step.hpp): two of 32 lanes, with a mask bit for each lane.
struct Wide {
    using Vector = __m512i;
    static constexpr std::size_t Size = 32;

    DORVANE_AVX512 static __m512i Splat(std::uint16_t value) {
        return _mm512_set1_epi16(static_cast<short>(value));
    }
    DORVANE_AVX512 static __m512i TapLoad(const std::uint8_t* lanes, std::int64_t a,
                                          std::int64_t b) {
        return Cells(lanes, a, b);
    }
    DORVANE_AVX512 static __m512i Add(__m512i a, __m512i b) { return _mm512_add_epi16(a, b); }
    DORVANE_AVX512 static __m512i Times(__m512i v, std::uint32_t factor) {
        return _mm512_mullo_epi16(v, Splat(static_cast<std::uint16_t>(factor)));
    }
    DORVANE_AVX512 static __m512i Quotients(__m512i sums) {
        return _mm512_srli_epi16(_mm512_mulhi_epu16(sums, Splat(blur::Reciprocal)),
                                 blur::QuotientShift - 16);
    }
    DORVANE_AVX512 static __mmask32 Equal(__m512i a, __m512i b) {
        return _mm512_cmpeq_epi16_mask(a, b);
    }
    DORVANE_AVX512 static __mmask32 Tested(__m512i v, std::uint16_t bits) {
        return _mm512_test_epi16_mask(v, Splat(bits));
    }
    DORVANE_AVX512 static __mmask32 And(__mmask32 a, __mmask32 b) { return a & b; }
    DORVANE_AVX512 static bool Any(__mmask32 mask) { return mask != 0; }
    DORVANE_AVX512 static __mmask32 Visit(std::uint64_t bits) {
        return static_cast<__mmask32>(bits);
    }
    DORVANE_AVX512 static __m512i Select(__mmask32 mask, __m512i whereSet, __m512i elsewhere) {
        return _mm512_mask_mov_epi16(elsewhere, mask, whereSet);
    }
    DORVANE_AVX512 static __m512i ExactLanes(const std::uint8_t* lanes, __mmask32 held,
                                             __m512i results) {
        return avx512::ExactLanes(lanes, held, results);
    }
    template <std::size_t N>
    DORVANE_AVX512 static void Store(const __m512i (&results)[N], std::uint8_t* out) {
        for (std::size_t j = 0; j < N; ++j) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + Size * j),
                                _mm512_cvtepi16_epi8(results[j]));
        }
    }
};

// --- Channels reversed: sixteen pixels a vector, four in each 128-bit quarter, where a byte
// shuffle reverses them; pixels of three bytes are moved between the quarters by 32-bit lanes.

// The shuffle of each quarter: byte c < 3 of pixel p < 4 out is byte 2 - c of pixel p in, every
// other byte zero (-1).
template <std::size_t InBytes, std::size_t OutBytes>
constexpr std::array<std::int8_t, 64> QuarterPicks() {
    std::array<std::int8_t, 64> pick{};
    for (std::size_t j = 0; j < pick.size(); ++j) {
        const std::size_t pixel = j % 16 / OutBytes;
        const std::size_t channel = j % 16 % OutBytes;
        pick[j] = pixel < 4 && channel < 3 ? static_cast<std::int8_t>(InBytes * pixel + 2 - channel)
                                           : std::int8_t{-1};
    }
    return pick;
}

// Sixteen pixels of InBytes bytes from the first byte of pixels, reversed into pixels of OutBytes
// bytes from the first byte of the result.
template <std::size_t InBytes, std::size_t OutBytes>
DORVANE_AVX512 inline __m512i ReverseSixteen(__m512i pixels, __m512i pick) {
    if constexpr (InBytes == 3) {
        const __m512i spread = _mm512_setr_epi32(0, 1, 2, 0, 3, 4, 5, 0, 6, 7, 8, 0, 9, 10, 11, 0);
        pixels = _mm512_permutexvar_epi32(spread, pixels);
    }
    pixels = _mm512_shuffle_epi8(pixels, pick);
    if constexpr (OutBytes == 3) {
        const __m512i gather =
            _mm512_setr_epi32(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 3, 7, 11, 15);
        pixels = _mm512_permutexvar_epi32(gather, pixels);
    }
    return pixels;
}

// The mask of the first bytes of 64.
inline __mmask64 FirstBytes(std::size_t bytes) {
    return bytes >= 64 ? ~__mmask64{0} : (__mmask64{1} << bytes) - 1;
}

// Whole vectors while 64 bytes from their first pixel lie within both rows, 22 pixels before the
// end; the rest through masks.
template <std::size_t InBytes, std::size_t OutBytes>
DORVANE_AVX512 void Reverse(const std::uint8_t* in, std::uint8_t* out, std::size_t count) {
    static constexpr std::array<std::int8_t, 64> Picks = QuarterPicks<InBytes, OutBytes>();
    const __m512i pick = _mm512_loadu_si512(Picks.data());
    std::size_t i = 0;
    for (; i + 22 <= count; i += 16) {
        _mm512_storeu_si512(out + OutBytes * i, ReverseSixteen<InBytes, OutBytes>(
                                                    _mm512_loadu_si512(in + InBytes * i), pick));
    }
    for (; i < count; i += 16) {
        const std::size_t pixels = std::min<std::size_t>(count - i, 16);
        const __m512i reversed = ReverseSixteen<InBytes, OutBytes>(
            _mm512_maskz_loadu_epi8(FirstBytes(InBytes * pixels), in + InBytes * i), pick);
        _mm512_mask_storeu_epi8(out + OutBytes * i, FirstBytes(OutBytes * pixels), reversed);
    }
}

// --- The edge map's classes (edge_classes.hpp): 32 cells a vector, in 16-bit lanes.

// The bytes of the lanes set in lanes, widened; the others 0 and not read.
DORVANE_AVX512 inline __m512i Grays(const std::uint8_t* bytes, __mmask32 lanes) {
    return _mm512_cvtepu8_epi16(_mm256_maskz_loadu_epi8(lanes, bytes));
}

// Weighted 1, 2, 1.
DORVANE_AVX512 inline __m512i OneTwoOne(__m512i first, __m512i middle, __m512i last) {
    return _mm512_add_epi16(_mm512_add_epi16(first, last), _mm512_add_epi16(middle, middle));
}

// The magnitude of each lane, clamped to GradientClamp.
DORVANE_AVX512 inline __m512i Clamped(__m512i gradients) {
    return _mm512_min_epi16(_mm512_abs_epi16(gradients),
                            _mm512_set1_epi16(static_cast<short>(GradientClamp)));
}

DORVANE_AVX512 inline __mmask32 AtLeast(__m512i sums, std::int16_t square) {
    return _mm512_cmpge_epi16_mask(sums, _mm512_set1_epi16(square));
}

// The classes of the cells of lanes down the centre column, as EdgeClassOf gives them.
DORVANE_AVX512 inline void LanesOfClasses(const std::uint8_t* left, const std::uint8_t* centre,
                                          const std::uint8_t* right, __mmask32 lanes,
                                          std::uint8_t* classes) {
    const __m512i leftAbove = Grays(left - 1, lanes);
    const __m512i leftBelow = Grays(left + 1, lanes);
    const __m512i rightAbove = Grays(right - 1, lanes);
    const __m512i rightBelow = Grays(right + 1, lanes);
    const __m512i gc = _mm512_sub_epi16(OneTwoOne(leftAbove, Grays(left, lanes), leftBelow),
                                        OneTwoOne(rightAbove, Grays(right, lanes), rightBelow));
    const __m512i gr = _mm512_sub_epi16(OneTwoOne(leftBelow, Grays(centre + 1, lanes), rightBelow),
                                        OneTwoOne(leftAbove, Grays(centre - 1, lanes), rightAbove));
    const __m512i c = Clamped(gc);
    const __m512i r = Clamped(gr);
    const __m512i s = _mm512_add_epi16(_mm512_mullo_epi16(c, c), _mm512_mullo_epi16(r, r));
    const auto far = static_cast<__mmask32>(AtLeast(s, SquareOf(HysteresisLow + 1)) &
                                            ~AtLeast(s, SquareOf(HysteresisHigh)));
    const __m256i bits = _mm256_or_si256(
        _mm256_or_si256(
            _mm256_maskz_set1_epi8(AtLeast(s, SquareOf(HysteresisHigh + 1)), StrongClass),
            _mm256_maskz_set1_epi8(AtLeast(s, SquareOf(HysteresisLow)), NearClass)),
        _mm256_maskz_set1_epi8(far, FarClass));
    _mm256_mask_storeu_epi8(classes, lanes, bits);
}

// Eight doubles a vector, for the scaling's row (wide_blur_step.hpp).
struct WideDoubles {
    using Vector = __m512d;
    static constexpr std::size_t Size = 8;

    DORVANE_AVX512 static __m512d Splat(double value) { return _mm512_set1_pd(value); }
    DORVANE_AVX512 static __m512d Load(const double* values) { return _mm512_loadu_pd(values); }
    DORVANE_AVX512 static __m512d Widen(const std::uint8_t* bytes) {
        return _mm512_cvtepi32_pd(
            _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(bytes))));
    }
    DORVANE_AVX512 static __m512d Add(__m512d a, __m512d b) { return _mm512_add_pd(a, b); }
    DORVANE_AVX512 static __m512d Sub(__m512d a, __m512d b) { return _mm512_sub_pd(a, b); }
    DORVANE_AVX512 static __m512d Mul(__m512d a, __m512d b) { return _mm512_mul_pd(a, b); }
    DORVANE_AVX512 static __m128i LowBytes(__m512d sums) {
        return _mm256_cvtepi32_epi8(_mm512_cvttpd_epi32(sums));
    }
};

} // namespace

void ScaleRow(const ScaleNeighbours& neighbours, const double* fx, double fy, std::size_t blue,
              std::size_t count, std::uint8_t* out) {
    VectorsThenPlain<WideScaleBytes<WideDoubles>, plain::ScaleRow, after::ScaleRow>(
        neighbours, fx, fy, blue, count, out);
}

DORVANE_AVX512 void BlurStep(std::uint64_t visited, std::uint8_t* row) {
    WideBlurStep<Wide>(visited, row);
}

void ReverseChannels(const std::uint8_t* in, std::size_t inBytes, std::size_t count,
                     std::size_t outBytes, std::uint8_t* out) {
    if (inBytes == 4) {
        Reverse<4, 3>(in, out, count);
    } else if (outBytes == 4) {
        Reverse<3, 4>(in, out, count);
    } else {
        Reverse<3, 3>(in, out, count);
    }
}

// The last cells by masks, without the plain loop.
DORVANE_AVX512 void EdgeClasses(const std::array<const std::uint8_t*, 3>& columns,
                                std::size_t count, std::uint8_t* classes) {
    std::size_t i = 0;
    for (; i + 32 <= count; i += 32) {
        LanesOfClasses(columns[0] + i, columns[1] + i, columns[2] + i, ~__mmask32{0}, classes + i);
    }
    if (i < count) {
        const auto lanes = static_cast<__mmask32>((std::uint32_t{1} << (count - i)) - 1);
        LanesOfClasses(columns[0] + i, columns[1] + i, columns[2] + i, lanes, classes + i);
    }
}

} // namespace dorvane::vectors::avx512

#endif
