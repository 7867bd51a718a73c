#include "model/registry.h"

#include <gtest/gtest.h>

namespace rv {
namespace {

class RegistryTest : public ::testing::Test {
protected:
    void TearDown() override { registry().releaseAll(); }
};

TEST_F(RegistryTest, ReleasedSlotIsReusedOnlyAfterCollection) {
    ModelRegistry& reg = registry();
    ASSERT_EQ(reg.create(), 0);
    reg.requestRelease(0);
    // Pending release: a new model takes the next slot number.
    EXPECT_EQ(reg.create(), 1);
    reg.collect();
    EXPECT_EQ(reg.get(0), nullptr);
    EXPECT_EQ(reg.create(), 0);
    EXPECT_NE(reg.get(0), nullptr);
    EXPECT_NE(reg.get(1), nullptr);
}

TEST_F(RegistryTest, NewModelIsResetAndInUse) {
    ModelRegistry& reg = registry();
    const int slot = reg.create();
    Model* m = reg.get(slot);
    ASSERT_NE(m, nullptr);
    EXPECT_FALSE(reg.isLoaded(slot));
    EXPECT_EQ(m->groupCount(), 1);
    ModelInstance* inst = reg.instance(slot);
    ASSERT_NE(inst, nullptr);
    EXPECT_EQ(inst->bones.size(), 2u);
    EXPECT_EQ(inst->textures.size(), 1u);
}

TEST_F(RegistryTest, GetOutsideTheSlotsGivesNone) {
    EXPECT_EQ(registry().get(-1), nullptr);
    EXPECT_EQ(registry().get(5), nullptr);
}

TEST_F(RegistryTest, CopyModelRefusesHighSlotsAndEmptySources) {
    ModelRegistry& reg = registry();
    const int a = reg.create();
    const int b = reg.create();
    reg.get(a)->positions.resize(3);
    reg.get(a)->groups[0].name = "copied";
    EXPECT_FALSE(reg.copyModel(a, 256, true));
    EXPECT_FALSE(reg.copyModel(7, b, true));
    ASSERT_TRUE(reg.copyModel(a, b, false));
    EXPECT_EQ(reg.get(b)->positions.size(), 3u);
    EXPECT_EQ(reg.get(b)->groups[0].name, "copied");
}

}  // namespace
}  // namespace rv
