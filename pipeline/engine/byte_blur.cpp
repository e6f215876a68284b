// The Gaussian blur on a byte picture, many columns at once.
//
// The in-place blur makes a cell wait for the two cells above it and for the column to its left
// down to two rows below it. So a strip of Lanes columns runs as one wavefront: at step t, lane k
// smooths row t - 3k of column X0 + k, which needs lane k - 1 only down to row t - 3k + 2,
// smoothed the step before. The strip's cells pass through a small ring of skewed rows: ring row
// t holds, for every lane, the cell that lane reaches at step t, so every window is 25 reads at
// fixed places of the ring, the same for all lanes, and a step (a kernel of the path in use,
// kernels/kernels.hpp, exact as blur_arithmetic.hpp shows) is a handful of vector operations. The
// ring is filled from the columns, and its smoothed rows go back into them, sixteen rows by
// sixteen lanes at a time, as transposed blocks.
#include "byte_blur.hpp"

#include "fetch_ahead.hpp"
#include "kernels.hpp"
#include "platform.hpp"
#include "work_sharing.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstring>

namespace dorvane {
namespace {

using vectors::BlockRows;
using vectors::Lanes;
using vectors::RowBytes;
using vectors::Skew;

// A step reads ring rows t - Reach .. t + Reach: two rows and two lanes away, at Skew rows a lane.
constexpr std::int64_t Reach = 2 + 2 * Skew;
constexpr std::int64_t HaloBlocks = (Lanes + 4 + BlockRows - 1) / BlockRows;
// How far down its column the fill asks for a column's cells before it reads them; without hints,
// for the rows of BurstBlocks blocks at once.
constexpr std::int64_t FetchAhead = 16 * BlockRows;
constexpr std::int64_t BurstBlocks = 8;
constexpr std::int64_t CacheLine = 64;
// Live rows: those a step reads, the block filled ahead and the block waiting to be stored.
constexpr std::int64_t RingRows = 64;
static_assert(RingRows >= 2 * Reach + 3 * BlockRows && RingRows % BlockRows == 0);
static_assert(Lanes % BlockRows == 0 && HaloBlocks * BlockRows <= RowBytes);

using Clock = Wavefront::Clock;

// A strip's positions in the wavefront: its number, then how far down the ring it has stored.
// Rows of a picture, and of its ring, stay below 2^32.
constexpr std::int64_t RowLimit = std::int64_t{1} << 32;
std::int64_t Mark(std::size_t s, std::int64_t row) {
    return static_cast<std::int64_t>(s) * RowLimit + row;
}

// The strip's live rows (at most RingRows), in order in one buffer, so that a step reaches every
// row it reads at a fixed distance from its own; once the buffer is full, the live rows move back
// to its start.
class Ring {
  public:
    static constexpr std::int64_t Capacity = 2 * RingRows;

    void Start(std::int64_t first) { Base = first; }
    std::uint8_t* Row(std::int64_t t) {
        return Rows.data() + static_cast<std::size_t>((t - Base) * RowBytes);
    }
    // Makes room for the block of rows from filled, keeping rows live .. filled - 1.
    void MakeRoomForBlock(std::int64_t live, std::int64_t filled) {
        if (filled + BlockRows - Base > Capacity) {
            std::memmove(Rows.data(), Row(live),
                         static_cast<std::size_t>((filled - live) * RowBytes));
            Base = live;
        }
    }

  private:
    std::int64_t Base = 0;
    alignas(64) std::array<std::uint8_t, Capacity * RowBytes> Rows{};
};

// One strip of columns X0 .. X0 + Lanes - 1 and its ring.
class Strip {
  public:
    // Strip s of the picture, blurred by kernels; with progress, it waits for strip s - 1 and
    // reports its own.
    Strip(const GrayColumns& picture, const vectors::Kernels& kernels, std::size_t s,
          Wavefront* progress)
        : Picture(picture), Kernels(kernels), Width(picture.Width), Height(picture.Height),
          X0(Lanes * static_cast<std::int64_t>(s)), Index(s), Progress(progress) {}

