#include "gaussian_blur.hpp"

#include "blur_arithmetic.hpp"
#include "kernels.hpp"
#include "pipeline_state.hpp"
#include "platform.hpp"
#include "stage_sums.hpp"
#include "threads.hpp"
#include "work_sharing.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <exception>
#include <optional>

namespace dorvane {

namespace {

// The fast path's quotients are exact for cells 0..255 (blur_arithmetic.hpp); blocks that read
// any other value are computed with ConvolveAt throughout.

using blur::LowBits;
using blur::MaxCell;
using blur::QuotientShift;
using blur::Reciprocal;
using blur::Weight;

// Rows that a column advances by at a time: the unit of work, and of the progress that the
// thread smoothing the next column waits for.
constexpr std::uint32_t BlockRows = vectors::StageBlockRows;
using BlockSums = std::array<std::uint32_t, BlockRows>;

// Rows Y0 .. Y0 + Count - 1 of column X.
struct Block {
    std::uint32_t X;
    std::uint32_t Y0;
    std::uint32_t Count;

    std::uint32_t End() const { return Y0 + Count; }
};

// Block k of column x; the visited rows are 2 .. PlaneHeight - 3.
Block BlockOf(std::uint32_t x, std::uint32_t k) {
    const std::uint32_t y0 = 2 + k * BlockRows;
    return {x, y0, std::min(BlockRows, PlaneHeight - 2 - y0)};
}

// ConvolveAt's chain, for cells whose window holds only 0 .. 255.
std::int32_t GaussianChain(std::uint32_t x, std::uint32_t y) {
    return blur::Chain([x, y](std::size_t a, std::size_t b) {
        return ImagePlane[x - 2 + static_cast<std::uint32_t>(a)][y - 2 + b];
    });
}

std::int32_t Convolve(std::uint32_t x, std::uint32_t y) {
    return static_cast<std::int32_t>(ConvolveAt(GaussianKernel, 5, GaussianScale,
                                                static_cast<std::int32_t>(x),
                                                static_cast<std::int32_t>(y)));
}

// The block's window sums less the taps on the two cells above the centre, which are smoothed
// only as the column is walked, scaled by Reciprocal, by the kernels' StageSums. False when a cell
// of the windows lies outside 0..255.
bool SumsWithoutCellsAbove(const Block& block, const vectors::Kernels& kernels, BlockSums& sums) {
    std::array<const std::int32_t*, 5> columns;
    for (std::uint32_t a = 0; a < 5; ++a) {
        columns[a] = ImagePlane[block.X - 2 + a] + (block.Y0 - 2);
    }
    return kernels.StageSums(columns, block.Count, sums.data());
}

// Walks down a block whose sums are ready, completing each with the two cells above it, just
// smoothed. Their weights come scaled by Reciprocal, as the sums do, so that one multiply and
// one add lie between a cell and the next.
struct ColumnWalk {
    std::uint32_t X;
    std::uint32_t Y;
    std::uint32_t End;
    std::int32_t* Column;
    const std::uint32_t* Sums;
    std::uint32_t Above2;
    std::uint32_t Above1;

    ColumnWalk(const Block& block, const BlockSums& sums)
        : X(block.X), Y(block.Y0), End(block.End()), Column(ImagePlane[block.X]), Sums(sums.data()),
          Above2(static_cast<std::uint32_t>(Column[Y - 2])),
          Above1(static_cast<std::uint32_t>(Column[Y - 1])) {}

    void Step() {
        const std::uint32_t known = *Sums++ + Above2 * (Weight(2, 0) * Reciprocal);
        const std::uint32_t scaled = known + Above1 * (Weight(2, 1) * Reciprocal);
        std::uint32_t value = scaled >> QuotientShift;
        // Whole quotients of 0 and 255 come from uniform windows, which the chain keeps.
        if ((scaled & LowBits) < Reciprocal && value - 1 < MaxCell - 1) {
            value = static_cast<std::uint32_t>(GaussianChain(X, Y));
        }
        Column[Y++] = static_cast<std::int32_t>(value);
        Above2 = Above1;
        Above1 = value;
    }

