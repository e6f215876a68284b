// The Gaussian blur on a byte picture, many columns at once.
//
// The in-place blur makes a cell wait for the two cells above it and for the column to its left
// down to two rows below it. So a strip of Lanes columns runs as one wavefront: at step t, lane k
// smooths row t - 3k of column X0 + k, which needs lane k - 1 only down to row t - 3k + 2,
// smoothed the step before. The strip's cells pass through a small ring of skewed rows: ring row
// t holds, for every lane, the cell that lane reaches at step t, so every window is 25 reads at
// fixed places of the ring, the same for all lanes, and a step is a handful of vector operations.
// The ring is filled from the columns, and its smoothed rows go back into them, sixteen rows by
// sixteen lanes at a time, as transposed blocks.
//
// Why the integer quotient is exact: the window sum S of cells 0..255 makes ConvolveAt's float
// chain truncate to S / 159 unless 159 divides S (see gaussian_blur.cpp and
// bench/blur_rounding_check.cpp); then, for 0 < S / 159 < 255, the chain itself decides.
#include "byte_blur.hpp"

#include "avx2_clones.hpp"
#include "byte_set.hpp"
#include "byte_transpose.hpp"
#include "gaussian_blur.hpp"
#include "platform.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <exception>
#include <thread>
#include <vector>

#ifdef DORVANE_X86_VECTORS
#include <immintrin.h>
#endif

namespace dorvane {
namespace {

// Lanes of a strip: a multiple of the vectors' sixteen.
constexpr std::int64_t Lanes = 64;
constexpr std::int64_t Skew = 3;
// A step reads ring rows t - Reach .. t + Reach: two rows and two lanes away, at Skew rows a lane.
constexpr std::int64_t Reach = 2 + 2 * Skew;
// Rows move between ring and columns in blocks of this many.
constexpr std::int64_t BlockRows = 16;
// Element i of a ring row is lane i - 2: the strip's lanes with two lanes of halo on either
// side, padded to whole blocks of sixteen.
constexpr std::int64_t RowBytes = Lanes + 2 * BlockRows;
constexpr std::int64_t HaloBlocks = (Lanes + 4 + BlockRows - 1) / BlockRows;
// How far down its column the fill asks for a column's cells before it reads them.
constexpr std::int64_t FetchAhead = 16 * BlockRows;
// Live rows: those a step reads, the block filled ahead and the block waiting to be stored.
constexpr std::int64_t RingRows = 64;
static_assert(RingRows >= 2 * Reach + 3 * BlockRows && RingRows % BlockRows == 0);
static_assert(Lanes % BlockRows == 0 && HaloBlocks * BlockRows <= RowBytes);

constexpr std::uint32_t KernelSum = 159;
constexpr std::uint32_t MaxCell = 255;

// S / 159 for every window sum S of cells 0..255 is (S x Reciprocal) >> QuotientShift, whose
// product's high half fits in 16 bits.
constexpr std::uint32_t Reciprocal = 52759;
constexpr std::uint32_t QuotientShift = 23;
constexpr bool ReciprocalDividesEverySum() {
    for (std::uint32_t sum = 0; sum <= MaxCell * KernelSum; ++sum) {
        if ((sum * Reciprocal) >> QuotientShift != sum / KernelSum) {
            return false;
        }
    }
    return Reciprocal < (1U << 16);
}
static_assert(ReciprocalDividesEverySum());

constexpr std::int32_t Weight(std::int64_t a, std::int64_t b) {
    return GaussianKernel[static_cast<std::size_t>(5 * a + b)];
}

// Where a step's window column a, row b lies in the ring, from lane 0's element of the step's own
// row: Skew rows further up a lane to the left.
constexpr std::int64_t Tap(std::int64_t a, std::int64_t b) {
    return ((b - 2) + Skew * (a - 2)) * RowBytes + a;
}

// ConvolveAt's chain over 25 cells in its order (window column outer, row inner).
std::uint8_t Chain(const std::array<std::uint16_t, 25>& cells) {
    float acc = 0.0F;
    for (std::size_t i = 0; i < cells.size(); ++i) {
        const std::int32_t product = cells[i] * GaussianKernel[i];
        acc = static_cast<float>(static_cast<double>(product) * static_cast<double>(GaussianScale) +
                                 static_cast<double>(acc));
    }
    return static_cast<std::uint8_t>(static_cast<std::int32_t>(acc));
}

// The chain's result for a window whose 25 cells are all v: flat areas are full of them.
const std::array<std::uint8_t, 256>& UniformResults() {
    static const std::array<std::uint8_t, 256> results = [] {
        std::array<std::uint8_t, 256> table{};
        for (std::size_t v = 0; v < table.size(); ++v) {
            std::array<std::uint16_t, 25> cells{};
            cells.fill(static_cast<std::uint16_t>(v));
            table[v] = Chain(cells);
        }
        return table;
    }();
    return results;
}

#ifdef DORVANE_X86_VECTORS
// Lanes of 16 bits, sixteen to a vector; a window sum is at most 255 x 159, below 2^16.
constexpr std::size_t Vectors = Lanes / 16;
#endif

using Clock = std::chrono::steady_clock;

// Threads that blur one picture at most.
constexpr std::uint32_t MaxThreads = 8;

// How far each strip has stored its smoothed rows, for the strip to its right, which reads the
// strip's last two columns: strips run on several threads, each a strip behind the other. Strips
// finish in order, so at most as many as there are threads are under way: each strip has a slot
// of a few, whose value (the strip, then its row) only grows, so that a strip's waiter never
// takes the progress of the strip that had the slot before for its own.
class StripProgress {
  public:
    // Strip s has stored every ring row below row.
    void Publish(std::size_t s, std::int64_t row) {
        std::atomic<std::int64_t>& slot = Slots[s % Slots.size()].Value;
        slot.store(Mark(s, row));
        if (Waiting.load() != 0) {
            platform::WakeAll(slot);
        }
    }
    // Strip s has stored every row it will.
    void Finish(std::size_t s) { Publish(s, RowLimit - 1); }

