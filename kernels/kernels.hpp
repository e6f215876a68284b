#pragma once

// The processor-specific work of the blur job, as one table of kernels per path: plain (every
// processor, the reference the tests hold the others to), a 128-bit path (SSE2 on x86-64, NEON
// on AArch64), AVX2 and AVX-512. dispatch.cpp probes the processor once and fills the tables; the
// job takes the one in use.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace dorvane::vectors {

// The byte blur's ring (byte_blur.cpp): a strip of Lanes columns runs as a wavefront, lane k
// Skew rows behind lane k - 1. Element i of a ring row is lane i - 2, the lanes with two lanes of
// halo on either side padded to whole blocks of BlockRows; rows lie RowBytes apart.
inline constexpr std::int64_t Lanes = 64;
inline constexpr std::int64_t Skew = 3;
inline constexpr std::int64_t BlockRows = 16;
inline constexpr std::int64_t RowBytes = Lanes + 2 * BlockRows;

// Where a step's window column a, row b lies in the ring, from lane 0's element of the step's own
// row: Skew rows further up a lane to the left.
constexpr std::int64_t Tap(std::int64_t a, std::int64_t b) {
    return ((b - 2) + Skew * (a - 2)) * RowBytes + a;
}

// Where byte k of a scaled row's gathered neighbours belongs: the row's pixel and channel, and
// whether that is blue. Four pixels to a group of twelve bytes: the two channels other than blue
// of each in turn, then the four blues, so that a vector's lanes are all summed in one order.
struct GatheredByte {
    std::size_t Pixel;
    std::size_t Channel;
    bool Blue;
};

constexpr GatheredByte GatheredAt(std::size_t k, std::size_t blue) {
    const std::size_t first = 4 * (k / 12);
    const std::size_t b = k % 12;
    if (b >= 8) {
        return {first + b - 8, blue, true};
    }
    const std::size_t other = b % 2 == 0 ? (blue == 0 ? 1 : 0) : (blue == 2 ? 1 : 2);
    return {first + b / 2, other, false};
}

// Where channel c of pixel i lies among the gathered bytes: GatheredAt's inverse.
constexpr std::size_t GatheredIndex(std::size_t i, std::size_t c, std::size_t blue) {
    const std::size_t group = 12 * (i / 4);
    if (c == blue) {
        return group + 8 + i % 4;
    }
    return group + 2 * (i % 4) + (c == (blue == 0 ? 1 : 0) ? 0 : 1);
}

// The bytes of a scaled row's neighbours, gathered as GatheredAt lays them out: the upper source
// row's pixels at x0 and at x1 (x0 + 1, or x0 on the last column), and the lower row's.
struct ScaleNeighbours {
    const std::uint8_t* Upper0;
    const std::uint8_t* Upper1;
    const std::uint8_t* Lower0;
    const std::uint8_t* Lower1;
};

