#pragma once

#include "pipeline_state.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace dorvane::testing {

// Column-major copy of ImagePlane, for comparisons.
using PlaneValues = std::vector<std::vector<std::int32_t>>;

// Gives every test fresh planes and releases them afterwards, so tests never see another test's
// pipeline state.
class PlaneTest : public ::testing::Test {
  protected:
    void TearDown() override { ReleasePlanes(); }

    static void MakePlanes(std::uint32_t width, std::uint32_t height, std::int32_t fill = 0) {
        ReleasePlanes();
        ASSERT_TRUE(AllocatePlanes(width, height));
        for (std::uint32_t x = 0; x < width; ++x) {
            for (std::uint32_t y = 0; y < height; ++y) {
                ImagePlane[x][y] = fill;
            }
        }
    }

    static PlaneValues Snapshot() {
        PlaneValues values(PlaneWidth, std::vector<std::int32_t>(PlaneHeight));
        for (std::uint32_t x = 0; x < PlaneWidth; ++x) {
            for (std::uint32_t y = 0; y < PlaneHeight; ++y) {
                values[x][y] = ImagePlane[x][y];
            }
        }
        return values;
    }
};

} // namespace dorvane::testing
