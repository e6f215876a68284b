#include "gray_row_encoding.hpp"

#include "avx2_clones.hpp"

#ifdef DORVANE_X86_VECTORS
#include <immintrin.h>
#endif

namespace dorvane {
namespace {

#ifdef DORVANE_X86_VECTORS

// Sixteen grays a turn; returns how many pixels were encoded, the rest left to the plain encoder.
// Each output vector takes its bytes from the grays by a shuffle: at 24 bpp each gray three
// times, at 32 bpp three times and a zero (-1 selects zero).
__attribute__((target("ssse3"))) std::int32_t Shuffled(const std::uint8_t* gray, std::int32_t width,
                                                       std::int32_t depth, std::uint8_t* out) {
    std::int32_t x = 0;
    if (depth == 24) {
        const __m128i first = _mm_setr_epi8(0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5);
        const __m128i second = _mm_setr_epi8(5, 5, 6, 6, 6, 7, 7, 7, 8, 8, 8, 9, 9, 9, 10, 10);
        const __m128i third =
            _mm_setr_epi8(10, 11, 11, 11, 12, 12, 12, 13, 13, 13, 14, 14, 14, 15, 15, 15);
        for (; x + 16 <= width; x += 16, out += 48) {
            const __m128i grays = _mm_loadu_si128(reinterpret_cast<const __m128i*>(gray + x));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(grays, first));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_shuffle_epi8(grays, second));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32), _mm_shuffle_epi8(grays, third));
        }
        return x;
    }
    for (; x + 16 <= width; x += 16, out += 64) {
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

#endif

} // namespace

FastGrayRowEncoder::FastGrayRowEncoder(const BitmapImage& format)
    : Plain(format), Depth(format.GetBitDepth()), Shuffles(false) {
#ifdef DORVANE_X86_VECTORS
    Shuffles = (Depth == 24 || Depth == 32) && __builtin_cpu_supports("ssse3");
#endif
}

void FastGrayRowEncoder::operator()(const std::uint8_t* gray, std::int32_t width,
                                    std::uint8_t* out) const {
    std::int32_t done = 0;
#ifdef DORVANE_X86_VECTORS
    if (Shuffles) {
        done = Shuffled(gray, width, Depth, out);
    }
#endif
    if (done < width) {
        Plain(gray + done, width - done, out + static_cast<std::ptrdiff_t>(done) * (Depth / 8));
    }
}

} // namespace dorvane
