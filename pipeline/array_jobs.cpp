#include "array_jobs.hpp"

#include "byte_blur.hpp"
#include "edge_map.hpp"
#include "kernels.hpp"
#include "large_block.hpp"
#include "work_sharing.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>

namespace dorvane {
namespace {

// Pixels move between rows and columns in tiles of this many rows and columns, whose rows read
// and columns written both stay in the cache.
constexpr std::uint32_t TileSide = 64;

// Bytes out[c * outStride + r] = in[r * inStride + c] for rows r and columns c: rows become
// columns. A block of sixteen by sixteen goes at once, by the transposes of the vector path in
// use; the rest byte by byte.
constexpr std::uint32_t BlockSide = 16;

void TransposeBlock(const std::uint8_t* in, std::size_t inStride, std::uint8_t* out,
                    std::size_t outStride) {
    vectors::InUse().Transpose(in, static_cast<std::ptrdiff_t>(inStride),
                               static_cast<std::ptrdiff_t>(outStride), out);
}

void Transpose(const std::uint8_t* in, std::size_t inStride, std::uint8_t* out,
               std::size_t outStride, std::uint32_t rows, std::uint32_t columns,
               std::uint32_t threads) {
    const std::uint32_t wholeRows = rows / BlockSide * BlockSide;
    const std::uint32_t wholeColumns = columns / BlockSide * BlockSide;
    // Each thread takes a run of rows of its own, whole tiles of them, so that no two threads
    // write into one cache line of the columns.
    ShareWork(threads, [&](std::uint32_t t, std::uint32_t n) {
        const std::uint32_t tiles = (wholeRows + TileSide - 1) / TileSide;
        const std::uint32_t end = std::min(wholeRows, (t + 1) * tiles / n * TileSide);
        for (std::uint32_t r = t * tiles / n * TileSide; r < end; r += BlockSide) {
            for (std::uint32_t c = 0; c < wholeColumns; c += BlockSide) {
                TransposeBlock(in + r * inStride + c, inStride, out + c * outStride + r, outStride);
            }
        }
    });
    const auto single = [&](std::uint32_t r0, std::uint32_t r1, std::uint32_t c0) {
        for (std::uint32_t r = r0; r < r1; ++r) {
            for (std::uint32_t c = c0; c < columns; ++c) {
                out[c * outStride + r] = in[r * inStride + c];
            }
        }
    };
    single(0, wholeRows, wholeColumns); // the columns right of the blocks
    single(wholeRows, rows, 0);         // the rows below them
}

// The rows of source into the columns of a new picture, and pass from them into the rows of
// picture.
bool InColumns(const std::uint8_t* source, const GrayArray& picture, std::uint32_t threads,
               FileFailure& failure,
               bool (*pass)(const GrayColumns&, const GrayArray&, std::uint32_t)) {
    failure = {};
    const LargeBlock columns = AllocateLargeBlock(std::size_t{picture.Width} * picture.Height);
    if (!columns) {
        failure = MemoryFailure(FailedFile::None, picture.Width, picture.Height);
        return false;
    }
    const GrayColumns passed{columns.get(), picture.Width, picture.Height};
    const std::uint32_t used =
        ResolveThreads(threads, Share::PictureBytes, std::uint64_t{picture.Width} * picture.Height);
    Transpose(source, picture.Width, columns.get(), picture.Height, picture.Height, picture.Width,
              used);
    if (!pass(passed, picture, used)) {
        failure = MemoryFailure(FailedFile::None, picture.Width, picture.Height);
        return false;
    }
    return true;
}

void LumaOfPixels(const std::uint8_t* pixels, ChannelOrder order, std::size_t count,
                  std::uint8_t* gray, std::uint32_t threads) {
    const vectors::Kernels& kernels = vectors::InUse();
    // The luma kernel takes pixels in a file's order, blue first: red first, a run at a time is
    // turned around in the cache on its way.
    constexpr std::size_t Run = 4096;
    const std::size_t runs = (count + Run - 1) / Run;
    ShareWork(ResolveThreads(threads, Share::PictureBytes, 3 * count),
              [&](std::uint32_t t, std::uint32_t n) {
                  std::array<std::uint8_t, 3 * Run> bgr;
                  for (std::size_t i = t; i < runs; i += n) {
                      const std::size_t first = i * Run;
                      const std::size_t run = std::min(Run, count - first);
                      if (order == ChannelOrder::Bgr) {
                          kernels.Luma(pixels + 3 * first, 3, run, gray + first);
                      } else {
                          kernels.ReverseChannels(pixels + 3 * first, 3, run, 3, bgr.data());
                          kernels.Luma(bgr.data(), 3, run, gray + first);
                      }
                  }
              });
}

} // namespace

void LumaOfRgb(const std::uint8_t* rgb, std::size_t count, std::uint8_t* gray,
               std::uint32_t threads) {
    LumaOfPixels(rgb, ChannelOrder::Rgb, count, gray, threads);
}

void LumaOfBgr(const std::uint8_t* bgr, std::size_t count, std::uint8_t* gray,
               std::uint32_t threads) {
    LumaOfPixels(bgr, ChannelOrder::Bgr, count, gray, threads);
}

bool BlurGrayArray(const std::uint8_t* source, const GrayArray& picture, std::uint32_t threads,
                   FileFailure& failure) {
    return InColumns(source, picture, threads, failure,
                     [](const GrayColumns& columns, const GrayArray& rows, std::uint32_t used) {
                         BlurGrayColumns(columns, used);
                         Transpose(columns.Pixels, rows.Height, rows.Pixels, rows.Width, rows.Width,
                                   rows.Height, used);
                         return true;
                     });
}

bool DetectEdgesInGrayArray(const std::uint8_t* source, const GrayArray& picture,
                            std::uint32_t threads, FileFailure& failure) {
    return InColumns(source, picture, threads, failure,
                     [](const GrayColumns& columns, const GrayArray& rows, std::uint32_t used) {
                         // Once a thread was found without a processor of its own, the map stays
                         // on one.
                         return EdgeMapIntoRows(columns, rows.Pixels,
                                                BlurGrayColumns(columns, used) ? used : 1);
                     });
}

} // namespace dorvane
