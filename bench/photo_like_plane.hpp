#pragma once

#include <cstdint>
#include <vector>

namespace dorvane::bench {

// A column-major width x height plane of gray values 0..255, the same on every run, with what a
// photograph has: smooth gradients, shapes with sharp edges, fine texture, sensor noise, and
// clipped shadows and highlights.
std::vector<std::int32_t> PhotoLikePlane(std::uint32_t width, std::uint32_t height);

// Allocates the work planes at width x height and copies the column-major values into ImagePlane.
bool LoadImagePlane(const std::vector<std::int32_t>& values, std::uint32_t width,
                    std::uint32_t height);

// Copies the column-major values into the current ImagePlane.
void CopyIntoImagePlane(const std::vector<std::int32_t>& values);

} // namespace dorvane::bench
