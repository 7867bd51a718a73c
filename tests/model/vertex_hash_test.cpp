#include "model/vertex_hash.h"

#include <gtest/gtest.h>

#include "tests/model/linear_reference.h"

namespace rv {
namespace {

using test::linearFirstMatch;

TEST(FirstMatchTable, SignedZerosMatchAndTheFirstBitsAreKept) {
    FirstMatchTable<3> table;
    bool added = false;
    EXPECT_EQ(table.findOrAdd({-0.0f, 1.0f, 0.0f}, &added), 0);
    EXPECT_TRUE(added);
    EXPECT_EQ(table.findOrAdd({0.0f, 1.0f, -0.0f}, &added), 0);
    EXPECT_FALSE(added);
    EXPECT_TRUE(std::signbit(table[0][0]));
    EXPECT_EQ(table.size(), 1u);
}

TEST(FirstMatchTable, NaNMatchesNothingNotEvenItself) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    FirstMatchTable<2> table;
    EXPECT_EQ(table.findOrAdd({nan, 0.0f}), 0);
    EXPECT_EQ(table.findOrAdd({nan, 0.0f}), 1);
    EXPECT_EQ(table.findOrAdd({1.0f, 0.0f}), 2);
    EXPECT_EQ(table.findOrAdd({1.0f, 0.0f}), 2);
    EXPECT_EQ(table.size(), 3u);
}

TEST(FirstMatchTable, MatchesLinearSearchOnRandomRunsThroughRehashes) {
    std::mt19937 rng(7);
    for (int round = 0; round < 20; ++round) {
        FirstMatchTable<2> table(4);  // small start: several rehashes with NaN keys inside
        std::vector<ModelUV> reference;
        ModelUV value{};
        for (int i = 0; i < 3000; ++i) {
            if (rng() % 3 != 0)  // runs of repeats
                value = {test::trickyFloat(rng) * float(rng() % 40), test::trickyFloat(rng)};
            const std::int32_t expected = linearFirstMatch(reference, value);
            ASSERT_EQ(table.findOrAdd({value.u, value.v}), expected) << "round " << round << " key " << i;
        }
        ASSERT_EQ(table.size(), reference.size());
    }
}

}  // namespace
}  // namespace rv
