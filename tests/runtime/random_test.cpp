#include "runtime/random.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>

namespace rv {
namespace {

TEST(Random, FloatAndIntFollowTheirRules) {
    seedRandom(7);
    EXPECT_EQ(RandomFloat(0), 0);
    EXPECT_EQ(RandomFloat(-3), 0);
    EXPECT_EQ(RandomFloat(0.0004f), 0);  // no thousandths to draw from
    std::set<float> whole;
    for (int i = 0; i < 400; ++i) {
        const float v = RandomFloat(3);
        EXPECT_EQ(v, std::floor(v));
        whole.insert(v);
    }
    EXPECT_EQ(whole, (std::set<float>{0, 1, 2, 3}));
    float largestFraction = 0;
    for (int i = 0; i < 2000; ++i) {
        const float v = RandomFloat(2.5f);
        ASSERT_GE(v, 0);
        const float fraction = v - std::floor(v);
        EXPECT_LT(fraction, 0.5f - 0.0005f);
        const float thousandths = fraction * 1000;
        EXPECT_NEAR(thousandths, std::round(thousandths), 0.01f);
        largestFraction = std::max(largestFraction, fraction);
    }
    EXPECT_GT(largestFraction, 0.45f);
    EXPECT_EQ(RandomInt(0), 0);
    EXPECT_EQ(RandomInt(-4), 0);
    for (int i = 0; i < 100; ++i) {
        const int n = RandomInt(5);
        EXPECT_GE(n, 0);
        EXPECT_LT(n, 5);
    }
}

}  // namespace
}  // namespace rv
