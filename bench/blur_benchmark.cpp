#include "byte_blur.hpp"
#include "gaussian_blur.hpp"
#include "kernels.hpp"
#include "literal_blur.hpp"
#include "photo_like_plane.hpp"
#include "pipeline_state.hpp"

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

using namespace dorvane;

// Runs a blur on a photo-like plane of width x height (arguments 0 and 1), restoring the plane
// outside the timed part of every iteration. Reports the time per pixel.
template <typename Blur> void RunBlur(benchmark::State& state, Blur blur) {
    const auto width = static_cast<std::uint32_t>(state.range(0));
    const auto height = static_cast<std::uint32_t>(state.range(1));
    const auto values = bench::PhotoLikePlane(width, height);
    if (!bench::LoadImagePlane(values, width, height)) {
        state.SkipWithError("out of memory");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        bench::CopyIntoImagePlane(values);
        state.ResumeTiming();
        blur();
        benchmark::DoNotOptimize(ImagePlane[width / 2][height / 2]);
    }
    ReleasePlanes();
    state.counters["per_pixel"] = benchmark::Counter(static_cast<double>(width) * height,
                                                     benchmark::Counter::kIsIterationInvariantRate |
                                                         benchmark::Counter::kInvert);
}

void LiteralBlur(benchmark::State& state) {
    RunBlur(state, testing::LiteralGaussianBlur);
}

// Argument 2 is the number of threads.
void FastBlur(benchmark::State& state) {
    const auto threads = static_cast<std::uint32_t>(state.range(2));
    RunBlur(state, [threads] { GaussianBlurStage(threads); });
}

// The byte blur of the job on the same picture, column-major; argument 2 is the path's place
// among vectors::Paths() (0 plain, 1 sse2, 2 neon, 3 avx2, 4 avx512), argument 3 the number of
// threads.
void ByteBlur(benchmark::State& state) {
    const auto width = static_cast<std::uint32_t>(state.range(0));
    const auto height = static_cast<std::uint32_t>(state.range(1));
    const vectors::Path& path = vectors::Paths()[static_cast<std::size_t>(state.range(2))];
    if (path.Table == nullptr) {
        state.SkipWithError(path.Absence);
        return;
    }
    const vectors::Kernels& before = vectors::InUse();
    vectors::Use(*path.Table);
    const auto threads = static_cast<std::uint32_t>(state.range(3));
    const auto values = bench::PhotoLikePlane(width, height);
    std::vector<std::uint8_t> picture(std::size_t{width} * height);
    const GrayColumns tiles{picture.data(), width, height};
    for (std::uint32_t x = 0; x < width; ++x) {
        for (std::uint32_t y = 0; y < height; ++y) {
            tiles.Column(x)[y] = static_cast<std::uint8_t>(values[std::size_t{x} * height + y]);
        }
    }
    std::vector<std::uint8_t> pixels(picture.size());
    for (auto _ : state) {
        state.PauseTiming();
        pixels = picture;
        state.ResumeTiming();
        BlurGrayColumns({pixels.data(), width, height}, threads);
        benchmark::DoNotOptimize(pixels.data());
    }
    vectors::Use(before);
    state.counters["per_pixel"] = benchmark::Counter(static_cast<double>(width) * height,
                                                     benchmark::Counter::kIsIterationInvariantRate |
                                                         benchmark::Counter::kInvert);
}

// The channel reversal of one 4000-pixel row, which stays in cache: argument 0 and 1 are the bytes
// of a pixel in and out, argument 2 the path's place as ByteBlur's.
void ReverseChannels(benchmark::State& state) {
    const auto inBytes = static_cast<std::size_t>(state.range(0));
    const auto outBytes = static_cast<std::size_t>(state.range(1));
    const vectors::Path& path = vectors::Paths()[static_cast<std::size_t>(state.range(2))];
    if (path.Table == nullptr) {
        state.SkipWithError(path.Absence);
        return;
    }
    constexpr std::size_t Width = 4000;
    std::vector<std::uint8_t> in(inBytes * Width);
    for (std::size_t i = 0; i < in.size(); ++i) {
        in[i] = static_cast<std::uint8_t>(i * 7);
    }
    std::vector<std::uint8_t> out(outBytes * Width);
    for (auto _ : state) {
        path.Table->ReverseChannels(in.data(), inBytes, Width, outBytes, out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
}

BENCHMARK(ByteBlur)
    ->ArgsProduct({{4000}, {3000}, {0, 1, 2, 3, 4}, {1}})
    ->ArgsProduct({{4000}, {3000}, {3, 4}, {2}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(LiteralBlur)->Args({4000, 3000})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(FastBlur)
    ->ArgsProduct({{2000}, {1500}, {1, 2}}) // 3 megapixels
    ->ArgsProduct({{4000}, {3000}, {1, 2}}) // 12
    ->ArgsProduct({{8000}, {6000}, {1, 2}}) // 48
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(ReverseChannels) // (4, 4) is no pair it takes
    ->ArgsProduct({{3}, {3, 4}, {0, 1, 2, 3, 4}})
    ->ArgsProduct({{4}, {3}, {0, 1, 2, 3, 4}});

} // namespace
