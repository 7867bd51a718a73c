#include "model/vertex_hash.h"

#include <gtest/gtest.h>

#include "tests/model/linear_reference.h"

namespace rv {
namespace {

std::vector<std::int32_t> remapOf(const std::vector<std::array<float, 3>>& keys, std::size_t* distinct = nullptr) {
    std::vector<std::int32_t> remap(keys.size());
    const std::size_t n = buildFirstMatchRemap<3>(remap, keys);
    if (distinct)
        *distinct = n;
    return remap;
}

TEST(FirstMatchRemap, SignedZerosMatch) {
    std::size_t distinct = 0;
    EXPECT_EQ(remapOf({{-0.0f, 1, 0}, {0.0f, 1, -0.0f}, {1, 1, 1}, {0, 1, 0}}, &distinct),
              (std::vector<std::int32_t>{0, 0, 1, 0}));
    EXPECT_EQ(distinct, 2u);
}

TEST(FirstMatchRemap, NaNMatchesNothingNotEvenItself) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::size_t distinct = 0;
    EXPECT_EQ(remapOf({{nan, 0, 0}, {nan, 0, 0}, {1, 0, 0}, {nan, 0, 0}, {1, 0, 0}}, &distinct),
              (std::vector<std::int32_t>{0, 1, 2, 3, 2}));
    EXPECT_EQ(distinct, 4u);
    EXPECT_EQ(remapOf({}).size(), 0u);
}

TEST(FirstMatchRemap, MatchesLinearSearchOnRandomRuns) {
    std::mt19937 rng(7);
    for (int round = 0; round < 20; ++round) {
        std::vector<std::array<float, 2>> keys;
        std::vector<ModelUV> reference;
        std::vector<std::int32_t> expected;
        ModelUV value{};
        for (int i = 0; i < 3000; ++i) {
            if (rng() % 3 != 0)  // runs of repeats
                value = {test::trickyFloat(rng) * float(rng() % 40), test::trickyFloat(rng)};
            keys.push_back({value.u, value.v});
            expected.push_back(test::linearFirstMatch(reference, value));
        }
        std::vector<std::int32_t> remap(keys.size());
        ASSERT_EQ(buildFirstMatchRemap<2>(remap, keys), reference.size());
        ASSERT_EQ(remap, expected) << "round " << round;
    }
}

}  // namespace
}  // namespace rv
