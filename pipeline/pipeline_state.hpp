#pragma once

#include <cstddef>
#include <cstdint>

namespace dorvane {

// A grid of PlaneWidth x PlaneHeight cells: an array of column pointers, each column a separate
// block of PlaneHeight cells, addressed plane[x][y].
template <typename Cell> using WorkPlane = Cell**;

inline constexpr std::size_t SourcePathSize = 200;
inline constexpr std::size_t OutputPathSize = 208;

// The state that the pipeline stages share. Not thread-safe: BMPBlur serialises its calls, and
// anyone else driving the stages must do the same.
extern std::int8_t SourceBitDepth;
extern std::uint32_t PlaneWidth;
extern std::uint32_t PlaneHeight;
extern WorkPlane<std::int32_t> ImagePlane;
extern WorkPlane<float> DirectionPlane;
extern WorkPlane<std::int32_t> MagnitudePlane;
extern char OutputPath[OutputPathSize];

// Allocates the three planes at width x height and, only when all of them could be allocated,
// installs them and sets PlaneWidth and PlaneHeight. On failure nothing stays allocated and no
// global changes. No cell is written but the one-cell frame of MagnitudePlane, set to zero:
// ImagePlane is for the caller to fill, and the edge stages read nothing else of the direction
// and magnitude planes that the gradient stage has not written.
bool AllocatePlanes(std::uint32_t width, std::uint32_t height);

// Releases the three planes, if allocated, and nulls the plane pointers. PlaneWidth, PlaneHeight
// and SourceBitDepth keep the values of the last load.
void ReleasePlanes();

} // namespace dorvane