    void Finish() {
        while (Y < End) {
            Step();
        }
    }
};

void SmoothBlock(const Block& block, bool inRange, const BlockSums& sums) {
    if (inRange) {
        ColumnWalk(block, sums).Finish();
        return;
    }
    for (std::uint32_t y = block.Y0; y < block.End(); ++y) {
        ImagePlane[block.X][y] = Convolve(block.X, y);
    }
}

// Smooths two blocks that read none of each other's cells, walking both columns at once so that
// their chains of dependent cells overlap. Either may be absent.
void SmoothBlocks(const std::optional<Block>& first, const std::optional<Block>& second,
                  const vectors::Kernels& kernels) {
    BlockSums firstSums;
    BlockSums secondSums;
    const bool firstInRange = first && SumsWithoutCellsAbove(*first, kernels, firstSums);
    const bool secondInRange = second && SumsWithoutCellsAbove(*second, kernels, secondSums);
    if (firstInRange && secondInRange) {
        ColumnWalk a(*first, firstSums);
        ColumnWalk b(*second, secondSums);
        for (std::uint32_t i = std::min(first->Count, second->Count); i > 0; --i) {
            a.Step();
            b.Step();
        }
        a.Finish();
        b.Finish();
        return;
    }
    if (first) {
        SmoothBlock(*first, firstInRange, firstSums);
    }
    if (second) {
        SmoothBlock(*second, secondInRange, secondSums);
    }
}

// A thread takes runs of this many adjacent columns, walked two at a time: the thread that smooths
// the next run reads only the last two columns of this one from the other processor's cache.
// Longer runs walk more columns at once, far apart in memory, and the processor loses track.
constexpr std::uint32_t RunColumns = 4;
// But a thread that waited a quarter of its last run for the run to its left is on the faster
// processor (the other is shared with someone else, say): it takes runs two columns wider, up to
// this many, so that it does more of the work; when it no longer waits, narrower again.
constexpr std::uint32_t MaxRunColumns = 8;

// Within a run each column trails the one to its left by this many blocks, so that its windows
// find that column final down to two rows below them, even when the two are walked together.
constexpr std::uint32_t Trail = 2;

// The next run to take: its number in the high half, its first column in the low half, so that
// a thread takes a run of any width with one addition.
using RunClaims = std::atomic<std::uint64_t>;

using Clock = Wavefront::Clock;

// Smooths columns first .. first + columns - 1, run run of the wavefront, where a run's position
// is that of its last column: column x final down to row y (exclusive) is x * PlaneHeight + y.
// The first column waits, block by block, until the last column of the run to its left is final
// two rows below the block, the lowest row its windows read there; the columns before that are
// then final further down still. Columns to the right are not yet written, since the runs there
// wait for this one in the same way. Returns the time spent waiting.
Clock::duration SmoothRun(std::uint32_t first, std::uint32_t columns, std::uint32_t run,
                          Wavefront& wavefront, const vectors::Kernels& kernels) {
    const std::uint64_t height = PlaneHeight;
    const std::uint32_t blocks = (PlaneHeight - 4 + BlockRows - 1) / BlockRows;
    // A column of one block is final as a whole before the next column starts.
    const std::uint32_t trail = std::min(Trail, blocks);
    // The step at which the run's last column starts.
    const std::uint32_t lastStart = trail * (columns - 1);
    // Block of column first + i at this step, if it has one.
    const auto blockAt = [&](std::uint32_t i, std::uint32_t step) -> std::optional<Block> {
        if (i >= columns || step < trail * i || step - trail * i >= blocks) {
            return std::nullopt;
        }
        return BlockOf(first + i, step - trail * i);
    };
    Clock::duration waited{};
    for (std::uint32_t step = 0; step < lastStart + blocks; ++step) {
        if (first > 2 && step < blocks) {
            const std::uint64_t needed =
                (first - 1) * height + std::min(BlockOf(first, step).End() + 2, PlaneHeight - 2);
            waited += wavefront.Await(run - 1, static_cast<std::int64_t>(needed));
        }
        for (std::uint32_t i = 0; i < columns; i += 2) {
            SmoothBlocks(blockAt(i, step), blockAt(i + 1, step), kernels);
        }
        if (step >= lastStart) {
            wavefront.Publish(run, static_cast<std::int64_t>(
                                       (first + columns - 1) * height +
                                       BlockOf(first + columns - 1, step - lastStart).End()));
        }
    }
    return waited;
}

// Takes runs until none is left. Visited columns are 2 .. PlaneWidth - 3.
void BlurLane(RunClaims& claims, Wavefront& wavefront, const vectors::Kernels& kernels) {
    std::uint32_t width = RunColumns;
    for (;;) {
        const std::uint64_t claim = claims.fetch_add((std::uint64_t{1} << 32) | width);
        const auto run = static_cast<std::uint32_t>(claim >> 32);
        const auto first = static_cast<std::uint32_t>(claim);
        if (first + 2 >= PlaneWidth) {
            return;
        }
        const Clock::time_point start = Clock::now();
        const Clock::duration waited =
            SmoothRun(first, std::min(width, PlaneWidth - 2 - first), run, wavefront, kernels);
        const Clock::duration took = Clock::now() - start;
        if (waited > took / 4) {
            width = std::min(width + 2, MaxRunColumns);
        } else if (waited < took / 16) {
            width = std::max(width - 2, RunColumns);
        }
    }
}

} // namespace

void GaussianBlurStage() {
    GaussianBlurStage(
        ResolveThreads(0, Share::PlaneCells, std::uint64_t{PlaneWidth} * PlaneHeight));
}

void GaussianBlurStage(std::uint32_t threads) {
    // Released planes keep their size but have no cells.
    if (ImagePlane == nullptr || PlaneWidth < 5 || PlaneHeight < 5) {
        return;
    }
    const std::uint32_t runs = (PlaneWidth - 4 + RunColumns - 1) / RunColumns;
    Wavefront wavefront;
    RunClaims claims{2};
    const vectors::Kernels& kernels = vectors::InUse();
    ShareWork(Wavefront::ThreadsFor(threads, runs),
              [&wavefront, &claims, &kernels](std::uint32_t thread, std::uint32_t) {
                  if (thread != 0) {
                      // A new thread may start on its creator's processor when the other one is
                      // busy for a moment, and two threads that never sleep can stay there
                      // together for the whole blur. Sleeping once lets the wake-up put this one
                      // on a free processor.
                      platform::SleepBriefly();
                  }
                  BlurLane(claims, wavefront, kernels);
              });
}

} // namespace dorvane
