// The one probe of the processor, and the tables of kernels it fills.
#include "kernels.hpp"
#include "path_kernels.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace dorvane::vectors {
namespace {

// The kernel tables, their names given by the list of paths below.
constexpr Kernels PlainKernels{.Name = nullptr,
                               .BlurStep = plain::BlurStep,
                               .Luma = plain::Luma,
                               .EncodeGrays = plain::EncodeGrays,
                               .ReverseChannels = plain::ReverseChannels,
                               .StageSums = plain::StageSums,
                               .Transpose = plain::Transpose,
                               .ScaleRow = plain::ScaleRow,
                               .GatherColumns = plain::GatherColumns,
                               .EdgeClasses = plain::EdgeClasses,
                               .EdgeMap = plain::EdgeMap};

#if defined(DORVANE_VECTOR128)
// The stage's sums and the edge map's last step are the plain loops, which the compiler vectorises
// for these vectors alike; the scaling's gather is the plain one, as SSE2 has no byte shuffle.
constexpr std::optional<Kernels> Vector128Kernels =
    Kernels{.Name = nullptr,
            .BlurStep = vector128::BlurStep,
            .Luma = vector128::Luma,
            .EncodeGrays = vector128::EncodeGrays,
            .ReverseChannels = vector128::ReverseChannels,
            .StageSums = plain::StageSums,
            .Transpose = vector128::Transpose,
            .ScaleRow = vector128::ScaleRow,
            .GatherColumns = plain::GatherColumns,
            .EdgeClasses = vector128::EdgeClasses,
            .EdgeMap = plain::EdgeMap};
#else
constexpr std::optional<Kernels> Vector128Kernels;
#endif

#if defined(__x86_64__)
// Wider vectors than the 128-bit path's: a block's transpose, AVX2's on both paths, takes two of
// its rows a vector. AVX-512 adds the blur's step, the channel reversal and the edge map's
// classes; its map is AVX2's, as the loop runs out of loads, not of lanes.
constexpr std::optional<Kernels> Avx2Kernels = Kernels{.Name = nullptr,
                                                       .BlurStep = avx2::BlurStep,
                                                       .Luma = avx2::Luma,
                                                       .EncodeGrays = avx2::EncodeGrays,
                                                       .ReverseChannels = avx2::ReverseChannels,
                                                       .StageSums = avx2::StageSums,
                                                       .Transpose = avx2::Transpose,
                                                       .ScaleRow = avx2::ScaleRow,
                                                       .GatherColumns = avx2::GatherColumns,
                                                       .EdgeClasses = avx2::EdgeClasses,
                                                       .EdgeMap = avx2::EdgeMap};
constexpr std::optional<Kernels> Avx512Kernels = Kernels{.Name = nullptr,
                                                         .BlurStep = avx512::BlurStep,
                                                         .Luma = avx2::Luma,
                                                         .EncodeGrays = avx2::EncodeGrays,
                                                         .ReverseChannels = avx512::ReverseChannels,
                                                         .StageSums = avx2::StageSums,
                                                         .Transpose = avx2::Transpose,
                                                         .ScaleRow = avx512::ScaleRow,
                                                         .GatherColumns = avx2::GatherColumns,
                                                         .EdgeClasses = avx512::EdgeClasses,
                                                         .EdgeMap = avx2::EdgeMap};
constexpr bool X86 = true;
#else
constexpr std::optional<Kernels> Avx2Kernels;
constexpr std::optional<Kernels> Avx512Kernels;
constexpr bool X86 = false;
#endif
#if defined(__wasm__)
constexpr bool Wasm = true;
#else
constexpr bool Wasm = false;
#endif

// The processor features that a path may need beyond its architecture's, as bits.
namespace feature {
constexpr std::uint32_t Avx2 = 1U << 0U;
constexpr std::uint32_t Fma = 1U << 1U;
constexpr std::uint32_t Avx512F = 1U << 2U;
constexpr std::uint32_t Avx512Bw = 1U << 3U;
constexpr std::uint32_t Avx512Vl = 1U << 4U;
} // namespace feature

// A path as this library knows it on every machine: its kernels where this build has code for it,
// else the machines it is for; and the features it needs, else why it does not run.
struct Declaration {
    const char* Name;
    std::optional<Kernels> Table;
    const char* Elsewhere;
    std::uint32_t Needs;
    const char* Lacking;
};

// Every path, plain first and the fastest of each machine after the slower ones.
constexpr std::array<Declaration, 6> Declared{{
    {"plain", PlainKernels, "", 0, ""},
    {"sse2", X86 ? Vector128Kernels : std::nullopt, "an x86-64 path", 0, ""},
    {"neon", X86 || Wasm ? std::nullopt : Vector128Kernels, "an AArch64 path", 0, ""},
    {"avx2", Avx2Kernels, "an x86-64 path", feature::Avx2 | feature::Fma,
     "this processor has no AVX2 and FMA"},
    {"avx512", Avx512Kernels, "an x86-64 path",
     feature::Avx2 | feature::Fma | feature::Avx512F | feature::Avx512Bw | feature::Avx512Vl,
     "this processor has no AVX-512 BW and VL"},
    {"simd128", Wasm ? Vector128Kernels : std::nullopt, "a WebAssembly path", 0, ""},
}};

// The features of this processor. __builtin_cpu_supports also asks whether the system saves the
// registers.
std::uint32_t ProcessorFeatures() {
    std::uint32_t features = 0;
#if defined(__x86_64__)
    __builtin_cpu_init();
    const std::array<std::pair<std::uint32_t, bool>, 5> probed{{
        {feature::Avx2, __builtin_cpu_supports("avx2") != 0},
        {feature::Fma, __builtin_cpu_supports("fma") != 0},
        {feature::Avx512F, __builtin_cpu_supports("avx512f") != 0},
        {feature::Avx512Bw, __builtin_cpu_supports("avx512bw") != 0},
        {feature::Avx512Vl, __builtin_cpu_supports("avx512vl") != 0},
    }};
    for (const auto& [bit, present] : probed) {
        features |= present ? bit : 0U;
    }
#endif
    return features;
}

// Which paths run here, the fastest of them chosen unless DORVANE_SIMD names another. Built in
// place, as its paths point into its own tables.
struct Choice {
    Choice();
    Choice(const Choice&) = delete;
    Choice& operator=(const Choice&) = delete;

