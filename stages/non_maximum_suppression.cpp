#include "non_maximum_suppression.hpp"

#include "pipeline_state.hpp"

#include <optional>

namespace dorvane {

namespace {

constexpr std::int32_t EdgeCell = 0;
constexpr std::int32_t BackgroundCell = 255;

struct Offset {
    std::int64_t Dx, Dy;
};

// Direction cell truncated toward zero. Only values GradientStage never writes fall outside the
// range, and like -1 they select no neighbours.
std::optional<std::int32_t> TruncateDirection(float direction) {
    if (!(direction > -1.0F && direction < 136.0F)) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(direction);
}

// The first neighbour along the direction; the second lies opposite it.
std::optional<Offset> NeighbourOffset(std::int32_t direction) {
    switch (direction) {
    case 0:
        return Offset{1, 0};
    case 45:
        return Offset{1, 1};
    case 90:
        return Offset{0, 1};
    case 135:
        return Offset{1, -1};
    default:
        return std::nullopt;
    }
}

} // namespace

bool IsStrictLocalMaximum(std::int32_t value, std::int32_t first, std::int32_t second) {
    return value > first && value > second;
}

void NonMaximumSuppressionStage() {
    // After ReleasePlanes the sizes of the last load remain, but the planes are gone.
    if (ImagePlane == nullptr) {
        return;
    }
    for (std::int64_t y = 1; y + 1 < std::int64_t{PlaneHeight}; ++y) {
        for (std::int64_t x = 1; x + 1 < std::int64_t{PlaneWidth}; ++x) {
            const auto direction = TruncateDirection(DirectionPlane[x][y]);
            const auto offset = direction ? NeighbourOffset(*direction) : std::nullopt;
            if (!offset) {
                continue;
            }
            const std::int32_t first = MagnitudePlane[x + offset->Dx][y + offset->Dy];
            const std::int32_t second = MagnitudePlane[x - offset->Dx][y - offset->Dy];
            ImagePlane[x][y] = IsStrictLocalMaximum(MagnitudePlane[x][y], first, second)
                                   ? EdgeCell
                                   : BackgroundCell;
        }
    }
}

} // namespace dorvane
