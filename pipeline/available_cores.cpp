#include "available_cores.hpp"

#include <algorithm>
#include <thread>

#if defined(__linux__)
#include <sched.h>
#endif

namespace dorvane {

std::uint32_t AvailableCores() {
#if defined(__linux__)
    // The cores of the machine count those this process is barred from too.
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (::sched_getaffinity(0, sizeof allowed, &allowed) == 0) {
        return static_cast<std::uint32_t>(std::max(1, CPU_COUNT(&allowed)));
    }
#endif
    return std::max(1U, std::thread::hardware_concurrency());
}

} // namespace dorvane
