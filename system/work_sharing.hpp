#pragma once

// How many threads a pass over a picture takes, how they start, and how threads that sweep it as
// a wavefront keep their distance: one policy for every job and stage.
#include "platform.hpp"
#include "threads.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <new>
#include <optional>
#include <vector>

namespace dorvane {

// Below this many cells of a byte each for every thread, starting one costs more than it saves.
inline constexpr std::uint64_t MinBytesPerThread = std::uint64_t{1} << 20;

// How many threads a pass over cells cells should use: the processors this process may run on,
// fewer when fewer than minCellsPerThread cells would fall to each.
std::uint32_t ThreadsWorthFor(std::uint64_t cells, std::uint64_t minCellsPerThread);

// What a job's threads share, which decides how much of it pays for a thread.
enum class Share : std::uint8_t {
    PictureBytes, // a byte a pixel with a few operations each: the fast blur, the arrays, rows
    PlaneCells,   // the work planes' 32-bit cells, with more work to each: the Gaussian stage
    FileBytes,    // a file that a helper reads while the caller allocates the planes
};

// The threads for a job that asked for asked (0: as many as pay) over amount of share: asked, or
// ThreadsWorthFor with the share's threshold. A job calls it once, at its entry, as soon as it
// knows the amount; the stages below take the count it gives.
std::uint32_t ResolveThreads(std::uint32_t asked, Share share, std::uint64_t amount);

// Runs work(t, n) for t = 0 .. n - 1 on n threads at once, thread 0 being the caller: n is
// threads, or fewer when a thread cannot be started, and every call sees the same n. Returns when
// all are done. work may throw on the calling thread only.
template <class Work> void ShareWork(std::uint32_t threads, const Work& work) {
    std::atomic<std::uint32_t> started{0}; // until every thread that could start has
    std::vector<platform::Thread> helpers; // joined first, on leaving
    if constexpr (platform::HasThreads) {
        try {
            helpers.reserve(std::max(threads, 1U) - 1);
            for (std::uint32_t t = 1; t < threads; ++t) {
                helpers.emplace_back([&started, &work, t] {
                    platform::Wait(started, 0U);
                    work(t, started.load());
                });
            }
        } catch (const std::exception&) {
            // Fewer threads share the work all the same.
        }
    }
    const auto count = static_cast<std::uint32_t>(helpers.size() + 1);
    started.store(count);
    platform::WakeAll(started);
    work(0U, count);
}

// Calls work(i, buffers) for i = 0 .. count - 1 on up to threads threads, each taking the next i
// as it gets free and using buffers of its own (from make), so that no bytes pass between
// processors; stops early once work returns false. A thread that cannot be started, or cannot
// get its buffers, leaves its share to the others; the caller's throws.
template <class Make, class Work>
void ShareGroups(std::uint32_t count, std::uint32_t threads, const Make& make, const Work& work) {
    std::atomic<std::uint32_t> next{0};
    std::atomic<bool> stopped{false};
    ShareWork(std::min(threads, count), [&](std::uint32_t thread, std::uint32_t) {
        std::optional<decltype(make())> buffers;
        try {
            buffers.emplace(make());
        } catch (const std::bad_alloc&) {
            if (thread == 0) {
                stopped = true;
                throw;
            }
            return;
        }
        for (std::uint32_t i = next++; i < count && !stopped.load(); i = next++) {
            if (!work(i, *buffers)) {
                stopped = true;
            }
        }
    });
}

// What threads that share a pass report: the least of their values (the first row missing, say),
// and the first of their errors.
inline void LowerTo(std::atomic<std::uint32_t>& least, std::uint32_t value) {
    std::uint32_t seen = least.load();
    while (value < seen && !least.compare_exchange_weak(seen, value)) {
    }
}
inline void KeepFirst(std::atomic<int>& first, int error) {
    int none = 0;
    first.compare_exchange_strong(none, error);
}

// Where threads that sweep a picture as a wavefront say how far they have come: unit u (a strip
// of columns, a run of them) publishes a position, and the unit to its right waits until it has
// reached one. Units are taken in order and finish in order, so at most as many as there are
// threads are under way: unit u reports in slot u modulo Slots, and a unit's positions must
// exceed every earlier unit's (its number in the high bits, say), so that a waiter never takes the
// progress of the unit that had the slot before for its own.
class Wavefront {
  public:
    // Threads that one sweep takes at most.
    static constexpr std::uint32_t MaxThreads = 8;
    using Clock = std::chrono::steady_clock;

    // The threads that a sweep of units units takes when given threads.
    static std::uint32_t ThreadsFor(std::uint32_t threads, std::uint64_t units) {
        return static_cast<std::uint32_t>(
            std::clamp<std::uint64_t>(threads, 1, std::min<std::uint64_t>(MaxThreads, units)));
    }

    void Publish(std::size_t unit, std::int64_t position) {
        std::atomic<std::int64_t>& slot = SlotOf(unit);
        slot.store(position);
        if (Waiting.load() != 0) {
            platform::WakeAll(slot);
        }
    }

    // Waits until unit has reached position: a short spin, as the units usually keep their
    // distance, then asleep, as the thread ahead may have lost its processor. Returns how long.
    Clock::duration Await(std::size_t unit, std::int64_t position) {
        std::atomic<std::int64_t>& slot = SlotOf(unit);
        if (slot.load(std::memory_order_acquire) >= position) {
            return {};
        }
        const Clock::time_point start = Clock::now();
        for (int spin = 0; spin < SpinLimit; ++spin) {
            if (slot.load(std::memory_order_acquire) >= position) {
                return Clock::now() - start;
            }
        }
        Waiting.fetch_add(1);
        for (std::int64_t seen = slot.load(); seen < position; seen = slot.load()) {
            platform::Wait(slot, seen);
        }
        Waiting.fetch_sub(1);
        return Clock::now() - start;
    }

  private:
    static constexpr int SpinLimit = 4096;
    static constexpr std::size_t Slots = 2 * MaxThreads;
    // A cache line each, as neighbouring units run on different processors.
    struct alignas(64) Slot {
        std::atomic<std::int64_t> Position{0};
    };
    std::atomic<std::int64_t>& SlotOf(std::size_t unit) { return Progress[unit % Slots].Position; }

    std::array<Slot, Slots> Progress{};
    std::atomic<int> Waiting{0};
};

} // namespace dorvane
