#include "large_block.hpp"

#include "platform.hpp"

#include <limits>
#include <new>

namespace dorvane {
namespace {

// The size of a large page on the systems that have them; aligning to it lets every whole large
// page of the block be one.
constexpr std::size_t LargePage = std::size_t{1} << 21;

} // namespace

void LargeBlockRelease::operator()(std::uint8_t* block) const {
    if (Aligned) {
        ::operator delete[](block, std::align_val_t{LargePage});
    } else {
        ::operator delete[](block);
    }
}

LargeBlock AllocateLargeBlock(std::size_t size) {
    if (size < LargePagesFrom) {
        return LargeBlock(static_cast<std::uint8_t*>(::operator new[](size, std::nothrow)),
                          LargeBlockRelease{false});
    }
    // Whole large pages, so that the block's last part is one too rather than hundreds of small
    // pages, each a fault; it is as much memory as the last large page's reach.
    if (size > std::numeric_limits<std::size_t>::max() - LargePage) {
        return LargeBlock(nullptr, LargeBlockRelease{true});
    }
    const std::size_t whole = (size + LargePage - 1) / LargePage * LargePage;
    LargeBlock block(static_cast<std::uint8_t*>(
                         ::operator new[](whole, std::align_val_t{LargePage}, std::nothrow)),
                     LargeBlockRelease{true});
    if (block) {
        platform::AdviseLargePages(block.get(), whole);
    }
    return block;
}

} // namespace dorvane
