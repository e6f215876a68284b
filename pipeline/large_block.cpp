#include "large_block.hpp"

#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace dorvane {
namespace {

// The size of a large page on the systems that have them; aligning to it lets every whole large
// page of the block be one.
constexpr std::size_t LargePage = std::size_t{1} << 21;

} // namespace

void LargeBlockRelease::operator()(std::uint8_t* block) const {
    ::operator delete[](block, std::align_val_t{LargePage});
}

LargeBlock AllocateLargeBlock(std::size_t size) {
    LargeBlock block(static_cast<std::uint8_t*>(
        ::operator new[](size, std::align_val_t{LargePage}, std::nothrow)));
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (block && size >= LargePage) {
        // Advice only: where it is refused the block simply has small pages.
        static_cast<void>(::madvise(block.get(), size, MADV_HUGEPAGE));
    }
#endif
    return block;
}

} // namespace dorvane
