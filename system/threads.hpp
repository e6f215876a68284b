#pragma once

// The threads and the lock of the system built for. A build without threads (WebAssembly under
// WASI; CMake's DORVANE_THREADS off defines DORVANE_WITHOUT_THREADS) starts none, so that work
// sharing runs everything on the calling thread, and its lock does nothing, as no other thread
// could hold it.
#if defined(DORVANE_WITHOUT_THREADS)
#include <variant>
#else
#include <chrono>
#include <mutex>
#include <thread>
#endif

namespace dorvane::platform {

#if defined(DORVANE_WITHOUT_THREADS)
inline constexpr bool HasThreads = false;
// Never started.
using Thread = std::monostate;
class Mutex {
  public:
    void lock() {}
    void unlock() {}
};
inline void SleepBriefly() {}
#else
inline constexpr bool HasThreads = true;
using Thread = std::jthread;
using Mutex = std::mutex;
// A microsecond's sleep, which lets the system move a new thread to a free processor.
inline void SleepBriefly() {
    std::this_thread::sleep_for(std::chrono::microseconds(1));
}
#endif

} // namespace dorvane::platform
