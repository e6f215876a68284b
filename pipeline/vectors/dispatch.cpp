// The one probe of the processor, and the tables of kernels it fills.
#include "kernels.hpp"
#include "path_kernels.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <string>
#include <string_view>

namespace dorvane::vectors {
namespace {

constexpr Kernels Plain{.Name = "plain",
                        .BlurStep = plain::BlurStep,
                        .Luma = plain::Luma,
                        .EncodeGrays = plain::EncodeGrays,
                        .ReverseChannels = plain::ReverseChannels,
                        .StageSums = plain::StageSums,
                        .Transpose = plain::Transpose,
                        .ScaleRow = plain::ScaleRow,
                        .EdgeClasses = plain::EdgeClasses,
                        .EdgeMap = plain::EdgeMap};

#if defined(DORVANE_VECTOR128)
// The stage's sums and the edge map's last step are the plain loops, which the compiler vectorises
// for these vectors alike.
constexpr Kernels Vector128{.Name = Vector128Name,
                            .BlurStep = vector128::BlurStep,
                            .Luma = vector128::Luma,
                            .EncodeGrays = vector128::EncodeGrays,
                            .ReverseChannels = vector128::ReverseChannels,
                            .StageSums = plain::StageSums,
                            .Transpose = vector128::Transpose,
                            .ScaleRow = vector128::ScaleRow,
                            .EdgeClasses = vector128::EdgeClasses,
                            .EdgeMap = plain::EdgeMap};
#endif

#if defined(__x86_64__)
// Wider vectors than the 128-bit path's: the transposes gain nothing from them, as sixteen rows of
// sixteen bytes are what a block holds; AVX-512 adds the blur's step and the channel reversal, and
// the edge map's loops in its wider vectors.
constexpr Kernels Avx2{.Name = "avx2",
                       .BlurStep = avx2::BlurStep,
                       .Luma = avx2::Luma,
                       .EncodeGrays = avx2::EncodeGrays,
                       .ReverseChannels = avx2::ReverseChannels,
                       .StageSums = avx2::StageSums,
                       .Transpose = vector128::Transpose,
                       .ScaleRow = avx2::ScaleRow,
                       .EdgeClasses = avx2::EdgeClasses,
                       .EdgeMap = avx2::EdgeMap};
constexpr Kernels Avx512{.Name = "avx512",
                         .BlurStep = avx512::BlurStep,
                         .Luma = avx2::Luma,
                         .EncodeGrays = avx2::EncodeGrays,
                         .ReverseChannels = avx512::ReverseChannels,
                         .StageSums = avx2::StageSums,
                         .Transpose = vector128::Transpose,
                         .ScaleRow = avx512::ScaleRow,
                         .EdgeClasses = avx512::EdgeClasses,
                         .EdgeMap = avx512::EdgeMap};
#endif

constexpr std::size_t PathCount = 5;

// Which paths run here. __builtin_cpu_supports also asks whether the system saves the registers.
std::array<Path, PathCount> Probe() {
    std::array<Path, PathCount> paths{{
        {"plain", &Plain, ""},
        {"sse2", nullptr, "an x86-64 path"},
        {"neon", nullptr, "an AArch64 path"},
        {"avx2", nullptr, "an x86-64 path"},
        {"avx512", nullptr, "an x86-64 path"},
    }};
#if defined(__x86_64__)
    __builtin_cpu_init();
    const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    const bool avx512 = avx2 && __builtin_cpu_supports("avx512f") &&
                        __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl");
    paths[1] = {Vector128Name, &Vector128, ""};
    paths[3] = {"avx2", avx2 ? &Avx2 : nullptr, "this processor has no AVX2 and FMA"};
    paths[4] = {"avx512", avx512 ? &Avx512 : nullptr, "this processor has no AVX-512 BW and VL"};
#elif defined(DORVANE_VECTOR128)
    paths[2] = {Vector128Name, &Vector128, ""};
#endif
    return paths;
}

struct Choice {
    std::array<Path, PathCount> Paths;
    const Kernels* Chosen;
    std::string Report;
};

Choice Choose() {
    Choice choice{Probe(), nullptr, {}};
    for (const Path& path : choice.Paths) {
        if (path.Table != nullptr) {
            choice.Chosen = path.Table;
        }
    }
    choice.Report = choice.Chosen->Name;
    const char* asked = std::getenv("DORVANE_SIMD");
    if (asked == nullptr || *asked == '\0') {
        return choice;
    }
    const auto named = std::ranges::find_if(
        choice.Paths, [asked](const Path& path) { return std::string_view(path.Name) == asked; });
    if (named == choice.Paths.end()) {
        choice.Report += std::string(" (DORVANE_SIMD=") + asked + ": no such path)";
    } else if (named->Table == nullptr) {
        choice.Report += std::string(" (DORVANE_SIMD=") + asked + ": " + named->Absence + ")";
    } else {
        choice.Chosen = named->Table;
        choice.Report = choice.Chosen->Name;
    }
    return choice;
}

const Choice& Chosen() {
    static const Choice choice = Choose();
    return choice;
}

// Set by Use; null until then.
std::atomic<const Kernels*> Used{nullptr};

} // namespace

std::span<const Path> Paths() {
    return Chosen().Paths;
}

const Kernels& InUse() {
    const Kernels* used = Used.load(std::memory_order_acquire);
    return used != nullptr ? *used : *Chosen().Chosen;
}

void Use(const Kernels& kernels) {
    Used.store(&kernels, std::memory_order_release);
}

std::string Report() {
    return Chosen().Report;
}

} // namespace dorvane::vectors
