#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace dorvane {

// Below this size a block is allocated as any other: aligned to a large page, it would hold
// address space of up to twice that page for a few bytes, and too few pages to pay for it.
inline constexpr std::size_t LargePagesFrom = std::size_t{4} << 20;

struct LargeBlockRelease {
    // Whether the block was allocated aligned to a large page (at LargePagesFrom bytes or more).
    bool Aligned = false;
    void operator()(std::uint8_t* block) const;
};
using LargeBlock = std::unique_ptr<std::uint8_t[], LargeBlockRelease>;

// A block of size bytes for a whole picture, from the global allocation operator, or empty when
// memory runs out. From LargePagesFrom bytes on, where the system offers large pages it is asked
// to back the block with them: walking a picture column by column then needs a few address
// translations instead of one per page, and filling it a few page faults instead of thousands.
LargeBlock AllocateLargeBlock(std::size_t size);

} // namespace dorvane
