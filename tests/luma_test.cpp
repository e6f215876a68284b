#include "gray_planes.hpp"

#include <gtest/gtest.h>

using namespace dorvane;

TEST(Luma, WeighsGreenRedBlueAndFloors) {
    struct Case {
        std::uint8_t Red, Green, Blue;
        std::int32_t Gray;
    };
    for (const Case& c : {Case{0, 0, 0, 0}, Case{1, 1, 1, 0}, Case{128, 128, 128, 127},
                          Case{255, 255, 255, 255}, Case{255, 0, 0, 76}, Case{0, 255, 0, 149},
                          Case{0, 0, 255, 29}, Case{100, 150, 200, 140}}) {
        EXPECT_EQ(Luma(c.Red, c.Green, c.Blue), c.Gray)
            << int{c.Red} << "," << int{c.Green} << "," << int{c.Blue};
    }
}

TEST(Luma, EveryGrayMapsToItselfOrOneBelow) {
    for (int value = 0; value < 256; ++value) {
        const auto v = static_cast<std::uint8_t>(value);
        const std::int32_t gray = Luma(v, v, v);
        EXPECT_TRUE(gray == value || gray == value - 1) << value;
    }
}
