#include <gtest/gtest.h>

#include <cmath>

#include "model/mesh.h"

namespace rv {
namespace {

// A model playing motion 0 of `length` frames whose bone 1 has keys at `frames`.
Model modelWithKeys(std::vector<int> frames, int length = 60) {
    Model m;
    m.motions[0].frameCount = length;
    m.bones[1].tracks[0].keys.clear();
    for (int f : frames) {
        ModelBoneKey key;
        key.frame = f;
        m.bones[1].tracks[0].keys.push_back(key);
    }
    m.animating = 1;
    return m;
}

TEST(FindKeys, BetweenKeysInterpolates) {
    Model m = modelWithKeys({0, 10, 30});
    m.playFrame = 15;
    findKeys(m);
    EXPECT_EQ(m.bones[1].currentKey, 1);
    EXPECT_FLOAT_EQ(m.bones[1].keyFactor, 0.25f);
    EXPECT_EQ(m.bones[0].currentKey, 0);  // one key: index 0, factor 0
    EXPECT_EQ(m.bones[0].keyFactor, 0.0f);
}

TEST(FindKeys, AfterTheLastKeyRunsAcrossTheLoop) {
    Model m = modelWithKeys({10, 20, 40});
    m.playFrame = 50;
    findKeys(m);
    EXPECT_EQ(m.bones[1].currentKey, 2);
    EXPECT_FLOAT_EQ(m.bones[1].keyFactor, 10.0f / 30.0f);  // (50 - 40) / (60 - 40 + 10)
}

TEST(FindKeys, BeforeTheFirstKeyRunsAcrossTheLoop) {
    Model m = modelWithKeys({10, 20, 40});
    m.playFrame = 4;
    findKeys(m);
    EXPECT_EQ(m.bones[1].currentKey, 2);
    EXPECT_FLOAT_EQ(m.bones[1].keyFactor, 24.0f / 30.0f);  // (60 - 40 + 4) / 30
}

TEST(FindKeys, EqualFramesGiveFactorZero) {
    Model m = modelWithKeys({0, 20, 20, 40});
    m.playFrame = 20;
    findKeys(m);
    EXPECT_EQ(m.bones[1].currentKey, 2);  // the last key at or before the frame
    Model loop = modelWithKeys({0, 60}, 60);  // the loop span 60 - 60 + 0 is empty
    loop.playFrame = 60;
    findKeys(loop);
    EXPECT_EQ(loop.bones[1].currentKey, 1);
    EXPECT_EQ(loop.bones[1].keyFactor, 0.0f);
    Model twin = modelWithKeys({5, 5});
    twin.playFrame = 5;
    findKeys(twin);
    EXPECT_TRUE(std::isfinite(twin.bones[1].keyFactor));
}

TEST(FindKeys, GroupKeyTablesAndOnlyWhileAnimating) {
    Model m = modelWithKeys({0, 30});
    ModelGroupKeyTable& table = m.motions[0].groupKeys[0];
    table.keyCount = 3;
    table.keys[0].frame = 0;
    table.keys[1].frame = 8;
    table.keys[2].frame = 16;
    m.playFrame = 12;
    findKeys(m);
    EXPECT_EQ(table.currentKey, 1);
    EXPECT_FLOAT_EQ(table.keyFactor, 0.5f);

    m.animating = 0;
    m.playFrame = 45;
    findKeys(m);
    EXPECT_EQ(m.bones[1].currentKey, 0);
}

TEST(StartMotion, RefusesOutOfRangeAndTheMotionItIsBlendingInto) {
    Model m;
    m.motions.resize(2);
    EXPECT_FALSE(startMotion(m, -1, 0));
    EXPECT_FALSE(startMotion(m, 2, 0));
    EXPECT_EQ(m.animating, 0);

    m.playFrame = 17;
    ASSERT_TRUE(startMotion(m, 1, 0.5f));
    EXPECT_EQ(m.animating, 1);
    EXPECT_EQ(m.playMotion, 1);
    EXPECT_EQ(m.playFrame, 0);
    EXPECT_TRUE(m.blend.running);
    EXPECT_EQ(m.blend.sourceFrame, 17);
    EXPECT_FLOAT_EQ(m.blend.step, 1.0f / 30.0f);
    EXPECT_FALSE(startMotion(m, 1, 0.5f));

    // A new start during a blend keeps the blend's source.
    ASSERT_TRUE(startMotion(m, 0, 0));
    EXPECT_EQ(m.blend.sourceFrame, 17);
    EXPECT_EQ(m.blend.step, 1.0f);
    EXPECT_FALSE(m.blend.running);
    EXPECT_TRUE(startMotion(m, 0, 0));  // no blend running: a restart is fine
}

TEST(ScrollTextures, KeyedGroupsMoveByAThousandthPerFrame) {
    Model m;
    m.groups.resize(2);
    m.groups[0].keyed = 1;
    m.groups[0].keyedA = 5;
    m.groups[0].keyedB = -2;
    m.groups[1].keyedA = 5;
    for (int i = 0; i < 1000; ++i)
        scrollTextures(m);
    EXPECT_NEAR(m.groups[0].uvOffsetU, 5.0, 1e-9);
    EXPECT_NEAR(m.groups[0].uvOffsetV, -2.0, 1e-9);
    EXPECT_EQ(m.groups[1].uvOffsetU, 0.0);
}

}  // namespace
}  // namespace rv
