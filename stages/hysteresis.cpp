#include "hysteresis.hpp"

#include "pipeline_state.hpp"

namespace dorvane {

namespace {

// True when a magnitude in the square of the given radius around (x, y) exceeds the high
// threshold.
bool StrongCellWithin(std::int64_t x, std::int64_t y, std::int64_t radius) {
    for (std::int64_t dx = -radius; dx <= radius; ++dx) {
        for (std::int64_t dy = -radius; dy <= radius; ++dy) {
            if (MagnitudePlane[x + dx][y + dy] > HysteresisHigh) {
                return true;
            }
        }
    }
    return false;
}

std::int32_t Classify(std::int64_t x, std::int64_t y) {
    const std::int32_t m = MagnitudePlane[x][y];
    if (m < HysteresisLow) {
        return BackgroundCell;
    }
    if (m > HysteresisHigh) {
        return EdgeCell;
    }
    if (StrongCellWithin(x, y, 1)) {
        return EdgeCell;
    }
    // Only magnitudes strictly between the thresholds look two cells out; 65 and 80 do not.
    if (m > HysteresisLow && m < HysteresisHigh && StrongCellWithin(x, y, 2)) {
        return EdgeCell;
    }
    return BackgroundCell;
}

} // namespace

void HysteresisStage() {
    // After ReleasePlanes the sizes of the last load remain, but the planes are gone.
    if (ImagePlane == nullptr) {
        return;
    }
    for (std::int64_t y = HysteresisFrame; y + HysteresisFrame < std::int64_t{PlaneHeight}; ++y) {
        for (std::int64_t x = HysteresisFrame; x + HysteresisFrame < std::int64_t{PlaneWidth};
             ++x) {
            ImagePlane[x][y] = Classify(x, y);
        }
    }
}

} // namespace dorvane
