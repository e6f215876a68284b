#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace dorvane {

// Pixel rows move between file and image in blocks: one read or write per block, and each
// column's pixels of a block handled one after another, which the column-major storage needs to
// be fast. A block holds up to 32 rows, fewer when rows are long, about BlockBytes in all.
inline constexpr std::size_t BlockBytes = std::size_t{1} << 20;

constexpr std::int32_t RowsPerBlock(std::size_t rowLength) {
    constexpr std::size_t MaxRows = 32;
    return static_cast<std::int32_t>(
        std::clamp<std::size_t>(BlockBytes / std::max<std::size_t>(rowLength, 1), 1, MaxRows));
}

} // namespace dorvane