// Every kernel takes its inputs and how they lie first, then the count, then how its output lies,
// the output last.
struct Kernels {
    const char* Name;
    // One step of the wavefront: lane k of row, where bit k of visited is set, becomes its
    // window's Gaussian as ConvolveAt gives it (row[k + 2]); the other lanes keep their cells.
    void (*BlurStep)(std::uint64_t visited, std::uint8_t* row);
    // The luma (Luma in gray_planes.hpp) of count pixels of pixelBytes bytes each, 3 or 4: blue,
    // green, red and, of four, one that does not count; into count bytes at gray.
    void (*Luma)(const std::uint8_t* pixels, std::size_t pixelBytes, std::size_t count,
                 std::uint8_t* gray);
    // count grays as pixels of pixelBytes bytes, 3 or 4, as the codec's GrayRowEncoder writes
    // them; nothing after the count pixels is touched.
    void (*EncodeGrays)(const std::uint8_t* gray, std::size_t count, std::size_t pixelBytes,
                        std::uint8_t* out);
    // count pixels of inBytes bytes each into pixels of outBytes bytes, their first three bytes in
    // reverse order (blue, green, red becomes red, green, blue and back); a fourth byte out is 0, a
    // fourth byte in is dropped. inBytes and outBytes are 3 or 4, not both 4.
    void (*ReverseChannels)(const std::uint8_t* in, std::size_t inBytes, std::size_t count,
                            std::size_t outBytes, std::uint8_t* out);
    // GaussianBlurStage's sums of count cells (at most 128) down column x: sums[i] is, for the
    // cell at row i, its window's sum less the taps on the two cells above it, times
    // blur::Reciprocal; columns[a] is column x - 2 + a from two rows above the first cell. False
    // when a cell read lies outside 0..255, the sums then being of no use.
    bool (*StageSums)(const std::array<const std::int32_t*, 5>& columns, std::size_t count,
                      std::uint32_t* sums);
    // Sixteen runs of sixteen bytes become sixteen columns: byte j of the run at out + i outStride
    // becomes byte i of the run at in + j inStride.
    void (*Transpose)(const std::uint8_t* in, std::ptrdiff_t inStride, std::ptrdiff_t outStride,
                      std::uint8_t* out);
    // Bytes 0 .. count - 1 of a row that ScaleImage fills, blue in each pixel's byte blue: for
    // each gathered byte k of its pixels, the bilinear sum of bytes k of the neighbours, with
    // fractions fx[k] and fy, in blue's order or the others', truncated. count is a multiple of
    // 3; the neighbours and fx hold whole groups.
    void (*ScaleRow)(const ScaleNeighbours& neighbours, const double* fx, double fy,
                     std::size_t blue, std::size_t count, std::uint8_t* out);
    // A scaled row's neighbours from a source row, four new pixels a group: bytes starts[g] +
    // picks[16 g + b] of row, b < 12, become bytes 12 g + b of at0, and those step bytes further
    // on of at1. Each pick plus step is under 32, and row holds 32 bytes from each start. ahead,
    // unless null, is a row as long that a later call gathers, which a path may fetch meanwhile.
    void (*GatherColumns)(const std::uint8_t* row, const std::uint8_t* ahead,
                          const std::uint32_t* starts, const std::uint8_t* picks, std::size_t step,
                          std::size_t groups, std::uint8_t* at0, std::uint8_t* at1);
    // The classes (edge_classes.hpp) of count cells down column x of a blurred byte picture:
    // columns[a] is column x - 1 + a from the first cell's row, and the rows just above and below
    // the cells are read too.
    void (*EdgeClasses)(const std::array<const std::uint8_t*, 3>& columns, std::size_t count,
                        std::uint8_t* classes);
    // The edge map, EdgeCell or BackgroundCell, of count cells down column x from the classes of
    // columns x - 2 .. x + 2: classes[a] is column x - 2 + a from the first cell's row, and two
    // rows above and below the cells are read too.
    void (*EdgeMap)(const std::array<const std::uint8_t*, 5>& classes, std::size_t count,
                    std::uint8_t* map);
};

// A path by name, with its kernels where this processor runs it, or why it does not.
struct Path {
    const char* Name;
    const Kernels* Table; // null where the path does not run here
    const char* Absence;  // why, where it does not
};

// Every path, plain first and the fastest last.
std::span<const Path> Paths();

// The kernels the jobs use: those of the path that the environment variable DORVANE_SIMD names
// where this processor runs it, or else the fastest it runs.
const Kernels& InUse();

// The kernels of jobs that start from now on; the tests and the blur fuzzer walk the paths with
// it. Not while a job runs.
void Use(const Kernels& kernels);

// The path in use by default, and, when DORVANE_SIMD asks for another, what it asked and why
// that does not run: "avx2", "avx2 (DORVANE_SIMD=neon: an AArch64 path)".
std::string Report();

} // namespace dorvane::vectors