    // The declared kernels under their names.
    std::array<Kernels, Declared.size()> Tables{};
    std::array<Path, Declared.size()> Paths{};
    const Kernels* Chosen = nullptr;
    std::string Report;
};

Choice::Choice() {
    const std::uint32_t features = ProcessorFeatures();
    for (std::size_t i = 0; i < Declared.size(); ++i) {
        const Declaration& path = Declared[i];
        Tables[i] = path.Table.value_or(Kernels{});
        Tables[i].Name = path.Name;
        if (!path.Table) {
            Paths[i] = {path.Name, nullptr, path.Elsewhere};
        } else if ((features & path.Needs) != path.Needs) {
            Paths[i] = {path.Name, nullptr, path.Lacking};
        } else {
            Paths[i] = {path.Name, &Tables[i], ""};
            Chosen = &Tables[i];
        }
    }
    Report = Chosen->Name;
    const char* asked = std::getenv("DORVANE_SIMD");
    if (asked == nullptr || *asked == '\0') {
        return;
    }
    const auto named = std::ranges::find_if(
        Paths, [asked](const Path& path) { return std::string_view(path.Name) == asked; });
    if (named == Paths.end()) {
        Report += std::string(" (DORVANE_SIMD=") + asked + ": no such path)";
    } else if (named->Table == nullptr) {
        Report += std::string(" (DORVANE_SIMD=") + asked + ": " + named->Absence + ")";
    } else {
        Chosen = named->Table;
        Report = Chosen->Name;
    }
}

const Choice& Chosen() {
    static const Choice choice;
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
