#pragma once

// Asking for the cache lines of columns before a transpose reads them. A processor takes a hint
// for a line and goes on; WebAssembly has no such hint, and a load that stands in for it waits for
// its line, so there lines are asked for many at once (the waits overlap) and seldom.
#include <cstdint>

namespace dorvane {

#if defined(__wasm__)
inline constexpr bool FetchHints = false;
#else
inline constexpr bool FetchHints = true;
#endif

// The line that holds *byte, which must lie within its object where there are no hints.
inline void FetchLine(const std::uint8_t* byte) {
    if constexpr (FetchHints) {
        __builtin_prefetch(byte);
    } else {
        static_cast<void>(*static_cast<const volatile std::uint8_t*>(byte));
    }
}

} // namespace dorvane
