#pragma once

#include <cstddef>
#include <cstdint>

namespace dorvane {

// A gray picture of one byte per pixel, column after column: pixel (x, y) is
// Pixels[x * Height + y], the layout of the work planes with bytes for cells.
struct GrayColumns {
    std::uint8_t* Pixels;
    std::uint32_t Width;
    std::uint32_t Height;

    std::uint8_t* Column(std::uint32_t x) const { return Pixels + std::size_t{x} * Height; }
};

// GaussianBlurStage on a byte picture: every cell equals the one the stage leaves in a plane
// holding the same values. threads: that many threads at most (a job's count, ResolveThreads).
// Returns false when a thread was kept waiting so long by another (which had lost
// its processor) that it went on alone: more threads would not pay now either.
bool BlurGrayColumns(const GrayColumns& picture, std::uint32_t threads);

} // namespace dorvane