    // Waits until strip s has stored every ring row below row: a short spin, as the strips
    // usually keep their distance, then asleep, as the thread ahead may have lost its processor.
    Clock::duration Await(std::size_t s, std::int64_t row) {
        std::atomic<std::int64_t>& stored = Slots[s % Slots.size()].Value;
        const std::int64_t wanted = Mark(s, row);
        if (stored.load(std::memory_order_acquire) >= wanted) {
            return {};
        }
        const Clock::time_point start = Clock::now();
        for (int spin = 0; spin < SpinLimit; ++spin) {
            if (stored.load(std::memory_order_acquire) >= wanted) {
                return Clock::now() - start;
            }
        }
        Waiting.fetch_add(1);
        for (std::int64_t seen = stored.load(); seen < wanted; seen = stored.load()) {
            platform::Wait(stored, seen);
        }
        Waiting.fetch_sub(1);
        return Clock::now() - start;
    }

  private:
    static constexpr int SpinLimit = 4096;
    // Rows of a picture, and of its ring, stay below 2^32.
    static constexpr std::int64_t RowLimit = std::int64_t{1} << 32;
    static std::int64_t Mark(std::size_t s, std::int64_t row) {
        return static_cast<std::int64_t>(s) * RowLimit + row;
    }
    // A cache line each, as neighbouring strips run on different processors.
    struct alignas(64) Row {
        std::atomic<std::int64_t> Value{0};
    };
    std::array<Row, 2 * MaxThreads> Slots{};
    std::atomic<int> Waiting{0};
};

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
    // Strip s of the picture; with progress, it waits for strip s - 1 and reports its own.
    Strip(const GrayColumns& picture, std::size_t s, StripProgress* progress)
        : Picture(picture), Width(picture.Width), Height(picture.Height),
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

