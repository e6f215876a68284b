#include "large_block.hpp"

#include "platform.hpp"

#include <new>

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
    if (block && size >= LargePage) {
        platform::AdviseLargePages(block.get(), size);
    }
    return block;
}

} // namespace dorvane
