#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace dorvane {

struct LargeBlockRelease {
    void operator()(std::uint8_t* block) const;
};
using LargeBlock = std::unique_ptr<std::uint8_t[], LargeBlockRelease>;

// A block of size bytes for a whole picture, from the global allocation operator, or empty when
// memory runs out. Where the system offers large pages it is asked to back the block with them:
// walking a picture column by column then needs a few address translations instead of one per
// page, and filling it a few page faults instead of thousands.
LargeBlock AllocateLargeBlock(std::size_t size);

} // namespace dorvane
