#include <gtest/gtest.h>

#include "model/mesh.h"
#include "tests/support/make_model.h"

namespace rv {
namespace {

TEST(PostLoad, BoundsAndAGroupWithoutPolygons) {
    Model m = test::makeSmallModel();
    m.groups.resize(3);
    m.positions.push_back({-4, 9, 0.5f});  // in the model bounds, in no polygon
    m.skin.push_back({});
    postLoad(m);
    EXPECT_EQ(m.boundsMin, (ModelVertex{-4, 0, 0}));
    EXPECT_EQ(m.boundsMax, (ModelVertex{2, 9, 0.5f}));
    EXPECT_EQ(m.groups[1].boundsMin, (ModelVertex{1, 0, 0}));
    EXPECT_EQ(m.groups[1].boundsMax, (ModelVertex{2, 1, 0}));
    EXPECT_EQ(m.groups[1].center, (ModelVertex{1.5f, 0.5f, 0}));
    EXPECT_EQ(m.groups[2].boundsMin, (ModelVertex{99999, 99999, 99999}));
    EXPECT_EQ(m.groups[2].boundsMax, (ModelVertex{-99999, -99999, -99999}));
    EXPECT_EQ(m.groups[2].center, (ModelVertex{0, 0, 0}));
}

TEST(PostLoad, RenderModeEightWinsOverSix) {
    Model m;
    m.groups.resize(2);
    m.renderModeDirty = 0;
    m.groups[0].mapA = 1;
    m.groups[0].mapATexture = 1;
    postLoad(m);
    EXPECT_EQ(m.renderMode, 6u);
    EXPECT_EQ(m.renderModeDirty, 1);
    m.groups[1].displacement = 1;
    m.groups[1].displacementTexture = 0;  // a switch without a texture does nothing
    postLoad(m);
    EXPECT_EQ(m.renderMode, 6u);
    m.groups[1].displacementTexture = 2;
    postLoad(m);
    EXPECT_EQ(m.renderMode, 8u);
}

TEST(PostLoad, KeyedGroupAnimatesAndLightFlagsAreReset) {
    Model m;
    m.groups[0].lightFlag = 0;
    m.groups[0].lightMode = 3;
    m.groups[0].keyed = 2;
    ModelInstance instance;
    postLoad(m, instance);
    EXPECT_TRUE(instance.playback.animating);
    EXPECT_EQ(instance.playback.uvOffsets.size(), 1u);
    EXPECT_EQ(m.groups[0].lightFlag, 1);
    EXPECT_EQ(m.groups[0].lightMode, 0);
}

TEST(PostLoad, BoneMatricesComposeParentsAndCentresAverageChildren) {
    Model m;
    m.boneCount = 4;
    m.bones[0].position = {100, 100, 100};  // the root stays at the origin
    m.bones[1].position = {1, 0, 0};
    m.bones[2].position = {0, 2, 0};
    m.bones[2].parent = 1;
    m.bones[3].position = {0, 0, 3};
    m.bones[3].parent = 2;
    ModelInstance instance;
    postLoad(m, instance);
    std::vector<std::array<float, 16>> matrices;
    for (const BoneRecord& bone : instance.bones)
        matrices.push_back(bone.matrix);
    ASSERT_EQ(matrices.size(), 4u);
    EXPECT_EQ(matrices[0][12], 0.0f);
    EXPECT_EQ(matrices[3][12], 1.0f);
    EXPECT_EQ(matrices[3][13], 2.0f);
    EXPECT_EQ(matrices[3][14], 3.0f);
    EXPECT_EQ(matrices[3][15], 1.0f);
    // Bone 1 at (1,0,0) with child 2 at (1,2,0); bone 2 with child 3 at (1,2,3).
    EXPECT_EQ(m.boneCenters[1], (ModelVertex{1, 1, 0}));
    EXPECT_EQ(m.boneChildCounts[1], 2);
    EXPECT_EQ(m.boneCenters[2], (ModelVertex{1, 2, 1.5f}));
    EXPECT_EQ(m.boneCenters[3], (ModelVertex{1, 2, 3}));
}

TEST(PostLoad, BindingTiesGoToTheLowerBone) {
    Model m;
    m.boneCount = 3;
    m.bones[1].position = {-1, 0, 0};
    m.bones[2].position = {1, 0, 0};
    m.positions = {{0, 5, 0}, {0.9f, 0, 0}, {0, 0, 0}};
    m.skin = {ModelSkinWeight{}, ModelSkinWeight{}, ModelSkinWeight{2, 1, 0.5f, 0}};
    postLoad(m);
    EXPECT_EQ(m.skin[0].bone, 1);
    EXPECT_EQ(m.skin[0].weight, 1.0f);
    EXPECT_EQ(m.skin[0].autoBind, 1);
    EXPECT_EQ(m.skin[1].bone, 2);
    EXPECT_EQ(m.skin[2], (ModelSkinWeight{2, 1, 0.5f, 0}));  // stored bones are kept
}

TEST(PostLoad, OneBoneBindsNothing) {
    Model m;
    m.boneCount = 1;
    m.positions = {{3, 3, 3}};
    m.skin = {ModelSkinWeight{}};
    postLoad(m);
    EXPECT_EQ(m.skin[0], ModelSkinWeight{});
}

TEST(PostLoad, OutOfRangeCountsAndIndicesAreHarmless) {
    Model m = test::makeSmallModel();
    m.boneCount = 500;
    m.bones[5].parent = 4000;
    m.polygons[0].corners[1].position = 1 << 30;
    m.polygons[1].group = 17;
    m.skin.pop_back();  // shorter than the positions
    ModelInstance instance;
    postLoad(m, instance);
    EXPECT_EQ(instance.bones.size(), 128u);
}

}  // namespace
}  // namespace rv
