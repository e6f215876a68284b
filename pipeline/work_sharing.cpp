#include "work_sharing.hpp"

#include <algorithm>

namespace dorvane {

std::uint32_t ThreadsWorthFor(std::uint64_t cells, std::uint64_t minCellsPerThread) {
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(
        platform::AvailableCores(), std::max<std::uint64_t>(1, cells / minCellsPerThread)));
}

} // namespace dorvane
