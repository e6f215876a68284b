#include "work_sharing.hpp"

#include <algorithm>

namespace dorvane {

std::uint32_t ThreadsWorthFor(std::uint64_t cells, std::uint64_t minCellsPerThread) {
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(
        platform::AvailableCores(), std::max<std::uint64_t>(1, cells / minCellsPerThread)));
}

namespace {

// What of a share must fall to each thread for starting it to pay.
std::uint64_t MinPerThread(Share share) {
    switch (share) {
    case Share::PictureBytes:
        return MinBytesPerThread;
    case Share::PlaneCells:
        // Cells of 32 bits, with more work to each than the byte blur's.
        return std::uint64_t{1} << 18;
    case Share::FileBytes:
        // A helper pays from about 2^16 pixels at 8 bpp on: half of such a file each.
        return std::uint64_t{1} << 15;
    }
    return MinBytesPerThread;
}

} // namespace

std::uint32_t ResolveThreads(std::uint32_t asked, Share share, std::uint64_t amount) {
    return asked != 0 ? asked : ThreadsWorthFor(amount, MinPerThread(share));
}

} // namespace dorvane
