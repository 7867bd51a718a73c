#include <gtest/gtest.h>

#include <cmath>

#include "model/motion.h"

namespace rv {
namespace {

// A model playing motion 0 of `length` frames whose bone 1 has keys at `frames`.
struct Playing {
    Model model;
    ModelPlayback playback;

    KeyPosition bone(int b) const { return playback.boneKeys[std::size_t(b)]; }
    void at(int frame) {
        playback.frame = frame;
        findKeys(model, playback);
    }
};

Playing withKeys(std::vector<int> frames, int length = 60) {
    Playing p;
    p.model.motions[0].frameCount = length;
    p.model.bones[1].tracks[0].keys.clear();
    for (int f : frames) {
        ModelBoneKey key;
        key.frame = f;
        p.model.bones[1].tracks[0].keys.push_back(key);
    }
    p.playback.animating = true;
    return p;
}

TEST(FindKeys, BetweenKeysInterpolates) {
    Playing p = withKeys({0, 10, 30});
    p.at(15);
    EXPECT_EQ(p.bone(1).key, 1);
    EXPECT_FLOAT_EQ(p.bone(1).factor, 0.25f);
    EXPECT_EQ(p.bone(0).key, 0);  // one key: index 0, factor 0
    EXPECT_EQ(p.bone(0).factor, 0.0f);
}

TEST(FindKeys, AfterTheLastKeyRunsAcrossTheLoop) {
    Playing p = withKeys({10, 20, 40});
    p.at(50);
    EXPECT_EQ(p.bone(1).key, 2);
    EXPECT_FLOAT_EQ(p.bone(1).factor, 10.0f / 30.0f);  // (50 - 40) / (60 - 40 + 10)
}

TEST(FindKeys, BeforeTheFirstKeyRunsAcrossTheLoop) {
    Playing p = withKeys({10, 20, 40});
    p.at(4);
    EXPECT_EQ(p.bone(1).key, 2);
    EXPECT_FLOAT_EQ(p.bone(1).factor, 24.0f / 30.0f);  // (60 - 40 + 4) / 30
}

TEST(FindKeys, EqualFramesGiveFactorZero) {
    Playing p = withKeys({0, 20, 20, 40});
    p.at(20);
    EXPECT_EQ(p.bone(1).key, 2);  // the last key at or before the frame
    Playing loop = withKeys({0, 60}, 60);  // the loop span 60 - 60 + 0 is empty
    loop.at(60);
    EXPECT_EQ(loop.bone(1).key, 1);
    EXPECT_EQ(loop.bone(1).factor, 0.0f);
    Playing twin = withKeys({5, 5});
    twin.at(5);
    EXPECT_TRUE(std::isfinite(twin.bone(1).factor));
}

TEST(FindKeys, GroupKeyTablesAndOnlyWhileAnimating) {
    Playing p = withKeys({0, 30});
    ModelGroupKeyTable& table = p.model.motions[0].groupKeys[0];
    table.keyCount = 3;
    table.keys[0].frame = 0;
    table.keys[1].frame = 8;
    table.keys[2].frame = 16;
    p.at(12);
    ASSERT_EQ(p.playback.groupKeys.size(), 1u);
    EXPECT_EQ(p.playback.groupKeys[0].key, 1);
    EXPECT_FLOAT_EQ(p.playback.groupKeys[0].factor, 0.5f);

    p.playback.animating = false;
    p.at(45);
    EXPECT_EQ(p.bone(1).key, 0);  // unchanged since frame 12
}

TEST(StartMotion, RefusesOutOfRangeAndTheMotionItIsBlendingInto) {
    Model m;
    ModelPlayback p;
    m.motions.resize(2);
    EXPECT_FALSE(startMotion(m, p, -1, 0));
    EXPECT_FALSE(startMotion(m, p, 2, 0));
    EXPECT_FALSE(p.animating);

    p.frame = 17;
    ASSERT_TRUE(startMotion(m, p, 1, 0.5f));
    EXPECT_TRUE(p.animating);
    EXPECT_EQ(p.motion, 1);
    EXPECT_EQ(p.frame, 0);
    EXPECT_TRUE(p.blend.running);
    EXPECT_EQ(p.blend.sourceFrame, 17);
    EXPECT_FLOAT_EQ(p.blend.step, 1.0f / 30.0f);
    EXPECT_FALSE(startMotion(m, p, 1, 0.5f));

    // A new start during a blend keeps the blend's source.
    ASSERT_TRUE(startMotion(m, p, 0, 0));
    EXPECT_EQ(p.blend.sourceFrame, 17);
    EXPECT_EQ(p.blend.step, 1.0f);
    EXPECT_FALSE(p.blend.running);
    EXPECT_TRUE(startMotion(m, p, 0, 0));  // no blend running: a restart is fine
}

TEST(ScrollTextures, KeyedGroupsMoveByAThousandthPerFrame) {
    Model m;
    ModelPlayback p;
    m.groups.resize(2);
    m.groups[0].keyed = 1;
    m.groups[0].keyedA = 5;
    m.groups[0].keyedB = -2;
    m.groups[1].keyedA = 5;
    for (int i = 0; i < 1000; ++i)
        scrollTextures(m, p);
    EXPECT_NEAR(p.uvOffsets[0][0], 5.0, 1e-9);
    EXPECT_NEAR(p.uvOffsets[0][1], -2.0, 1e-9);
    EXPECT_EQ(p.uvOffsets[1][0], 0.0);
}

TEST(PlaybackMoves, OnlyWhenFramesDiffer) {
    Playing still = withKeys({0});
    EXPECT_FALSE(playbackMoves(still.model, still.playback)) << "one key holds a pose";
    Playing moving = withKeys({0, 30});
    EXPECT_TRUE(playbackMoves(moving.model, moving.playback));
    moving.playback.animating = false;
    EXPECT_FALSE(playbackMoves(moving.model, moving.playback)) << "nothing started";

    Playing scrolling = withKeys({0});
    scrolling.model.groups[0].keyed = 1;
    scrolling.model.groups[0].keyedA = 5;
    EXPECT_TRUE(playbackMoves(scrolling.model, scrolling.playback));
    scrolling.model.groups[0].keyedA = 0;
    EXPECT_FALSE(playbackMoves(scrolling.model, scrolling.playback)) << "a scroll of zero";

    Playing keyedGroup = withKeys({0});
    keyedGroup.model.motions[0].groupKeys[0].keyCount = 2;
    EXPECT_TRUE(playbackMoves(keyedGroup.model, keyedGroup.playback));

    Playing handsOver = withKeys({0});
    handsOver.model.motions.resize(2);
    handsOver.model.motions[0].loop = 0;
    handsOver.model.motions[0].nextMotion = 1;
    EXPECT_TRUE(playbackMoves(handsOver.model, handsOver.playback));
    handsOver.playback.motion = 5;  // out of range: nothing plays
    EXPECT_FALSE(playbackMoves(handsOver.model, handsOver.playback));
}

}  // namespace
}  // namespace rv