    // How long the strip waited for the one to its left.
    Clock::duration Waited() const { return WaitedForLeft; }

    // The steps at which some lane smooths a cell: lane k visits rows 2 .. Height - 3.
    static constexpr std::int64_t FirstStep = 2;
    std::int64_t LastStep() const { return Height - 3 + Skew * (Lanes - 1); }

    // Bit k set: lane k smooths a cell at step t.
    std::uint64_t Visited(std::int64_t t) const {
        const std::int64_t beyondBottom = t - (Height - 3);
        // Columns 0 and 1 are the frame.
        const std::int64_t low =
            std::max(beyondBottom <= 0 ? 0 : (beyondBottom + Skew - 1) / Skew, 2 - X0);
        const std::int64_t high = std::min({Lanes - 1, Width - 3 - X0, (t - 2) / Skew});
        if (low > high) {
            return 0;
        }
        return (~std::uint64_t{0} >> (63 - high)) & ~((std::uint64_t{1} << low) - 1);
    }

    // Around the steps, the ring is filled ahead of them and its smoothed rows stored behind.
    void StartWalk() {
        NextFill = (FirstStep - Reach) / BlockRows * BlockRows - BlockRows;
        NextStore = NextFill;
        Ring.Start(NextFill);
        for (; NextFill <= FirstStep + Reach; NextFill += BlockRows) {
            FillBlock(NextFill);
        }
    }
    void BeforeStep(std::int64_t t) {
        if (t + Reach >= NextFill) {
            Ring.MakeRoomForBlock(NextStore, NextFill);
            FillBlock(NextFill);
            NextFill += BlockRows;
        }
    }
    void AfterStep(std::int64_t t) {
        if (t - Reach >= NextStore + BlockRows - 1) {
            StoreBlock(NextStore);
            NextStore += BlockRows;
            if (Progress != nullptr) {
                Progress->Publish(Index, Mark(Index, NextStore));
            }
        }
    }
    void FinishWalk() {
        for (; NextStore <= LastStep(); NextStore += BlockRows) {
            StoreBlock(NextStore);
        }
        if (Progress != nullptr) {
            Progress->Publish(Index, Mark(Index, RowLimit - 1));
        }
    }

    // Every step of the strip, the ring filled before and stored after.
    void Smooth() {
        StartWalk();
        for (std::int64_t t = FirstStep; t <= LastStep(); ++t) {
            BeforeStep(t);
            Kernels.BlurStep(Visited(t), Ring.Row(t));
            AfterStep(t);
        }
        FinishWalk();
    }

  private:
    // Where a run of BlockRows cells of column x from row y lies: in the picture, or partly or
    // wholly outside it, where cells read as 0 and are not written.
    enum class Run { Inside, Partly, Outside };
    Run RunOf(std::int64_t x, std::int64_t y) const {
        if (x < 0 || x >= Width || y + BlockRows <= 0 || y >= Height) {
            return Run::Outside;
        }
        return y >= 0 && y + BlockRows <= Height ? Run::Inside : Run::Partly;
    }
    // Whether the runs of BlockRows lanes from column x, the first from row y and each next Skew
    // rows up, all lie inside the picture.
    bool Inside(std::int64_t x, std::int64_t y) const {
        return x >= 0 && x + BlockRows <= Width && y - Skew * (BlockRows - 1) >= 0 &&
               y + BlockRows <= Height;
    }
    std::uint8_t* At(std::int64_t x, std::int64_t y) const {
        return Picture.Column(static_cast<std::uint32_t>(x)) + y;
    }