    // Integer window sum of lane k at the step of ring row row.
    static std::uint32_t WindowSum(const std::uint8_t* row, std::int64_t k) {
        std::uint32_t sum = 0;
        for (std::int64_t a = 0; a < 5; ++a) {
            for (std::int64_t b = 0; b < 5; ++b) {
                sum += static_cast<std::uint32_t>(Weight(a, b)) * row[Tap(a, b) + k];
            }
        }
        return sum;
    }

    // The chain's result for lane k at the step of ring row row.
    static std::uint8_t Exact(const std::uint8_t* row, std::int64_t k) {
        std::array<std::uint16_t, 25> cells{};
        for (std::int64_t a = 0; a < 5; ++a) {
            for (std::int64_t b = 0; b < 5; ++b) {
                cells[static_cast<std::size_t>(5 * a + b)] = row[Tap(a, b) + k];
            }
        }
        if (std::all_of(cells.begin(), cells.end(),
                        [&](std::uint16_t c) { return c == cells[0]; })) {
            return UniformResults()[cells[0]];
        }
        return Chain(cells);
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
                Progress->Publish(Index, NextStore);
            }
        }
    }
    void FinishWalk() {
        for (; NextStore <= LastStep(); NextStore += BlockRows) {
            StoreBlock(NextStore);
        }
        if (Progress != nullptr) {
            Progress->Finish(Index);
        }
    }

    // The plain walk: lane after lane within a step.
    void SmoothPlain() {
        StartWalk();
        for (std::int64_t t = FirstStep; t <= LastStep(); ++t) {
            BeforeStep(t);
            const std::uint64_t visited = Visited(t);
            std::uint8_t* row = Ring.Row(t);
            for (std::int64_t k = 0; k < Lanes; ++k) {
                if ((visited >> k) & 1U) {
                    const std::uint32_t sum = WindowSum(row, k);
                    const std::uint32_t quotient = sum / KernelSum;
                    row[k + 2] = sum % KernelSum == 0 && quotient - 1 < MaxCell - 1
                                     ? Exact(row, k)
                                     : static_cast<std::uint8_t>(quotient);
                }
            }
            AfterStep(t);
        }
        FinishWalk();
    }

#ifdef DORVANE_X86_VECTORS
    void SmoothAvx2();
    template <bool AllVisit> void StepAvx2(std::int64_t t, std::uint64_t visited);
