#include "pipeline_state.hpp"

#include <benchmark/benchmark.h>

#include <cstdint>

namespace {

using namespace dorvane;

// Allocating and releasing the three work planes of width x height (arguments 0 and 1).
void AllocateAndReleasePlanes(benchmark::State& state) {
    const auto width = static_cast<std::uint32_t>(state.range(0));
    const auto height = static_cast<std::uint32_t>(state.range(1));
    for (auto _ : state) {
        if (!AllocatePlanes(width, height)) {
            state.SkipWithError("out of memory");
            break;
        }
        benchmark::DoNotOptimize(ImagePlane);
        ReleasePlanes();
    }
}

BENCHMARK(AllocateAndReleasePlanes)
    ->Args({4000, 3000})
    ->Args({8000, 6000})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace
