// The 128-bit path: SSE2 on x86-64, NEON on AArch64 and WebAssembly's SIMD from one source, in
// GCC's and Clang's vector extensions, which both compilers turn into any of these instruction
// sets. Two operations are written for each: the high half of a 16-bit product, which the
// extensions lack, and the byte shuffles that reverse pixels' channels, one NEON or WebAssembly
// instruction but none of SSE2's.
#include "blur_arithmetic.hpp"
#include "edge_classes.hpp"
#include "path_kernels.hpp"

#if defined(DORVANE_VECTOR128)

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#elif defined(__ARM_NEON)
#include <arm_neon.h>
#elif defined(__wasm_simd128__)
#include <wasm_simd128.h>
#endif

namespace dorvane::vectors::vector128 {
namespace {

using U8x16 = std::uint8_t __attribute__((vector_size(16)));
using U16x8 = std::uint16_t __attribute__((vector_size(16)));
using I16x8 = std::int16_t __attribute__((vector_size(16)));
using U32x4 = std::uint32_t __attribute__((vector_size(16)));
using U64x2 = std::uint64_t __attribute__((vector_size(16)));
using I64x2 = std::int64_t __attribute__((vector_size(16)));
using F64x2 = double __attribute__((vector_size(16)));

// The high 16 bits of each lane's product with factor.
U16x8 MulHigh(U16x8 lanes, std::uint16_t factor) {
#if defined(__SSE2__)
    return std::bit_cast<U16x8>(
        _mm_mulhi_epu16(std::bit_cast<__m128i>(lanes), _mm_set1_epi16(static_cast<short>(factor))));
#elif defined(__wasm_simd128__)
    const v128_t values = std::bit_cast<v128_t>(lanes);
    const v128_t factors = wasm_u16x8_splat(factor);
    // The high halves are below 2^16, so the saturating narrowing keeps them exactly.
    return std::bit_cast<U16x8>(
        wasm_u16x8_narrow_i32x4(wasm_u32x4_shr(wasm_u32x4_extmul_low_u16x8(values, factors), 16),
                                wasm_u32x4_shr(wasm_u32x4_extmul_high_u16x8(values, factors), 16)));
#else
    const uint16x8_t values = std::bit_cast<uint16x8_t>(lanes);
    const uint16x8_t factors = vdupq_n_u16(factor);
    return std::bit_cast<U16x8>(
        vcombine_u16(vshrn_n_u32(vmull_u16(vget_low_u16(values), vget_low_u16(factors)), 16),
                     vshrn_n_u32(vmull_high_u16(values, factors), 16)));
#endif
}

// The interleaving of the low or high halves of a and b, by bytes, 16-bit, 32-bit or 64-bit lanes,
// and the even bytes of both: moves that every 128-bit instruction set has.
U8x16 LowBytes(U8x16 a, U8x16 b) {
    return __builtin_shufflevector(a, b, 0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
}
U8x16 HighBytes(U8x16 a, U8x16 b) {
    return __builtin_shufflevector(a, b, 8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15,
                                   31);
}
U16x8 LowWords(U16x8 a, U16x8 b) {
    return __builtin_shufflevector(a, b, 0, 8, 1, 9, 2, 10, 3, 11);
}
U16x8 HighWords(U16x8 a, U16x8 b) {
    return __builtin_shufflevector(a, b, 4, 12, 5, 13, 6, 14, 7, 15);
}
U32x4 LowPairs(U32x4 a, U32x4 b) {
    return __builtin_shufflevector(a, b, 0, 4, 1, 5);
}
U32x4 HighPairs(U32x4 a, U32x4 b) {
    return __builtin_shufflevector(a, b, 2, 6, 3, 7);
}
U64x2 LowHalves(U64x2 a, U64x2 b) {
    return __builtin_shufflevector(a, b, 0, 2);
}
U64x2 HighHalves(U64x2 a, U64x2 b) {
    return __builtin_shufflevector(a, b, 1, 3);
}
U8x16 EvenBytes(U16x8 a, U16x8 b) {
    return __builtin_shufflevector(std::bit_cast<U8x16>(a), std::bit_cast<U8x16>(b), 0, 2, 4, 6, 8,
                                   10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
}

template <class Vector> Vector Load(const std::uint8_t* bytes) {
    Vector vector;
    std::memcpy(&vector, bytes, sizeof vector);
    return vector;
}
template <class Vector> void Store(std::uint8_t* bytes, Vector vector) {
    std::memcpy(bytes, &vector, sizeof vector);
}

// Bit i set where byte i of mask is set.
std::uint32_t LaneBits(U8x16 mask) {
#if defined(__SSE2__)
    return static_cast<std::uint32_t>(_mm_movemask_epi8(std::bit_cast<__m128i>(mask)));
#elif defined(__wasm_simd128__)
    return wasm_i8x16_bitmask(std::bit_cast<v128_t>(mask));
#else
    const U8x16 bits = mask & U8x16{1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
    const uint8x16_t lanes = std::bit_cast<uint8x16_t>(bits);
    return vaddv_u8(vget_low_u8(lanes)) | static_cast<std::uint32_t>(vaddv_u8(vget_high_u8(lanes)))
                                              << 8;
#endif
}

// Whether any lane of mask is set.
template <class Mask> bool Any(Mask mask) {
#if defined(__wasm_simd128__)
    // One instruction, where two extracted halves are several in V8.
    return wasm_v128_any_true(std::bit_cast<v128_t>(mask));
#else
    const U64x2 halves = std::bit_cast<U64x2>(mask);
    return (halves[0] | halves[1]) != 0;
#endif
}

template <class Vector> Vector Select(Vector mask, Vector whereSet, Vector elsewhere) {
    return (mask & whereSet) | (~mask & elsewhere);
}

// --- The blur's step: eight vectors of eight lanes, two of them from each sixteen bytes read.

// Sixteen lanes as two vectors.
struct Sixteen {
    U16x8 Low;
    U16x8 High;

    friend Sixteen operator+(const Sixteen& a, const Sixteen& b) {
        return {a.Low + b.Low, a.High + b.High};
    }
    friend Sixteen operator*(const Sixteen& a, std::uint32_t factor) {
        const auto f = static_cast<std::uint16_t>(factor);
        return {a.Low * f, a.High * f};
    }
};

// The cells of sixteen lanes at a tap.
Sixteen TapCells(const std::uint8_t* cells) {
    const U8x16 bytes = Load<U8x16>(cells);
    return {std::bit_cast<U16x8>(LowBytes(bytes, U8x16{})),
            std::bit_cast<U16x8>(HighBytes(bytes, U8x16{}))};
}

// The taps that share a weight, by the kernel's symmetry, and their weight.
struct TapGroup {
    std::array<std::int64_t, 4> Taps;
    std::uint32_t Weight;
};
constexpr std::array<TapGroup, 6> TapGroups{{
    {{Tap(0, 0), Tap(0, 4), Tap(4, 0), Tap(4, 4)}, blur::Weight(0, 0)},
    {{Tap(0, 1), Tap(0, 3), Tap(1, 0), Tap(1, 4)}, blur::Weight(0, 1)},
    {{Tap(3, 0), Tap(3, 4), Tap(4, 1), Tap(4, 3)}, blur::Weight(0, 1)},
    {{Tap(0, 2), Tap(2, 0), Tap(2, 4), Tap(4, 2)}, blur::Weight(0, 2)},
    {{Tap(1, 1), Tap(1, 3), Tap(3, 1), Tap(3, 3)}, blur::Weight(1, 1)},
    {{Tap(1, 2), Tap(2, 1), Tap(2, 3), Tap(3, 2)}, blur::Weight(1, 2)},
}};

// The window sums of sixteen lanes, gathering the taps by weight; and their centres.
[[gnu::always_inline]] inline Sixteen WindowSums(const std::uint8_t* lanes, Sixteen& centre) {
    centre = TapCells(lanes + Tap(2, 2));
    Sixteen sum = centre * blur::Weight(2, 2);
    // Group by group into the sum, so that few vectors are live at once. V8 loads all the taps of
    // a loop's body first, and keeps what its sixteen registers do not hold on the stack: for
    // WebAssembly the groups stay a loop.
#if defined(__wasm_simd128__)
#pragma clang loop unroll(disable)
#else
#pragma GCC unroll 6
#endif
    for (const TapGroup& group : TapGroups) {
        const auto cells = [lanes, &group](std::size_t i) {
            return TapCells(lanes + group.Taps[i]);
        };
        sum = sum + (cells(0) + cells(1) + cells(2) + cells(3)) * group.Weight;
    }
    return sum;
}

// The quotients of eight lanes' window sums by 159, where bit i of visited (from bit first) is set,
// else their centres; held: the lanes whose cell the chain decides.
template <bool AllVisit>
U16x8 Quotients(std::size_t first, U16x8 sum, U16x8 centre, std::uint64_t visited, I16x8& held) {
    const U16x8 quotient = MulHigh(sum, blur::Reciprocal) >> (blur::QuotientShift - 16);
    // ChainDecides: (quotient + 1) & 0xFE is 0 only for 0 and 255.
    held = (sum == quotient * static_cast<std::uint16_t>(blur::KernelSum)) &
           (((quotient + 1) & 0xFE) != 0);
    if constexpr (AllVisit) {
        return quotient;
    }
    const U16x8 laneBits{1, 2, 4, 8, 16, 32, 64, 128};
    const auto bits = static_cast<std::uint16_t>((visited >> first) & 0xFF);
    const I16x8 visit = ((U16x8{} + bits) & laneBits) == laneBits;
    held &= visit;
    return Select(std::bit_cast<U16x8>(visit), quotient, centre);
}

// The held lanes of the sixteen from lane first of row's step set as the chain sets them: a window
// of 25 equal cells v by the chain's known result for v, as flat areas have many, any other by the
// chain itself. The lanes go by their bits, so that the uniform windows are found once (Clang for
// WebAssembly otherwise finds them again for each held lane).
[[gnu::noinline]] U8x16 ExactLanes(const std::uint8_t* row, std::size_t first, U8x16 held,
                                   U8x16 cells) {
    const std::uint8_t* lanes = row + first;
    const U8x16 centre = Load<U8x16>(lanes + Tap(2, 2));
    U8x16 uniform = ~U8x16{};
    for (std::int64_t a = 0; a < 5; ++a) {
        for (std::int64_t b = 0; b < 5; ++b) {
            uniform &= std::bit_cast<U8x16>(Load<U8x16>(lanes + Tap(a, b)) == centre);
        }
    }
    const std::uint32_t uniformBits = LaneBits(uniform);
    std::array<std::uint8_t, 16> results{};
    Store(results.data(), cells);
    for (std::uint32_t bits = LaneBits(held); bits != 0; bits &= bits - 1) {
        const auto i = static_cast<std::size_t>(std::countr_zero(bits));
        results[i] = ((uniformBits >> i) & 1U) != 0
                         ? blur::UniformResults[lanes[Tap(2, 2) + static_cast<std::int64_t>(i)]]
                         : plain::ChainCell(row, static_cast<std::int64_t>(first + i));
    }
    return Load<U8x16>(results.data());
}

template <bool AllVisit> void Step(std::uint8_t* row, std::uint64_t visited) {
    U8x16 results[Lanes / 16];
    for (std::size_t j = 0; j < Lanes / 16; ++j) {
        Sixteen centre;
        const Sixteen sum = WindowSums(row + 16 * j, centre);
        I16x8 lowHeld;
        I16x8 highHeld;
        results[j] =
            EvenBytes(Quotients<AllVisit>(16 * j, sum.Low, centre.Low, visited, lowHeld),
                      Quotients<AllVisit>(16 * j + 8, sum.High, centre.High, visited, highHeld));
        if (Any(lowHeld | highHeld)) {
            results[j] =
                ExactLanes(row, 16 * j,
                           EvenBytes(std::bit_cast<U16x8>(lowHeld), std::bit_cast<U16x8>(highHeld)),
                           results[j]);
        }
    }
    for (std::size_t j = 0; j < Lanes / 16; ++j) {
        Store(row + 2 + 16 * j, results[j]);
    }
}

// --- The luma: eight pixels to a vector, in the whole numbers of path_kernels.hpp.

// Pixels p, p + 4, p + 8 and p + 12 of sixteen, as four bytes each (blue, green, red and one that
// does not count). Three-byte pixels are read as four, the last one a byte beyond.
template <std::size_t PixelBytes> U32x4 FourPixels(const std::uint8_t* pixels, std::size_t p) {
    const auto pixel = [pixels](std::size_t i) {
        return Load<std::uint32_t>(pixels + PixelBytes * i);
    };
    return U32x4{pixel(p), pixel(p + 4), pixel(p + 8), pixel(p + 12)};
}

// The channel at shift (0 blue, 8 green, 16 red) of two vectors of pixels, as 16-bit lanes: lane
// 2k from first's pixel k, lane 2k + 1 from second's.
U16x8 Channel(U32x4 first, U32x4 second, int shift) {
    return std::bit_cast<U16x8>(((first >> shift) & 0xFF) | ((second >> shift) & 0xFF) << 16);
}

// The luma of eight pixels by their channels; decided: where the double sum decides it instead.
// N = 8 W + R, W and R the sums of the channels by the weights' eighths and remainders: N / 8 is
// W + R / 8, and N, which differs from 1000 (N / 1000) by less than 1000, is W x 8 + R below 2^16.
U16x8 LumaOfEight(U16x8 blue, U16x8 green, U16x8 red, I16x8& decided) {
    const auto eighth = [](std::uint32_t weight) { return static_cast<std::uint16_t>(weight / 8); };
    const auto remainder = [](std::uint32_t weight) {
        return static_cast<std::uint16_t>(weight % 8);
    };
    const U16x8 whole =
        green * eighth(GreenWeight) + red * eighth(RedWeight) + blue * eighth(BlueWeight);
    const U16x8 rest =
        green * remainder(GreenWeight) + red * remainder(RedWeight) + blue * remainder(BlueWeight);
    const U16x8 quotient = MulHigh(whole + (rest >> 3), Reciprocal125) >> Shift125;
    const U16x8 weighted = (whole << 3) + rest;
    // SumDecides: (quotient + 1) & 0xFE is 0 only for 0 and 255.
    decided = (weighted == quotient * std::uint16_t{1000}) & (((quotient + 1) & 0xFE) != 0);
    return quotient;
}

// The bytes of the lanes of even and odd, of eight pixels each: the sixteen pixels in order.
U8x16 InOrder(U16x8 even, U16x8 odd) {
    return std::bit_cast<U8x16>((even & 0xFF) | odd << 8);
}

// The luma of sixteen pixels into the sixteen bytes at gray. Where the double sum decides it, a
// gray's (N / 1000 is the gray) comes from a table, any other's from the plain path.
template <std::size_t PixelBytes> void LumaSixteen(const std::uint8_t* pixels, std::uint8_t* gray) {
    U32x4 quarters[4];
    for (std::size_t p = 0; p < 4; ++p) {
        quarters[p] = FourPixels<PixelBytes>(pixels, p);
    }
    // The even pixels, and the odd ones.
    U16x8 channels[2][3];
    U16x8 lumas[2];
    I16x8 decided[2];
    for (std::size_t half = 0; half < 2; ++half) {
        for (std::size_t c = 0; c < 3; ++c) {
            channels[half][c] =
                Channel(quarters[half], quarters[half + 2], 8 * static_cast<int>(c));
        }
        lumas[half] =
            LumaOfEight(channels[half][0], channels[half][1], channels[half][2], decided[half]);
    }
    Store(gray, InOrder(lumas[0], lumas[1]));
    if (!Any(decided[0] | decided[1])) {
        return;
    }
    const auto grays = [&channels](std::size_t half) {
        const U16x8* c = channels[half];
        return std::bit_cast<U16x8>((c[0] == c[1]) & (c[1] == c[2]));
    };
    const U8x16 held = InOrder(std::bit_cast<U16x8>(decided[0]), std::bit_cast<U16x8>(decided[1]));
    const U8x16 gray16 = InOrder(grays(0), grays(1));
    const std::array<std::uint8_t, 256>& grayLumas = GrayLumas();
    const U8x16 first = U8x16{} + gray[0];
    if (!Any(~(gray16 & std::bit_cast<U8x16>(Load<U8x16>(gray) == first)))) {
        // Sixteen pixels of one gray, as flat areas are full of.
        Store(gray, U8x16{} + grayLumas[gray[0]]);
        return;
    }
    for (std::size_t i = 0; i < 16; ++i) {
        if (held[i] != 0) {
            const std::uint8_t* pixel = pixels + PixelBytes * i;
            gray[i] =
                gray16[i] != 0 ? grayLumas[gray[i]] : plain::LumaOf(pixel[0], pixel[1], pixel[2]);
        }
    }
}

template <std::size_t PixelBytes>
std::size_t LumaOfPixels(const std::uint8_t* pixels, std::uint8_t* gray, std::size_t count) {
    constexpr std::size_t Beyond = PixelBytes == 4 ? 0 : 1;
    std::size_t i = 0;
    for (; i + 16 + Beyond <= count; i += 16) {
        LumaSixteen<PixelBytes>(pixels + PixelBytes * i, gray + i);
    }
    return i;
}

// --- Gray rows as file rows: sixteen grays a turn, each copied into a 32-bit lane.

// Grays 4q .. 4q + 3 of sixteen, each four times in a 32-bit lane.
U32x4 FourGrays(U8x16 grays, std::size_t q) {
    const U16x8 pairs =
        std::bit_cast<U16x8>(q < 2 ? LowBytes(grays, grays) : HighBytes(grays, grays));
    return std::bit_cast<U32x4>(q % 2 == 0 ? LowWords(pairs, pairs) : HighWords(pairs, pairs));
}

std::size_t EncodeFourBytes(const std::uint8_t* gray, std::size_t count, std::uint8_t* out) {
    std::size_t i = 0;
    for (; i + 16 <= count; i += 16, out += 64) {
        const U8x16 grays = Load<U8x16>(gray + i);
        for (std::size_t q = 0; q < 4; ++q) {
            Store(out + 16 * q, FourGrays(grays, q) & 0xFFFFFF);
        }
    }
    return i;
}

// Two pixels of three bytes in each 64-bit half, stored eight bytes at a time, each store's last
// two bytes overwritten by the next: so at least a pixel is left to the plain encoder.
std::size_t EncodeThreeBytes(const std::uint8_t* gray, std::size_t count, std::uint8_t* out) {
    std::size_t i = 0;
    for (; i + 16 < count; i += 16, out += 48) {
        const U8x16 grays = Load<U8x16>(gray + i);
        for (std::size_t q = 0; q < 4; ++q) {
            const U64x2 pairs = std::bit_cast<U64x2>(FourGrays(grays, q));
            const U64x2 packed = (pairs & 0xFFFFFF) | ((pairs >> 8) & 0xFFFFFF000000);
            Store(out + 12 * q, packed[0]);
            Store(out + 12 * q + 6, packed[1]);
        }
    }
    return i;
}

// --- Channels reversed: four or five pixels a vector, each vector's sixteen bytes read and written
// whole, the useful ones first.

#if defined(__SSE2__)
// SSE2 has no byte shuffle: bytes move by shifts, of the whole vector or within its lanes, and
// masks pick them.

// Five pixels of three bytes: each pixel's first and third bytes trade places, two apart.
U8x16 ReverseFive(const std::uint8_t* pixels) {
    const U8x16 bytes = Load<U8x16>(pixels);
    const U8x16 zero{};
    const U8x16 down = __builtin_shufflevector(bytes, zero, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13,
                                               14, 15, 16, 17);
    const U8x16 up =
        __builtin_shufflevector(bytes, zero, 16, 17, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13);
    const U8x16 firsts{0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0};
    const U8x16 seconds{0, 0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0};
    const U8x16 thirds{0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0};
    return (down & firsts) | (bytes & seconds) | (up & thirds);
}

// Bytes 0 and 2 of each 32-bit lane swapped, byte 3 cleared.
U32x4 SwapEnds(U32x4 pixels) {
    return ((pixels >> 16) & 0xFF) | (pixels & 0xFF00) | ((pixels & 0xFF) << 16);
}

// Four pixels of three bytes as four of four: pixels 0 and 1 from the first eight bytes, 2 and 3
// from the eight after six, each pair spread over a 64-bit half.
U8x16 SpreadFour(const std::uint8_t* pixels) {
    const U64x2 pairs{Load<std::uint64_t>(pixels), Load<std::uint64_t>(pixels + 6)};
    return std::bit_cast<U8x16>(
        SwapEnds(std::bit_cast<U32x4>((pairs & 0xFFFFFF) | ((pairs << 8) & 0xFFFFFF00000000))));
}

// Four pixels of four bytes as twelve: each 64-bit half packs its two pixels into six bytes, and
// the high half's six move down next to the low half's.
U8x16 PackFour(const std::uint8_t* pixels) {
    const U64x2 pairs = std::bit_cast<U64x2>(SwapEnds(Load<U32x4>(pixels)));
    const U8x16 halves = std::bit_cast<U8x16>((pairs & 0xFFFFFF) | ((pairs >> 8) & 0xFFFFFF000000));
    const U8x16 high = __builtin_shufflevector(halves, U8x16{}, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12,
                                               13, 14, 15, 16, 17);
    return (halves & U8x16{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}) |
           (high & U8x16{0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
}
#else
// NEON's table lookup and WebAssembly's shuffle take any shuffle of a vector's bytes in one
// instruction.

U8x16 ReverseFive(const std::uint8_t* pixels) {
    const U8x16 bytes = Load<U8x16>(pixels);
    return __builtin_shufflevector(bytes, bytes, 2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12,
                                   15);
}

U8x16 SpreadFour(const std::uint8_t* pixels) {
    return __builtin_shufflevector(Load<U8x16>(pixels), U8x16{}, 2, 1, 0, 16, 5, 4, 3, 16, 8, 7, 6,
                                   16, 11, 10, 9, 16);
}

U8x16 PackFour(const std::uint8_t* pixels) {
    const U8x16 bytes = Load<U8x16>(pixels);
    return __builtin_shufflevector(bytes, bytes, 2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, 3, 7, 11,
                                   15);
}
#endif

// Whole vectors while the sixteen bytes from a vector's first pixel lie within both rows, as they
// do up to six pixels before the end; returns how many pixels were done.
std::size_t ReverseVectors(const std::uint8_t* in, std::size_t inBytes, std::size_t count,
                           std::size_t outBytes, std::uint8_t* out) {
    std::size_t i = 0;
    if (inBytes == 4) {
        for (; i + 6 <= count; i += 4) {
            Store(out + 3 * i, PackFour(in + 4 * i));
        }
    } else if (outBytes == 4) {
        for (; i + 6 <= count; i += 4) {
            Store(out + 4 * i, SpreadFour(in + 3 * i));
        }
    } else {
        for (; i + 6 <= count; i += 5) {
            Store(out + 3 * i, ReverseFive(in + 3 * i));
        }
    }
    return i;
}

// Gathered bytes k and k + 1 of a scaled row, both blue or neither, each into its place in out.
void ScaleTwo(const ScaleNeighbours& neighbours, const double* fx, F64x2 fy, std::size_t blue,
              std::size_t k, std::uint8_t* out) {
    const auto two = [k](const std::uint8_t* bytes) {
        return F64x2{static_cast<double>(bytes[k]), static_cast<double>(bytes[k + 1])};
    };
    const F64x2 x = Load<F64x2>(reinterpret_cast<const std::uint8_t*>(fx + k));
    const F64x2 w11 = x * fy;
    const F64x2 w00 = ((F64x2{1.0, 1.0} - x) - fy) + w11;
    const F64x2 w01 = fy - w11;
    const F64x2 w10 = x - w11;
    const F64x2 t10 = two(neighbours.Upper1) * w10;
    const F64x2 t01 = two(neighbours.Lower0) * w01;
    const F64x2 t11 = two(neighbours.Lower1) * w11;
    const F64x2 t00 = two(neighbours.Upper0) * w00;
    F64x2 sums = ((t10 + t01) + t11) + t00;
    if (GatheredAt(k, blue).Blue) {
        sums = ((t11 + t00) + t10) + t01;
    }
    // Truncated toward zero, then the low byte of each.
    const I64x2 truncated = __builtin_convertvector(sums, I64x2);
    for (std::size_t lane = 0; lane < 2; ++lane) {
        const GatheredByte at = GatheredAt(k + lane, blue);
        out[3 * at.Pixel + at.Channel] = static_cast<std::uint8_t>(truncated[lane]);
    }
}

// --- The edge map's classes (edge_classes.hpp): sixteen cells, as two vectors of eight signed
// lanes.

struct SignedSixteen {
    I16x8 Low;
    I16x8 High;

    friend SignedSixteen operator+(const SignedSixteen& a, const SignedSixteen& b) {
        return {a.Low + b.Low, a.High + b.High};
    }
    friend SignedSixteen operator-(const SignedSixteen& a, const SignedSixteen& b) {
        return {a.Low - b.Low, a.High - b.High};
    }
};

SignedSixteen Widened(const std::uint8_t* cells) {
    const U8x16 bytes = Load<U8x16>(cells);
    return {std::bit_cast<I16x8>(LowBytes(bytes, U8x16{})),
            std::bit_cast<I16x8>(HighBytes(bytes, U8x16{}))};
}

// Weighted 1, 2, 1.
SignedSixteen OneTwoOne(const SignedSixteen& first, const SignedSixteen& middle,
                        const SignedSixteen& last) {
    return first + last + middle + middle;
}

// EdgeClassOf of each lane.
U16x8 ClassesOf(I16x8 gc, I16x8 gr) {
    const I16x8 clamp = I16x8{} + static_cast<std::int16_t>(GradientClamp);
    const auto clamped = [clamp](I16x8 g) {
        const I16x8 magnitude = Select(g < 0, -g, g);
        return Select(magnitude < clamp, magnitude, clamp);
    };
    const I16x8 c = clamped(gc);
    const I16x8 r = clamped(gr);
    const I16x8 s = c * c + r * r;
    const auto atLeast = [s](std::int16_t square) {
        return s > static_cast<std::int16_t>(square - 1);
    };
    const I16x8 far = atLeast(SquareOf(HysteresisLow + 1)) & ~atLeast(SquareOf(HysteresisHigh));
    return std::bit_cast<U16x8>((atLeast(SquareOf(HysteresisHigh + 1)) & StrongClass) |
                                (atLeast(SquareOf(HysteresisLow)) & NearClass) | (far & FarClass));
}

// The classes of sixteen cells down the centre column.
void SixteenClasses(const std::uint8_t* left, const std::uint8_t* centre, const std::uint8_t* right,
                    std::uint8_t* classes) {
    const SignedSixteen leftAbove = Widened(left - 1);
    const SignedSixteen leftBelow = Widened(left + 1);
    const SignedSixteen rightAbove = Widened(right - 1);
    const SignedSixteen rightBelow = Widened(right + 1);
    const SignedSixteen gc = OneTwoOne(leftAbove, Widened(left), leftBelow) -
                             OneTwoOne(rightAbove, Widened(right), rightBelow);
    const SignedSixteen gr = OneTwoOne(leftBelow, Widened(centre + 1), rightBelow) -
                             OneTwoOne(leftAbove, Widened(centre - 1), rightAbove);
    Store(classes, EvenBytes(ClassesOf(gc.Low, gr.Low), ClassesOf(gc.High, gr.High)));
}

std::size_t ScaleBytes(const ScaleNeighbours& neighbours, const double* fx, double fy,
                       std::size_t blue, std::size_t count, std::uint8_t* out) {
    const F64x2 y{fy, fy};
    std::size_t k = 0;
    for (; k + 12 <= count; k += 12) {
        for (std::size_t pair = 0; pair < 12; pair += 2) {
            ScaleTwo(neighbours, fx, y, blue, k + pair, out);
        }
    }
    return k;
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

std::size_t ClassesBody(const std::array<const std::uint8_t*, 3>& columns, std::size_t count,
                        std::uint8_t* classes) {
    std::size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        SixteenClasses(columns[0] + i, columns[1] + i, columns[2] + i, classes + i);
    }
    return i;
}

} // namespace

void BlurStep(std::uint64_t visited, std::uint8_t* row) {
    if (visited == ~std::uint64_t{0}) {
        Step<true>(row, visited);
    } else {
        Step<false>(row, visited);
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
    VectorsThenPlain<ReverseVectors, plain::ReverseChannels, after::ReverseChannels>(
        in, inBytes, count, outBytes, out);
}

void EdgeClasses(const std::array<const std::uint8_t*, 3>& columns, std::size_t count,
                 std::uint8_t* classes) {
    VectorsThenPlain<ClassesBody, plain::EdgeClasses, after::EdgeClasses>(columns, count, classes);
}

// Four rounds of interleaving: bytes, then pairs, fours and eights.
void Transpose(const std::uint8_t* in, std::ptrdiff_t inStride, std::ptrdiff_t outStride,
               std::uint8_t* out) {
    U8x16 rows[16];
    for (std::ptrdiff_t i = 0; i < 16; ++i) {
        rows[i] = Load<U8x16>(in + i * inStride);
    }
    U16x8 pairs[16];
    // Unrolled: for WebAssembly Clang leaves this loop rolled, its vectors kept in memory.
#pragma GCC unroll 8
    for (std::size_t k = 0; k < 8; ++k) {
        pairs[2 * k] = std::bit_cast<U16x8>(LowBytes(rows[2 * k], rows[2 * k + 1]));
        pairs[2 * k + 1] = std::bit_cast<U16x8>(HighBytes(rows[2 * k], rows[2 * k + 1]));
    }
    U32x4 fours[16];
    for (std::size_t m = 0; m < 4; ++m) {
        const U16x8* p = pairs + 4 * m;
        fours[4 * m] = std::bit_cast<U32x4>(LowWords(p[0], p[2]));
        fours[4 * m + 1] = std::bit_cast<U32x4>(HighWords(p[0], p[2]));
        fours[4 * m + 2] = std::bit_cast<U32x4>(LowWords(p[1], p[3]));
        fours[4 * m + 3] = std::bit_cast<U32x4>(HighWords(p[1], p[3]));
    }
    U64x2 eights[16];
    for (std::size_t p = 0; p < 2; ++p) {
        for (std::size_t q = 0; q < 4; ++q) {
            const U32x4 a = fours[8 * p + q];
            const U32x4 b = fours[8 * p + 4 + q];
            eights[8 * p + 2 * q] = std::bit_cast<U64x2>(LowPairs(a, b));
            eights[8 * p + 2 * q + 1] = std::bit_cast<U64x2>(HighPairs(a, b));
        }
    }
    for (std::size_t c = 0; c < 8; ++c) {
        const auto row = static_cast<std::ptrdiff_t>(2 * c);
        Store(out + row * outStride, LowHalves(eights[c], eights[8 + c]));
        Store(out + (row + 1) * outStride, HighHalves(eights[c], eights[8 + c]));
    }
}

void ScaleRow(const ScaleNeighbours& neighbours, const double* fx, double fy, std::size_t blue,
              std::size_t count, std::uint8_t* out) {
    VectorsThenPlain<ScaleBytes, plain::ScaleRow, after::ScaleRow>(neighbours, fx, fy, blue, count,
                                                                   out);
}

} // namespace dorvane::vectors::vector128

#endif