#endif

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
        static constexpr std::array<std::uint8_t, BlockRows> Zeros{};
        if (Progress != nullptr && Index > 0) {
            // Lane -2 reads row r0 + BlockRows - 1 + 2 Skew at most, which the strip to the left
            // stores as its lane Lanes - 2 in ring row Skew (Lanes - 2) further down.
            WaitedForLeft += Progress->Await(Index - 1, r0 + BlockRows + Skew * Lanes);
        }
        for (std::int64_t g = 0; g < HaloBlocks; ++g) {
            ByteRuns in;
            ByteRunsOut out;
            // Lane i's run starts a column right and Skew rows up from lane i - 1's.
            const std::int64_t x0 = X0 - 2 + BlockRows * g;
            const std::int64_t y0 = r0 - Skew * (BlockRows * g - 2);
            if (Inside(x0, y0)) {
                const std::uint8_t* cells = At(x0, y0);
                for (std::size_t j = 0; j < BlockRows; ++j, cells += Height - Skew) {
                    in[j] = cells;
                    // Eighty columns at once are more streams than the processor follows alone.
                    __builtin_prefetch(cells + FetchAhead);
                    out[j] = Ring.Row(r0) + RowBytes * static_cast<std::int64_t>(j) + BlockRows * g;
                }
                TransposeBytes(in, out);
                continue;
            }
            std::array<std::array<std::uint8_t, BlockRows>, BlockRows> partial;
            for (std::int64_t j = 0; j < BlockRows; ++j) {
                const std::int64_t i = BlockRows * g + j;
                const std::int64_t x = X0 + i - 2;
                const std::int64_t y = r0 - Skew * (i - 2);
                const auto jj = static_cast<std::size_t>(j);
                out[jj] = Ring.Row(r0 + j) + BlockRows * g;
                switch (RunOf(x, y)) {
                case Run::Inside:
                    in[jj] = At(x, y);
                    break;
                case Run::Outside:
                    in[jj] = Zeros.data();
                    break;
                case Run::Partly:
                    for (std::int64_t r = 0; r < BlockRows; ++r) {
                        partial[jj][static_cast<std::size_t>(r)] =
                            y + r >= 0 && y + r < Height ? *At(x, y + r) : 0;
                    }
                    in[jj] = partial[jj].data();
                    break;
                }
            }
            TransposeBytes(in, out);
        }
    }

    // The strip's lanes of ring rows r0 .. r0 + BlockRows - 1 back into their columns.
    void StoreBlock(std::int64_t r0) {
        for (std::int64_t g = 0; g < Lanes / BlockRows; ++g) {
            ByteRuns in;
            ByteRunsOut out;
            const std::int64_t x0 = X0 + BlockRows * g;
            const std::int64_t y0 = r0 - Skew * BlockRows * g;
            if (Inside(x0, y0)) {
                std::uint8_t* cells = At(x0, y0);
                for (std::size_t j = 0; j < BlockRows; ++j, cells += Height - Skew) {
                    in[j] =
                        Ring.Row(r0) + RowBytes * static_cast<std::int64_t>(j) + 2 + BlockRows * g;
                    out[j] = cells;
                }
                TransposeBytes(in, out);
                continue;
            }
            std::array<std::array<std::uint8_t, BlockRows>, BlockRows> partial;
            for (std::int64_t j = 0; j < BlockRows; ++j) {
                const auto jj = static_cast<std::size_t>(j);
                in[jj] = Ring.Row(r0 + j) + 2 + BlockRows * g;
                const std::int64_t k = BlockRows * g + j;
                out[jj] = RunOf(X0 + k, r0 - Skew * k) == Run::Inside ? At(X0 + k, r0 - Skew * k)
                                                                      : partial[jj].data();
            }
            TransposeBytes(in, out);
            for (std::int64_t j = 0; j < BlockRows; ++j) {
                const std::int64_t k = BlockRows * g + j;
                const std::int64_t x = X0 + k;
                const std::int64_t y = r0 - Skew * k;
                if (RunOf(x, y) != Run::Partly) {
                    continue;
                }
                for (std::int64_t r = 0; r < BlockRows; ++r) {
                    if (y + r >= 0 && y + r < Height) {
                        *At(x, y + r) =
                            partial[static_cast<std::size_t>(j)][static_cast<std::size_t>(r)];
                    }
                }
            }
        }
    }

    const GrayColumns& Picture;
    std::int64_t Width;
    std::int64_t Height;
    std::int64_t X0;
    std::size_t Index;
    StripProgress* Progress;
    Clock::duration WaitedForLeft{};
    std::int64_t NextFill = 0;  // the first ring row not yet filled
    std::int64_t NextStore = 0; // the first ring row not yet stored
    class Ring Ring;
};

#ifdef DORVANE_X86_VECTORS

#define DORVANE_AVX2 __attribute__((target("avx2,fma")))

// Sixteen ring cells from cells, widened to 16 bits.
DORVANE_AVX2 inline __m256i Load(const std::uint8_t* cells) {
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cells)));
}

// Sixteen lanes' cells at window column a, row b, from lanes.
DORVANE_AVX2 inline __m256i TapLoad(const std::uint8_t* lanes, std::int64_t a, std::int64_t b) {
    return Load(lanes + Tap(a, b));
}

