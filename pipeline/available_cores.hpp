#pragma once

#include <cstdint>

namespace dorvane {

// How many processors this process may run on: the cores, or fewer when the process is bound to
// some of them (taskset, a container's share). At least 1.
std::uint32_t AvailableCores();

} // namespace dorvane
