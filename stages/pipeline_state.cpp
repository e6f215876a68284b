#include "pipeline_state.hpp"

#include "fork_safety.hpp"

#include <algorithm>
#include <new>
#include <utility>

namespace dorvane {

std::int8_t SourceBitDepth = 0;
std::uint32_t PlaneWidth = 0;
std::uint32_t PlaneHeight = 0;
WorkPlane<std::int32_t> ImagePlane = nullptr;
WorkPlane<float> DirectionPlane = nullptr;
WorkPlane<std::int32_t> MagnitudePlane = nullptr;
char OutputPath[OutputPathSize] = {};
platform::Mutex PipelineMutex;

namespace {

// A child forked while a job runs in another thread runs jobs of its own.
[[maybe_unused]] const bool PipelineMutexSurvivesFork = HoldAcrossFork<PipelineMutex>();

template <typename Cell> void ReleasePlane(WorkPlane<Cell>& plane, std::uint32_t width) {
    if (plane == nullptr) {
        return;
    }
    for (std::uint32_t x = 0; x < width; ++x) {
        delete[] plane[x];
    }
    delete[] plane;
    plane = nullptr;
}

// All-or-nothing: on a failed allocation the columns made so far are released again. The cells
// are left unwritten, so that a plane no stage uses costs neither a pass nor resident pages.
template <typename Cell> WorkPlane<Cell> AllocatePlane(std::uint32_t width, std::uint32_t height) {
    auto* plane = new (std::nothrow) Cell*[width]();
    if (plane == nullptr) {
        return nullptr;
    }
    for (std::uint32_t x = 0; x < width; ++x) {
        plane[x] = new (std::nothrow) Cell[height];
        if (plane[x] == nullptr) {
            ReleasePlane(plane, x);
            return nullptr;
        }
    }
    return plane;
}

// The edge stages read, beyond the cells the gradient writes, only the magnitude plane's frame
// one cell wide.
void ZeroFrame(WorkPlane<std::int32_t> plane, std::uint32_t width, std::uint32_t height) {
    if (width == 0 || height == 0) {
        return;
    }
    std::fill_n(plane[0], height, 0);
    std::fill_n(plane[width - 1], height, 0);
    for (std::uint32_t x = 1; x + 1 < width; ++x) {
        plane[x][0] = 0;
        plane[x][height - 1] = 0;
    }
}

} // namespace

PlaneAllocation::~PlaneAllocation() {
    ReleasePlane(MagnitudeCells, Width);
    ReleasePlane(DirectionCells, Width);
    ReleasePlane(ImageCells, Width);
}

bool PlaneAllocation::AllocateImage() {
    ImageCells = AllocatePlane<std::int32_t>(Width, Height);
    return ImageCells != nullptr;
}

bool PlaneAllocation::AllocateDirectionAndMagnitude() {
    DirectionCells = AllocatePlane<float>(Width, Height);
    MagnitudeCells = DirectionCells ? AllocatePlane<std::int32_t>(Width, Height) : nullptr;
    if (MagnitudeCells == nullptr) {
        ReleasePlane(DirectionCells, Width);
        return false;
    }
    ZeroFrame(MagnitudeCells, Width, Height);
    return true;
}

void PlaneAllocation::Install() {
    ImagePlane = std::exchange(ImageCells, nullptr);
    DirectionPlane = std::exchange(DirectionCells, nullptr);
    MagnitudePlane = std::exchange(MagnitudeCells, nullptr);
    PlaneWidth = Width;
    PlaneHeight = Height;
}

bool AllocatePlanes(std::uint32_t width, std::uint32_t height) {
    PlaneAllocation planes(width, height);
    if (!planes.AllocateImage() || !planes.AllocateDirectionAndMagnitude()) {
        return false;
    }
    planes.Install();
    return true;
}

void ReleasePlanes() {
    if (ImagePlane == nullptr) {
        return;
    }
    // Column by column across the three planes, then the three column arrays.
    for (std::uint32_t x = 0; x < PlaneWidth; ++x) {
        delete[] ImagePlane[x];
        delete[] DirectionPlane[x];
        delete[] MagnitudePlane[x];
    }
    delete[] ImagePlane;
    delete[] DirectionPlane;
    delete[] MagnitudePlane;
    ImagePlane = nullptr;
    DirectionPlane = nullptr;
    MagnitudePlane = nullptr;
}

} // namespace dorvane
