#include "model/model.h"

#include <gtest/gtest.h>

#include <cstring>

namespace rv {
namespace {

TEST(ModelDefaults, NewModelHasOneGroupTextureMotionAndTwoBones) {
    const Model m;
    EXPECT_EQ(m.revision, 2009000);
    EXPECT_EQ(m.polygonCount(), 0);
    EXPECT_EQ(m.groupCount(), 1);
    EXPECT_EQ(m.textureCount(), 1);
    EXPECT_EQ(m.textures[0].kind, 0);
    EXPECT_EQ(m.boneCount, 2);
    EXPECT_EQ(m.motionCount(), 1);
    EXPECT_EQ(m.subdivisionLevel, 4);
    EXPECT_EQ(m.renderMode, 3u);
    EXPECT_EQ(m.renderModeDirty, 1);
    EXPECT_EQ(m.fillMode, 2u);
    EXPECT_EQ(m.attachmentCount, 1);
    EXPECT_EQ(m.tint, (ModelColor{255, 255, 255, 255}));
    EXPECT_EQ(m.motions[0].frameCount, 60);
    EXPECT_EQ(m.motions[0].nextMotion, -1);
    EXPECT_EQ(m.motions[0].groupKeys.size(), 256u);
}

TEST(ModelDefaults, TextDefaultsAreShiftJisBytes) {
    const Model m;
    EXPECT_EQ(m.groups[0].name, "\x83\x4f\x83\x8b\x81\x5b\x83\x76");
    EXPECT_EQ(m.bones[0].name, "\x90\x65\x83\x7b\x81\x5b\x83\x93");
    EXPECT_EQ(m.bones[7].name, "\x83\x7b\x81\x5b\x83\x93_07");
    EXPECT_EQ(m.bones[127].name, "\x83\x7b\x81\x5b\x83\x93_127");
    EXPECT_EQ(m.motions[0].name, "\x83\x82\x81\x5b\x83\x56\x83\x87\x83\x93\x96\xbc");
    EXPECT_EQ(m.fileName, "\x90\x56\x8b\x4b.KZP");
}

TEST(ModelDefaults, GroupMaterialWordsAndBoneTracks) {
    const Model m;
    const ModelGroup& g = m.groups[0];
    EXPECT_EQ(g.color, (ModelColor{200, 200, 200, 255}));
    EXPECT_EQ(g.shadeParam, 4);
    EXPECT_EQ(g.materialParams[2], floatBits(1.0f));
    EXPECT_EQ(g.materialParams[3], floatBits(1.0f));
    EXPECT_EQ(g.materialParams[5], 4u);
    EXPECT_EQ(g.materialParams[10], 64u);
    EXPECT_EQ(g.mirror(), 0);
    EXPECT_EQ(g.lightFlag, 1);
    EXPECT_EQ(g.groupOptionValue, 1);
    EXPECT_FLOAT_EQ(g.effectAValue, 1.0f);
    for (const ModelBone& bone : m.bones) {
        ASSERT_EQ(bone.tracks.size(), 1u);
        ASSERT_EQ(bone.tracks[0].keys.size(), 1u);
        EXPECT_EQ(bone.tracks[0].keys[0], ModelBoneKey{});
        EXPECT_EQ(bone.tracks[0].keys[0].rotation[3], 1.0f);
    }
}

TEST(ModelDefaults, ZeroGroupHasEveryFieldZero) {
    const ModelGroup g = zeroGroup();
    EXPECT_TRUE(g.name.empty());
    EXPECT_EQ(g.shadeParam, 0);
    EXPECT_EQ(g.lightFlag, 0);
    EXPECT_EQ(g.effectAValue, 0.0f);
    EXPECT_EQ(g.materialParams[5], 0u);
}

}  // namespace
}  // namespace rv
