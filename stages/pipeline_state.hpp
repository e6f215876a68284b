#pragma once

#include "threads.hpp"

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
// Held by whoever drives the stages or the jobs of file_jobs.hpp, which take turns through it.
extern platform::Mutex PipelineMutex;

// The three planes of one size, allocated in two steps (ImagePlane, then DirectionPlane and
// MagnitudePlane) and owned here, until Install makes them the pipeline's. What was allocated and
// not installed is released on destruction. No cell is written but the one-cell frame of
// MagnitudePlane, set to zero: ImagePlane is for the caller to fill, and the edge stages read
// nothing else of the direction and magnitude planes that the gradient stage has not written.
class PlaneAllocation {
  public:
    PlaneAllocation(std::uint32_t width, std::uint32_t height) : Width(width), Height(height) {}
    PlaneAllocation(const PlaneAllocation&) = delete;
    PlaneAllocation& operator=(const PlaneAllocation&) = delete;
    ~PlaneAllocation();

    // False when memory runs out; the image plane is then null.
    bool AllocateImage();
    // After AllocateImage succeeded. False when memory runs out.
    bool AllocateDirectionAndMagnitude();
    // The image plane, once allocated, for the caller to fill before installing.
    WorkPlane<std::int32_t> Image() const { return ImageCells; }
    // After both steps succeeded: installs the planes and sets PlaneWidth and PlaneHeight.
    void Install();

  private:
    std::uint32_t Width;
    std::uint32_t Height;
    WorkPlane<std::int32_t> ImageCells = nullptr;
    WorkPlane<float> DirectionCells = nullptr;
    WorkPlane<std::int32_t> MagnitudeCells = nullptr;
};

// Allocates the three planes at width x height and, only when all of them could be allocated,
// installs them. On failure nothing stays allocated and no global changes.
bool AllocatePlanes(std::uint32_t width, std::uint32_t height);

// Releases the three planes, if allocated, and nulls the plane pointers. PlaneWidth, PlaneHeight
// and SourceBitDepth keep the values of the last load.
void ReleasePlanes();

} // namespace dorvane
