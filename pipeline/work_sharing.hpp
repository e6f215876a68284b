#pragma once

// How many threads a pass over a picture takes, and how they start: one policy for the job, the
// byte blur and the Gaussian stage.
#include "platform.hpp"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <exception>
#include <new>
#include <optional>
#include <thread>
#include <vector>

namespace dorvane {

// Below this many cells of a byte each for every thread, starting one costs more than it saves.
inline constexpr std::uint64_t MinBytesPerThread = std::uint64_t{1} << 20;

// How many threads a pass over cells cells should use: the processors this process may run on,
// fewer when fewer than minCellsPerThread cells would fall to each.
std::uint32_t ThreadsWorthFor(std::uint64_t cells, std::uint64_t minCellsPerThread);

// Runs work(t, n) for t = 0 .. n - 1 on n threads at once, thread 0 being the caller: n is
// threads, or fewer when a thread cannot be started, and every call sees the same n. Returns when
// all are done. work may throw on the calling thread only.
template <class Work> void ShareWork(std::uint32_t threads, const Work& work) {
    std::atomic<std::uint32_t> started{0}; // until every thread that could start has
    std::vector<std::jthread> helpers;     // joined first, on leaving
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

} // namespace dorvane