DORVANE_AVX2 inline __m256i Times(__m256i v, std::int32_t factor) {
    return _mm256_mullo_epi16(v, _mm256_set1_epi16(static_cast<short>(factor)));
}

DORVANE_AVX2 inline __m256i Add(__m256i a, __m256i b) {
    return _mm256_add_epi16(a, b);
}

// The chain, in fused multiply-adds, for the eight lanes from lane first of the windows whose
// column a, row b cells(a, b) gives.
template <class Cells>
DORVANE_AVX2 inline __m256i ChainOfEight(const Cells& cells, std::int64_t first) {
    const __m256 scale = _mm256_set1_ps(GaussianScale);
    __m256 sum = _mm256_setzero_ps();
    for (std::int64_t a = 0; a < 5; ++a) {
        for (std::int64_t b = 0; b < 5; ++b) {
            const __m256 weight = _mm256_set1_ps(static_cast<float>(Weight(a, b)));
            const __m128i bytes =
                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(cells(a, b) + first));
            const __m256 values = _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(bytes));
            sum = _mm256_fmadd_ps(_mm256_mul_ps(values, weight), scale, sum);
        }
    }
    return _mm256_cvttps_epi32(sum);
}

// The held lanes of the sixteen from lanes (their place in a step's ring row), whose window sum
// 159 divides, set as the chain sets them. A window of 25 equal cells v takes the chain's known
// result for v; any other, the chain itself, for eight lanes at once, with one fused multiply-add a
// tap, which rounds once as each tap of the chain does: the product of a cell and a weight is a
// whole number below 2^12 and the scale has 24 significant bits, so the chain's double product is
// exact, and every running sum is a multiple of 2^-31 below 2^9, so its double sum is exact as
// well.
DORVANE_AVX2 __attribute__((noinline)) __m256i ExactLanes(const std::uint8_t* lanes, __m256i held,
                                                          __m256i results) {
    const auto cells = [&](std::int64_t a, std::int64_t b) { return lanes + Tap(a, b); };
    const __m256i centre = Load(cells(2, 2));
    __m256i uniform = _mm256_set1_epi16(-1);
    for (std::int64_t a = 0; a < 5; ++a) {
        for (std::int64_t b = 0; b < 5; ++b) {
            uniform = _mm256_and_si256(uniform, _mm256_cmpeq_epi16(Load(cells(a, b)), centre));
        }
    }
    if (_mm256_movemask_epi8(_mm256_andnot_si256(uniform, held)) == 0) {
        // v - 1 for the v where the chain gives that.
        static const ByteSet decrements =
            ByteSetOf([](std::uint8_t v) { return UniformResults()[v] != v; });
        const __m256i value = _mm256_add_epi16(centre, LanesIn(decrements, centre));
        return _mm256_blendv_epi8(results, value, held);
    }
    // A vector usually holds one lane, so the chain runs on the half of it that holds lanes.
    const auto heldBytes = static_cast<std::uint32_t>(_mm256_movemask_epi8(held));
    const __m256i low = (heldBytes & 0xFFFF) != 0 ? ChainOfEight(cells, 0) : _mm256_setzero_si256();
    const __m256i high = (heldBytes >> 16) != 0 ? ChainOfEight(cells, 8) : _mm256_setzero_si256();
    // Both halves are 0..255, so packing keeps every value.
    const __m256i chain = _mm256_permute4x64_epi64(_mm256_packs_epi32(low, high), 0xD8);
    return _mm256_blendv_epi8(results, chain, held);
}