    // Ring rows r0 .. r0 + BlockRows - 1: element i of row r is column X0 + i - 2 at row
    // r - Skew (i - 2).
    void FillBlock(std::int64_t r0) {
        if (Progress != nullptr && Index > 0) {
            // Lane -2 reads row r0 + BlockRows - 1 + 2 Skew at most, which the strip to the left
            // stores as its lane Lanes - 2 in ring row Skew (Lanes - 2) further down.
            WaitedForLeft +=
                Progress->Await(Index - 1, Mark(Index - 1, r0 + BlockRows + Skew * Lanes));
        }
        if (!FetchHints && r0 % (BurstBlocks * BlockRows) == 0) {
            FetchBurst(r0);
        }
        for (std::int64_t g = 0; g < HaloBlocks; ++g) {
            std::uint8_t* ring = Ring.Row(r0) + BlockRows * g;
            // Lane i's run starts a column right and Skew rows up from lane i - 1's.
            const std::int64_t x0 = X0 - 2 + BlockRows * g;
            const std::int64_t y0 = r0 - Skew * (BlockRows * g - 2);
            if (Inside(x0, y0)) {
                const std::uint8_t* cells = At(x0, y0);
                if constexpr (FetchHints) {
                    // Eighty columns at once are more streams than the processor follows alone.
                    for (std::int64_t j = 0; j < BlockRows; ++j) {
                        FetchLine(cells + j * RunStride() + FetchAhead);
                    }
                }
                Kernels.Transpose(cells, static_cast<std::ptrdiff_t>(RunStride()), RowBytes, ring);
                continue;
            }
            // Run j at 16 j: cells outside the picture read as 0.
            std::array<std::uint8_t, BlockRows * BlockRows> runs{};
            for (std::int64_t j = 0; j < BlockRows; ++j) {
                const std::int64_t x = x0 + j;
                const std::int64_t y = y0 - Skew * j;
                std::uint8_t* run = runs.data() + BlockRows * j;
                if (RunOf(x, y) == Run::Inside) {
                    std::copy_n(At(x, y), BlockRows, run);
                } else if (RunOf(x, y) == Run::Partly) {
                    for (std::int64_t r = std::max<std::int64_t>(0, -y);
                         r < std::min(BlockRows, Height - y); ++r) {
                        run[r] = *At(x, y + r);
                    }
                }
            }
            Kernels.Transpose(runs.data(), BlockRows, RowBytes, ring);
        }
    }

    // Without hints: the lines of the rows that the fills of BurstBlocks blocks from r0 read,
    // FetchAhead further down, wherever they lie in the picture.
    void FetchBurst(std::int64_t r0) const {
        constexpr std::int64_t Rows = BurstBlocks * BlockRows;
        for (std::int64_t g = 0; g < HaloBlocks; ++g) {
            const std::int64_t x0 = X0 - 2 + BlockRows * g;
            const std::int64_t y0 = r0 - Skew * (BlockRows * g - 2);
            if (!Inside(x0, y0) || y0 + FetchAhead + Rows > Height) {
                continue;
            }
            const std::uint8_t* cells = At(x0, y0) + FetchAhead;
            for (std::int64_t j = 0; j < BlockRows; ++j) {
                const std::uint8_t* run = cells + j * RunStride();
                for (std::int64_t r = 0; r < Rows; r += CacheLine) {
                    FetchLine(run + r);
                }
                FetchLine(run + Rows - 1);
            }
        }
    }

