#include "warnings.hpp"

#include <gtest/gtest.h>

using namespace dorvane;

TEST(Warnings, SwitchStartsOnAndFollowsItsSetters) {
    EXPECT_TRUE(WarningsEnabled());
    DisableWarnings();
    EXPECT_FALSE(WarningsEnabled());
    DisableWarnings();
    EXPECT_FALSE(WarningsEnabled());
    EnableWarnings();
    EXPECT_TRUE(WarningsEnabled());
}