// One step: four vectors of lanes, whose window sums gather the 25 taps by weight, each tap a
// read at its fixed place in the ring (the cells smoothed at the two steps before included),
// then divide by 159. Where every lane visits a cell, as in all but the first and last steps of
// a strip, no lane needs masking.
template <bool AllVisit>
DORVANE_AVX2 __attribute__((always_inline)) inline void Strip::StepAvx2(std::int64_t t,
                                                                        std::uint64_t visited) {
    const __m256i reciprocal = _mm256_set1_epi16(static_cast<short>(Reciprocal));
    const __m256i zero = _mm256_setzero_si256();
    std::uint8_t* const row = Ring.Row(t);
    __m256i results[Vectors];
    for (std::size_t j = 0; j < Vectors; ++j) {
        const std::uint8_t* lanes = row + 16 * j;
        const __m256i twos = Add(Add(TapLoad(lanes, 0, 0), TapLoad(lanes, 0, 4)),
                                 Add(TapLoad(lanes, 4, 0), TapLoad(lanes, 4, 4)));
        const __m256i fours = Add(Add(Add(TapLoad(lanes, 0, 1), TapLoad(lanes, 0, 3)),
                                      Add(TapLoad(lanes, 1, 0), TapLoad(lanes, 1, 4))),
                                  Add(Add(TapLoad(lanes, 3, 0), TapLoad(lanes, 3, 4)),
                                      Add(TapLoad(lanes, 4, 1), TapLoad(lanes, 4, 3))));
        const __m256i fives = Add(Add(TapLoad(lanes, 0, 2), TapLoad(lanes, 2, 0)),
                                  Add(TapLoad(lanes, 2, 4), TapLoad(lanes, 4, 2)));
        const __m256i nines = Add(Add(TapLoad(lanes, 1, 1), TapLoad(lanes, 1, 3)),
                                  Add(TapLoad(lanes, 3, 1), TapLoad(lanes, 3, 3)));
        const __m256i twelves = Add(Add(TapLoad(lanes, 1, 2), TapLoad(lanes, 2, 1)),
                                    Add(TapLoad(lanes, 2, 3), TapLoad(lanes, 3, 2)));
        const __m256i centre = TapLoad(lanes, 2, 2);
        const __m256i sum =
            Add(Add(Add(Times(twos, 2), Times(fours, 4)), Add(Times(fives, 5), Times(nines, 9))),
                Add(Times(twelves, 12), Times(centre, 15)));
        const __m256i quotient =
            _mm256_srli_epi16(_mm256_mulhi_epu16(sum, reciprocal), QuotientShift - 16);
        // 159 divides the sum, and the quotient is neither 0 nor 255 (uniform windows of 0 and
        // 255, which the chain keeps): (quotient + 1) & 0xFE is 0 only for those two.
        __m256i held = _mm256_andnot_si256(
            _mm256_cmpeq_epi16(
                _mm256_and_si256(Add(quotient, _mm256_set1_epi16(1)), _mm256_set1_epi16(0xFE)),
                zero),
            _mm256_cmpeq_epi16(_mm256_sub_epi16(sum, Times(quotient, KernelSum)), zero));
        if constexpr (AllVisit) {
            results[j] = quotient;
        } else {
            const __m256i laneBits =
                _mm256_setr_epi16(1, 2, 4, 8, 16, 32, 64, 128, 256, 512, 1024, 2048, 4096, 8192,
                                  static_cast<short>(1 << 14), static_cast<short>(1 << 15));
            const auto bits = static_cast<short>(visited >> (16 * j));
            const __m256i visit =
                _mm256_cmpeq_epi16(_mm256_and_si256(_mm256_set1_epi16(bits), laneBits), laneBits);
            held = _mm256_and_si256(held, visit);
            results[j] = _mm256_blendv_epi8(centre, quotient, visit);
        }
        if (_mm256_movemask_epi8(held) != 0) {
            results[j] = ExactLanes(lanes, held, results[j]);
        }
    }
    for (std::size_t j = 0; j < Vectors; j += 2) {
        const __m256i bytes =
            _mm256_permute4x64_epi64(_mm256_packus_epi16(results[j], results[j + 1]), 0xD8);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(row + 2 + 16 * j), bytes);
    }
}