    // The strip's lanes of ring rows r0 .. r0 + BlockRows - 1 back into their columns.
    void StoreBlock(std::int64_t r0) {
        for (std::int64_t g = 0; g < Lanes / BlockRows; ++g) {
            const std::uint8_t* ring = Ring.Row(r0) + 2 + BlockRows * g;
            const std::int64_t x0 = X0 + BlockRows * g;
            const std::int64_t y0 = r0 - Skew * BlockRows * g;
            if (Inside(x0, y0)) {
                Kernels.Transpose(ring, RowBytes, static_cast<std::ptrdiff_t>(RunStride()),
                                  At(x0, y0));
                continue;
            }
            std::array<std::uint8_t, BlockRows * BlockRows> runs;
            Kernels.Transpose(ring, RowBytes, BlockRows, runs.data());
            for (std::int64_t j = 0; j < BlockRows; ++j) {
                const std::int64_t x = x0 + j;
                const std::int64_t y = y0 - Skew * j;
                const std::uint8_t* run = runs.data() + BlockRows * j;
                if (RunOf(x, y) == Run::Inside) {
                    std::copy_n(run, BlockRows, At(x, y));
                } else if (RunOf(x, y) == Run::Partly) {
                    for (std::int64_t r = std::max<std::int64_t>(0, -y);
                         r < std::min(BlockRows, Height - y); ++r) {
                        *At(x, y + r) = run[r];
                    }
                }
            }
        }
    }

    // From the run of one lane in the picture to the next lane's: a column on, Skew rows up.
    std::int64_t RunStride() const { return Height - Skew; }

    const GrayColumns& Picture;
    const vectors::Kernels& Kernels;
    std::int64_t Width;
    std::int64_t Height;
    std::int64_t X0;
    std::size_t Index;
    Wavefront* Progress;
    Clock::duration WaitedForLeft{};
    std::int64_t NextFill = 0;  // the first ring row not yet filled
    std::int64_t NextStore = 0; // the first ring row not yet stored
    class Ring Ring;
};

// About what a strip of a large picture takes to blur: a thread that keeps its processor stays
// that close behind the one to its left, so a longer wait means the other lost its processor.
constexpr std::chrono::microseconds LongWait{300};
// One long wait is as likely a hiccup of an idle machine (a virtual machine's host, say) as
// another program; a thread that shares a processor with a busy program loses it strip after
// strip, and makes the other wait long again at once.
constexpr int LongWaitsToGoAlone = 2;
constexpr std::uint32_t NoThread = ~std::uint32_t{0};

// Threads take the strips in order as they get free. A thread that waited long for the strip to
// its left LongWaitsToGoAlone times has a processor to itself while another thread shares one
// (with another program, say), which leaves it off for several milliseconds at a time: from then
// on it takes every strip, and the others stop after the one they have, so that the blur is
// never much slower than on the one thread.
// Returns whether the threads kept pace with one another.
bool BlurInStrips(const GrayColumns& picture, const vectors::Kernels& kernels, std::size_t strips,
                  std::uint32_t threads) {
    Wavefront progress;
    std::atomic<std::size_t> next{0};
    std::atomic<std::uint32_t> alone{NoThread};
    ShareWork(threads, [&](std::uint32_t thread, std::uint32_t) {
        int longWaits = 0;
        for (;;) {
            const std::uint32_t keeper = alone.load();
            const std::size_t s = keeper == NoThread || keeper == thread ? next++ : strips;
            if (s >= strips) {
                return;
            }
            Strip strip(picture, kernels, s, &progress);
            strip.Smooth();
            if (strip.Waited() > LongWait && ++longWaits == LongWaitsToGoAlone) {
                std::uint32_t none = NoThread;
                alone.compare_exchange_strong(none, thread);
            }
        }
    });
    return alone.load() == NoThread;
}

} // namespace

bool BlurGrayColumns(const GrayColumns& picture, std::uint32_t threads) {
    if (picture.Width < 5 || picture.Height < 5) {
        return true;
    }
    const vectors::Kernels& kernels = vectors::InUse();
    const std::size_t strips = (std::size_t{picture.Width} - 2 + Lanes - 1) / Lanes;
    const std::uint32_t used = Wavefront::ThreadsFor(threads, strips);
    if (used > 1) {
        return BlurInStrips(picture, kernels, strips, used);
    }
    for (std::size_t s = 0; s < strips; ++s) {
        Strip(picture, kernels, s, nullptr).Smooth();
    }
    return true;
}

} // namespace dorvane
