// The stages around the blur on a photo-like 4000 x 3000 picture: reading a file into an image
// or into the gray planes, the luma, writing an image or the gray plane, at every bit depth.
#include "bitmap_image.hpp"
#include "gray_planes.hpp"
#include "photo_like_plane.hpp"
#include "pipeline_state.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

using namespace dorvane;

constexpr std::int32_t Width = 4000;
constexpr std::int32_t Height = 3000;

std::string TemporaryFile(const std::string& name) {
    return (std::filesystem::temp_directory_path() /
            ("dorvane-bench-" + std::to_string(::getpid()) + "-" + name))
        .string();
}

// The photo-like plane in colour: each channel a different function of the gray value.
bool MakePhoto(BitmapImage& image, std::int32_t depth) {
    if (!image.ChangeBitDepth(depth) || !image.SetDimensions(Width, Height)) {
        return false;
    }
    const auto values = bench::PhotoLikePlane(Width, Height);
    for (std::int32_t x = 0; x < Width; ++x) {
        const auto column = image.Column(x);
        for (std::int32_t y = 0; y < Height; ++y) {
            const std::int32_t gray =
                values[static_cast<std::size_t>(x) * Height + static_cast<std::size_t>(y)];
            column[static_cast<std::size_t>(y)] =
                PixelRgba{static_cast<std::uint8_t>(255 - gray),
                          static_cast<std::uint8_t>(std::min(gray + 20, 255)),
                          static_cast<std::uint8_t>(gray), 0};
        }
    }
    return true;
}

void PerPixel(benchmark::State& state) {
    state.counters["per_pixel"] =
        benchmark::Counter(double{Width} * Height, benchmark::Counter::kIsIterationInvariantRate |
                                                       benchmark::Counter::kInvert);
}

// A photo file at the depth of argument 0, made once per benchmark and removed afterwards.
class PhotoFile {
  public:
    explicit PhotoFile(std::int32_t depth) : Path(TemporaryFile(std::to_string(depth) + ".bmp")) {
        BitmapImage image;
        Made = MakePhoto(image, depth) && image.SaveBmp(Path.c_str());
    }
    PhotoFile(const PhotoFile&) = delete;
    PhotoFile& operator=(const PhotoFile&) = delete;
    ~PhotoFile() { std::filesystem::remove(Path); }

    std::string Path;
    bool Made = false;
};

// The codec alone: the file into a whole image.
void LoadBmp(benchmark::State& state) {
    const PhotoFile file(static_cast<std::int32_t>(state.range(0)));
    for (auto _ : state) {
        BitmapImage image;
        if (!file.Made || !image.LoadBmp(file.Path.c_str())) {
            state.SkipWithError("cannot make or read the file");
            break;
        }
        benchmark::DoNotOptimize(image.Column(0).data());
    }
    PerPixel(state);
}

// The load stage: the file into the planes, with the luma of every pixel.
void LoadGrayPlanesStage(benchmark::State& state) {
    const PhotoFile file(static_cast<std::int32_t>(state.range(0)));
    for (auto _ : state) {
        if (!file.Made || LoadGrayPlanes(file.Path.c_str()) != 0) {
            state.SkipWithError("cannot make or read the file");
            break;
        }
        benchmark::DoNotOptimize(ImagePlane[0][0]);
        ReleasePlanes();
    }
    PerPixel(state);
}

// The luma as defined, pixel by pixel, over an image already in memory.
void LumaOfImage(benchmark::State& state) {
    BitmapImage image;
    if (!MakePhoto(image, 24)) {
        state.SkipWithError("out of memory");
        return;
    }
    for (auto _ : state) {
        std::int64_t sum = 0;
        for (std::int32_t x = 0; x < Width; ++x) {
            for (const PixelRgba& pixel : image.Column(x)) {
                sum += Luma(pixel.Red, pixel.Green, pixel.Blue);
            }
        }
        benchmark::DoNotOptimize(sum);
    }
    PerPixel(state);
}

// The codec alone: a whole image into a file.
void SaveBmp(benchmark::State& state) {
    BitmapImage image;
    const std::string path = TemporaryFile("saved.bmp");
    if (!MakePhoto(image, static_cast<std::int32_t>(state.range(0)))) {
        state.SkipWithError("out of memory");
        return;
    }
    for (auto _ : state) {
        if (!image.SaveBmp(path.c_str())) {
            state.SkipWithError("cannot write");
            break;
        }
    }
    std::filesystem::remove(path);
    PerPixel(state);
}

// The store stage: the gray plane into a file at the depth of argument 0.
void StoreGrayImageStage(benchmark::State& state) {
    const auto values = bench::PhotoLikePlane(Width, Height);
    const std::string path = TemporaryFile("stored.bmp");
    if (!bench::LoadImagePlane(values, Width, Height) || path.size() >= OutputPathSize) {
        state.SkipWithError("out of memory");
        return;
    }
    std::strcpy(OutputPath, path.c_str());
    SourceBitDepth = static_cast<std::int8_t>(state.range(0));
    for (auto _ : state) {
        if (!StoreGrayImage()) {
            state.SkipWithError("cannot write");
            break;
        }
    }
    ReleasePlanes();
    std::filesystem::remove(path);
    PerPixel(state);
}

void EveryDepth(benchmark::internal::Benchmark* benchmark) {
    for (const int depth : {1, 4, 8, 16, 24, 32}) {
        benchmark->Arg(depth);
    }
    benchmark->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(LoadBmp)->Apply(EveryDepth);
BENCHMARK(LoadGrayPlanesStage)->Apply(EveryDepth);
BENCHMARK(LumaOfImage)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(SaveBmp)->Apply(EveryDepth);
BENCHMARK(StoreGrayImageStage)->Apply(EveryDepth);

} // namespace