DORVANE_AVX2 void Strip::SmoothAvx2() {
    StartWalk();
    for (std::int64_t t = FirstStep; t <= LastStep(); ++t) {
        BeforeStep(t);
        const std::uint64_t visited = Visited(t);
        if (visited == ~std::uint64_t{0}) {
            StepAvx2<true>(t, visited);
        } else {
            StepAvx2<false>(t, visited);
        }
        AfterStep(t);
    }
    FinishWalk();
}

bool HasAvx2() {
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}

#endif

} // namespace

namespace {

void Smooth(Strip& strip, BlurCode code) {
#ifdef DORVANE_X86_VECTORS
    if (code == BlurCode::Fastest && HasAvx2()) {
        strip.SmoothAvx2();
        return;
    }
#endif
    static_cast<void>(code);
    strip.SmoothPlain();
}

// About what a strip of a large picture takes to blur: a thread that keeps its processor stays
// that close behind the one to its left, so a longer wait means the other lost its processor.
constexpr std::chrono::microseconds LongWait{300};
// One long wait is as likely a hiccup of an idle machine (a virtual machine's host, say) as
// another program; a thread that shares a processor with a busy program loses it strip after
// strip, and makes the other wait long again at once.
constexpr int LongWaitsToGoAlone = 2;

// Threads take the strips in order as they get free. A thread that waited long for the strip to
// its left LongWaitsToGoAlone times has a processor to itself while another thread shares one
// (with another program, say), which leaves it off for several milliseconds at a time: from then
// on it takes every strip, and the others stop after the one they have, so that the blur is
// never much slower than on the one thread.
// Returns whether the threads kept pace with one another.
bool BlurInStrips(const GrayColumns& picture, BlurCode code, std::size_t strips,
                  std::uint32_t threads) {
    StripProgress progress;
    std::atomic<std::size_t> next{0};
    std::atomic<int> alone{-1};
    const auto work = [&](int thread) {
        int longWaits = 0;
        for (;;) {
            const int keeper = alone.load();
            const std::size_t s = keeper < 0 || keeper == thread ? next++ : strips;
            if (s >= strips) {
                return;
            }
            Strip strip(picture, s, &progress);
            Smooth(strip, code);
            if (strip.Waited() > LongWait && ++longWaits == LongWaitsToGoAlone) {
                int none = -1;
                alone.compare_exchange_strong(none, thread);
            }
        }
    };
    std::vector<std::jthread> helpers;
    try {
        helpers.reserve(threads - 1);
        for (std::uint32_t t = 1; t < threads; ++t) {
            helpers.emplace_back(work, static_cast<int>(t));
        }
    } catch (const std::exception&) {
        // Fewer threads: the strips are taken all the same.
    }
    work(0);
    for (std::jthread& helper : helpers) {
        helper.join();
    }
    return alone.load() < 0;
}

} // namespace

std::uint32_t ThreadsWorthFor(std::uint64_t cells) {
    // Below this many cells per thread, starting a thread costs more than it saves.
    constexpr std::uint64_t MinCellsPerThread = std::uint64_t{1} << 20;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(
        platform::AvailableCores(), std::max<std::uint64_t>(1, cells / MinCellsPerThread)));
}

bool BlurGrayColumns(const GrayColumns& picture, BlurCode code, std::uint32_t threads) {
    if (picture.Width < 5 || picture.Height < 5) {
        return true;
    }
    const std::size_t strips = (std::size_t{picture.Width} - 2 + Lanes - 1) / Lanes;
    const std::uint64_t wanted =
        threads != 0 ? threads : ThreadsWorthFor(std::uint64_t{picture.Width} * picture.Height);
    const auto used =
        static_cast<std::uint32_t>(std::min<std::uint64_t>({wanted, strips, MaxThreads}));
    if (used > 1) {
        return BlurInStrips(picture, code, strips, used);
    }
    for (std::size_t s = 0; s < strips; ++s) {
        Strip strip(picture, s, nullptr);
        Smooth(strip, code);
    }
    return true;
}

} // namespace dorvane
