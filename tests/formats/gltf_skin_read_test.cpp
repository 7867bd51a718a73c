// glTF skins and animations read into bones, skin weights and motions: our own export plays back
// the same poses, a corpus skin moves as glTF says, and what the model cannot hold is told once.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>

#include "app/convert.h"
#include "app/load.h"
#include "formats/gltf/gltf_builder.h"
#include "formats/gltf/gltf_reader.h"
#include "formats/kzp/kzp.h"
#include "model/bone_pose.h"
#include "tests/support/gltf_doc.h"
#include "tests/support/make_model.h"
#include "tests/support/test_support.h"

namespace rv {
namespace {

namespace fs = std::filesystem;

// What the mesh part of the reader hands on: every mesh node's positions as its mesh stores them,
// z negated, with where each came from.
std::optional<FormatError> readSkinOf(const tinygltf::Model& doc, Model& m, ReadContext& ctx) {
    std::vector<GltfVertexOrigin> origins;
    for (std::size_t n = 0; n < doc.nodes.size(); ++n) {
        const int mesh = doc.nodes[n].mesh;
        if (mesh < 0)
            continue;
        const auto& primitives = doc.meshes[std::size_t(mesh)].primitives;
        for (std::size_t p = 0; p < primitives.size(); ++p) {
            const tinygltf::Accessor& a = doc.accessors[std::size_t(primitives[p].attributes.at("POSITION"))];
            const tinygltf::BufferView& view = doc.bufferViews[std::size_t(a.bufferView)];
            const unsigned char* data =
                doc.buffers[std::size_t(view.buffer)].data.data() + view.byteOffset + a.byteOffset;
            const std::size_t stride = view.byteStride ? view.byteStride : 12;
            for (std::uint32_t v = 0; v < a.count; ++v) {
                float xyz[3];
                std::memcpy(xyz, data + v * stride, 12);
                m.positions.push_back({xyz[0], xyz[1], -xyz[2]});
                origins.push_back({int(n), mesh, int(p), v});
            }
        }
    }
    return readGltfSkin(doc, origins, m, ctx);
}

// Position v skinned at a frame as the preview skins it: relative to its bones' rest, through
// their global matrices, blended by weight.
std::array<double, 3> skinned(const Model& m, int motion, int frame, std::size_t v) {
    const std::vector<BoneMatrix> pose = poseBones(m, motion, frame);
    const std::vector<std::array<float, 3>> rest = restPositions(m);
    const ModelVertex& p = m.positions[v];
    auto through = [&](std::size_t b) {
        const double q[3] = {p.x - rest[b][0], p.y - rest[b][1], p.z - rest[b][2]};
        std::array<double, 3> out;
        for (std::size_t c = 0; c < 3; ++c)
            out[c] = q[0] * pose[b][c] + q[1] * pose[b][4 + c] + q[2] * pose[b][8 + c] + pose[b][12 + c];
        return out;
    };
    const ModelSkinWeight& w = m.skin[v];
    const std::array<double, 3> a = through(w.bone);
    if (!(w.weight > 0 && w.weight < 1))
        return a;
    const std::array<double, 3> b = through(w.bone2);
    return {a[0] * w.weight + b[0] * (1 - w.weight), a[1] * w.weight + b[1] * (1 - w.weight),
            a[2] * w.weight + b[2] * (1 - w.weight)};
}

ModelBoneKey key(int frame, std::array<float, 3> position, std::array<float, 4> rotation) {
    ModelBoneKey k;
    k.frame = frame;
    k.position = position;
    k.rotation = rotation;
    return k;
}

// Four bones in a chain and a branch, two motions keyed at different frames, every position bound
// to one or two bones.
Model makeWalker() {
    Model m = test::makeSmallModel();
    for (std::size_t i = 0; i < m.skin.size(); ++i)
        m.skin[i] = {std::uint8_t(1 + i % 3), std::uint8_t(3 - i % 3), i % 2 ? 0.25f : 1.0f, 0};
    m.boneCount = 4;
    const float h = std::sqrt(0.5f);
    m.bones[1].position = {0, 1, 0};
    m.bones[2] = defaultBone(2);
    m.bones[2].parent = 1;
    m.bones[2].position = {0, 1, 0.5f};
    m.bones[3] = defaultBone(3);
    m.bones[3].parent = 2;
    m.bones[3].position = {1, 0, 0};
    m.motions.resize(2);
    m.motions[0].name = "walk";
    m.motions[0].frameCount = 30;
    m.motions[1].name = "\x91\x96\x82\xe9";  // "走る"
    m.motions[1].frameCount = 40;
    for (int b = 0; b < 4; ++b)
        m.bones[std::size_t(b)].tracks.resize(2);
    m.bones[1].tracks[0].keys = {key(0, {0, 0, 0}, {0, 0, 0, 1}), key(10, {0, 0.5f, 0}, {0, h, 0, h}),
                                 key(20, {0.2f, 0, 0.3f}, {h, 0, 0, h})};
    m.bones[2].tracks[0].keys = {key(5, {0, 0, 0}, {0, 0, h, h}), key(15, {0, 0, 1}, {0, 0, -h, h})};
    m.bones[3].tracks[0].keys = {key(0, {0.1f, 0.2f, 0.3f}, {0, 0, 0, 2})};
    m.bones[2].tracks[1].keys = {key(0, {0, 0, 0}, {0, 0, 0, 1}), key(40, {1, 0, 0}, {0, 1, 0, 0})};
    m.bones[3].tracks[1].keys = {key(0, {0, 0, 0}, {0.1f, 0.2f, 0.3f, 0.9f}), key(13, {0, -1, 0}, {0, 0, 0, 1}),
                                 key(27, {0, 0, 0}, {-0.3f, 0.1f, 0, 0.9f})};
    return m;
}

TEST(GltfSkinRead, ExportedSkinnedKzpPlaysTheSamePoseAtEveryFrame) {
    test::TempDir dir;
    WriteContext kzp;
    ASSERT_FALSE(writeKzp(makeWalker(), kzp).has_value());
    test::writeBytes(dir.file("walker.kzp"), kzp.bytes);
    const LoadResult source = loadModelFile(dir.file("walker.kzp"));
    ASSERT_NE(source.model, nullptr);
    const std::string glb = dir.file("walker.glb");
    ASSERT_TRUE(saveModel(*source.model, ConversionTarget::Glb, glb).ok);

    // Through the whole reader and on into KZP again.
    const LoadResult read = loadModelFile(glb);
    ASSERT_NE(read.model, nullptr) << read.error->reason;
    EXPECT_TRUE(read.warnings.empty()) << read.warnings.front();  // scale keys of 1 are no loss
    ASSERT_TRUE(saveModel(*read.model, ConversionTarget::Kzp, dir.file("again.kzp")).ok);
    const LoadResult again = loadModelFile(dir.file("again.kzp"));
    ASSERT_NE(again.model, nullptr);
    const Model& back = *again.model;

    const Model& m = *source.model;
    ASSERT_EQ(back.boneCount, m.boneCount);
    ASSERT_EQ(back.motionCount(), 2);
    ASSERT_GE(back.positions.size(), m.positions.size());
    for (int b = 0; b < m.boneCount; ++b) {
        EXPECT_EQ(back.bones[std::size_t(b)].name, m.bones[std::size_t(b)].name);
        EXPECT_EQ(back.bones[std::size_t(b)].parent, m.bones[std::size_t(b)].parent);
    }
    for (int motion = 0; motion < 2; ++motion) {
        EXPECT_EQ(back.motions[std::size_t(motion)].name, m.motions[std::size_t(motion)].name);
        EXPECT_EQ(back.motions[std::size_t(motion)].frameCount, m.motions[std::size_t(motion)].frameCount);
        for (int frame = 0; frame <= m.motions[std::size_t(motion)].frameCount; ++frame) {
            const std::vector<BoneMatrix> want = poseBones(m, motion, frame), got = poseBones(back, motion, frame);
            for (std::size_t b = 0; b < want.size(); ++b)
                for (std::size_t i = 0; i < 16; ++i)
                    ASSERT_NEAR(got[b][i], want[b][i], 1e-4)
                        << "motion " << motion << " frame " << frame << " bone " << b;
            // glTF keeps a position per primitive: match by place.
            for (std::size_t v = 0; v < back.positions.size(); ++v) {
                std::size_t same = 0;
                while (same < m.positions.size() && !(m.positions[same] == back.positions[v]))
                    ++same;
                ASSERT_LT(same, m.positions.size());
                const auto a = skinned(m, motion, frame, same), b = skinned(back, motion, frame, v);
                for (std::size_t c = 0; c < 3; ++c)
                    ASSERT_NEAR(b[c], a[c], 1e-4) << "motion " << motion << " frame " << frame << " position " << v;
            }
        }
    }
}

TEST(GltfSkinRead, CorpusSkinsBendAsTheirAnimationsSay) {
    const fs::path file = fs::path(REVIZEVOZ_CORPUS) / "gltf/assimp/simple_skin.gltf";
    if (!fs::exists(file))
        GTEST_SKIP() << "no corpus";
    Model m;
    ReadContext ctx;
    ASSERT_FALSE(readSkinOf(test::loadGltfDocument(file.string()), m, ctx).has_value());
    EXPECT_TRUE(ctx.warnings.empty());
    // Two joints below the fixed root; the first binds away from the origin.
    ASSERT_EQ(m.boneCount, 3);
    EXPECT_EQ(m.bones[2].parent, 1);
    EXPECT_NEAR(m.bones[1].position[0], 0.5f, 1e-6);
    EXPECT_NEAR(m.bones[1].position[1], 1.0f, 1e-6);
    ASSERT_EQ(m.motionCount(), 1);
    EXPECT_EQ(m.motions[0].frameCount, 330);  // 5.5 seconds
    EXPECT_EQ(m.skin[4], (ModelSkinWeight{1, 2, 0.5f, 0}));
    EXPECT_EQ(m.skin[8], (ModelSkinWeight{2, 0, 1.0f, 0}));
    // The top vertex (0, 2, 0): at 0 s the joints stand 0.5 left of where they bind; at 1 s the
    // upper joint has turned a quarter about z around (0, 1, 0).
    const auto at0 = skinned(m, 0, 0, 8), at1 = skinned(m, 0, 60, 8);
    EXPECT_NEAR(at0[0], -0.5, 1e-4);
    EXPECT_NEAR(at0[1], 2.0, 1e-4);
    EXPECT_NEAR(at1[0], -1.0, 1e-3);
    EXPECT_NEAR(at1[1], 0.5, 1e-3);
    EXPECT_NEAR(at1[2], 0.0, 1e-4);

    // A morph animation is told once, with the morph targets it moves.
    const LoadResult cube = loadModelFile((fs::path(REVIZEVOZ_CORPUS) / "gltf/assimp/AnimatedMorphCube.gltf").string());
    ASSERT_NE(cube.model, nullptr);
    ASSERT_EQ(cube.warnings.size(), 1u);
    EXPECT_NE(cube.warnings[0].find("morph targets of 1 mesh dropped"), std::string::npos) << cube.warnings[0];

    // Joints bound turned (Blender's export), LINEAR and STEP samplers, scale keys of 1 give or
    // take a float's rounding. Expected: glTF's skinning with the two strongest joints, z negated.
    Model man;
    ReadContext manCtx;
    ASSERT_FALSE(
        readSkinOf(test::loadGltfDocument(fs::path(REVIZEVOZ_CORPUS) / "gltf/mjolnir/CesiumMan.glb"), man, manCtx));
    EXPECT_TRUE(manCtx.warnings.empty()) << manCtx.warnings.front();
    EXPECT_EQ(man.boneCount, 20);  // 19 joints below the fixed root
    EXPECT_EQ(man.motions[0].frameCount, 120);
    const struct {
        int frame;
        std::size_t vertex;
        std::array<double, 3> at;
    } expected[] = {{45, 485, {-0.000980636, 1.287666738, -0.178937137}},
                    {17, 1940, {0.020182360, 1.224122861, 0.062132364}},
                    {30, 2910, {0.044820869, 0.255665838, 0.004010668}}};
    for (const auto& e : expected) {
        const auto got = skinned(man, 0, e.frame, e.vertex);
        for (std::size_t c = 0; c < 3; ++c)
            EXPECT_NEAR(got[c], e.at[c], 1e-5) << "frame " << e.frame << " vertex " << e.vertex;
    }
}

// A triangle skinned to a chain of `joints` joints, with one animation turning the last one.
gltf::Builder skinnedTriangle(int joints, int skins = 1) {
    gltf::Builder b;
    b.doc.scenes.resize(1);
    const float positions[] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    const std::uint8_t jointIds[] = {0, 0, 0, 0, 0, 1, 0, 0, 1, 0, 0, 0};
    const float weights[] = {1, 0, 0, 0, 0.5f, 0.5f, 0, 0, 1, 0, 0, 0};
    tinygltf::Primitive primitive;
    primitive.attributes["POSITION"] = gltf::addFloats(b, positions, 3, TINYGLTF_TYPE_VEC3, 0, true);
    primitive.attributes["JOINTS_0"] =
        b.addAccessor(jointIds, 3, TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE, TINYGLTF_TYPE_VEC4, 0);
    primitive.attributes["WEIGHTS_0"] = gltf::addFloats(b, weights, 4, TINYGLTF_TYPE_VEC4, 0, false);
    b.doc.meshes.resize(1);
    b.doc.meshes[0].primitives.push_back(primitive);
    std::vector<float> ibm;
    for (int s = 0; s < skins; ++s) {
        tinygltf::Skin skin;
        for (int j = 0; j < joints; ++j) {
            tinygltf::Node node;
            if (j > 0)
                node.translation = {0, 0.1, 0};
            skin.joints.push_back(int(b.doc.nodes.size()));
            if (j > 0)
                b.doc.nodes.back().children.push_back(int(b.doc.nodes.size()));
            b.doc.nodes.push_back(node);
            const float m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, -0.1f * float(j), 0, 1};
            if (s == 0)
                ibm.insert(ibm.end(), m, m + 16);
        }
        b.doc.skins.push_back(skin);
        tinygltf::Node mesh;
        mesh.mesh = 0;
        mesh.skin = s;
        b.doc.nodes.push_back(mesh);
    }
    const int ibmAccessor = gltf::addFloats(b, ibm, 16, TINYGLTF_TYPE_MAT4, 0, false);
    for (tinygltf::Skin& skin : b.doc.skins)
        skin.inverseBindMatrices = ibmAccessor;
    const float times[] = {0, 1};
    const float turns[] = {0, 0, 0, 1, 0, 0, 1, 0};
    tinygltf::Animation animation;
    tinygltf::AnimationSampler sampler;
    sampler.input = gltf::addFloats(b, times, 1, TINYGLTF_TYPE_SCALAR, 0, true);
    sampler.output = gltf::addFloats(b, turns, 4, TINYGLTF_TYPE_VEC4, 0, false);
    animation.samplers.push_back(sampler);
    tinygltf::AnimationChannel channel;
    channel.sampler = 0;
    channel.target_node = joints - 1;
    channel.target_path = "rotation";
    animation.channels.push_back(channel);
    b.doc.animations.push_back(animation);
    return b;
}

// Reads the builder's document and returns the warnings.
std::vector<std::string> warningsOf(gltf::Builder& b, Model& m) {
    b.doc.buffers.resize(1);
    b.doc.buffers[0].data = b.bin;
    ReadContext ctx;
    ctx.path = "a.glb";
    const std::optional<FormatError> error = readSkinOf(b.doc, m, ctx);
    EXPECT_FALSE(error.has_value()) << error->reason;
    return ctx.warnings;
}

TEST(GltfSkinRead, DropsWhatTheModelCannotHoldWithOneWarningEach) {
    {
        gltf::Builder b = skinnedTriangle(3);
        Model m;
        EXPECT_TRUE(warningsOf(b, m).empty());
        EXPECT_EQ(m.boneCount, 3);  // the first joint rests at the origin: it is the fixed root
        EXPECT_EQ(m.motions[0].frameCount, 60);
    }
    {
        gltf::Builder b = skinnedTriangle(3, 2);
        Model m;
        const std::vector<std::string> warnings = warningsOf(b, m);
        ASSERT_EQ(warnings.size(), 1u);
        EXPECT_EQ(warnings[0], "a.glb: 2 skins; the model holds one: the meshes of the others stay in their bind pose");
        EXPECT_EQ(m.boneCount, 3);
        EXPECT_EQ(m.skin[5], (ModelSkinWeight{0, 0, 1.0f, 0}));  // the second mesh stays put
    }
    {
        gltf::Builder b = skinnedTriangle(130);
        Model m;
        const std::vector<std::string> warnings = warningsOf(b, m);
        ASSERT_EQ(warnings.size(), 1u);
        EXPECT_EQ(warnings[0], "a.glb: skin of 130 joints and 1 animation dropped; a model holds at most 128 bones: "
                               "the mesh stays in its bind pose");
        EXPECT_EQ(m.boneCount, 2);
        EXPECT_EQ(m.motionCount(), 1);
    }
    {
        gltf::Builder b = skinnedTriangle(2);
        const float times[] = {0, 1}, scales[] = {1, 1, 1, 2, 2, 2};
        tinygltf::AnimationSampler sampler;
        sampler.input = gltf::addFloats(b, times, 1, TINYGLTF_TYPE_SCALAR, 0, true);
        sampler.output = gltf::addFloats(b, scales, 3, TINYGLTF_TYPE_VEC3, 0, false);
        tinygltf::Animation& animation = b.doc.animations[0];
        animation.samplers.push_back(sampler);
        for (int node : {0, 1}) {
            tinygltf::AnimationChannel channel;
            channel.sampler = 1;
            channel.target_node = node;
            channel.target_path = "scale";
            animation.channels.push_back(channel);
        }
        // A mesh that moves of its own, and one that rides on joint 1 whole.
        tinygltf::Node prop, hat;
        prop.mesh = hat.mesh = 0;
        b.doc.nodes[1].children.push_back(int(b.doc.nodes.size()));
        b.doc.nodes.push_back(hat);
        tinygltf::AnimationChannel moving;
        moving.sampler = 1;
        moving.target_node = int(b.doc.nodes.size());
        moving.target_path = "translation";
        animation.channels.push_back(moving);
        b.doc.nodes.push_back(prop);
        b.doc.cameras.resize(1);
        b.doc.lights.resize(2);
        b.doc.meshes[0].primitives[0].targets.resize(1);
        Model m;
        const std::vector<std::string> warnings = warningsOf(b, m);
        EXPECT_EQ(warnings, (std::vector<std::string>{
                                "a.glb: morph targets of 1 mesh dropped; the mesh keeps its base shape",
                                "a.glb: 1 camera dropped",
                                "a.glb: 2 lights dropped",
                                "a.glb: 2 scale channels dropped; the motions move and turn the bones only",
                                "a.glb: the animations of 1 node outside the skin dropped",
                            }));
        EXPECT_EQ(m.skin[3], (ModelSkinWeight{1, 0, 1.0f, 0}));
        EXPECT_EQ(m.skin[6], (ModelSkinWeight{0, 0, 1.0f, 0}));
        EXPECT_EQ(m.bones[1].tracks[0].keys.back().scale, (std::array<float, 3>{1, 1, 1}));
    }
}

TEST(GltfSkinRead, RefusesIndicesPastTheirTables) {
    const std::pair<const char*, void (*)(gltf::Builder&)> cases[] = {
        {"joint index past the skin", [](gltf::Builder& b) { b.bin[b.doc.bufferViews[1].byteOffset + 4] = 7; }},
        {"inverse bind matrices past their view", [](gltf::Builder& b) { b.doc.accessors[3].byteOffset = 16; }},
        {"fewer inverse bind matrices than joints", [](gltf::Builder& b) { b.doc.accessors[3].count = 1; }},
        {"joint node past the nodes", [](gltf::Builder& b) { b.doc.skins[0].joints[1] = 99; }},
        {"channel sampler past the samplers", [](gltf::Builder& b) { b.doc.animations[0].channels[0].sampler = 3; }},
        {"channel node past the nodes", [](gltf::Builder& b) { b.doc.animations[0].channels[0].target_node = 99; }},
        {"fewer outputs than key times", [](gltf::Builder& b) { b.doc.accessors[5].count = 1; }},
        {"key times going back",
         [](gltf::Builder& b) {
             const float back = -1;
             std::memcpy(&b.bin[b.doc.bufferViews[4].byteOffset + 4], &back, 4);
         }},
        {"a joint turned by NaN",
         [](gltf::Builder& b) {
             b.doc.nodes[1].rotation = {NAN, 0, 0, 1};
         }},
        {"a node cycle", [](gltf::Builder& b) { b.doc.nodes[1].children.push_back(0); }},
        {"a view past its buffer", [](gltf::Builder& b) { b.doc.bufferViews[2].byteLength = 1 << 20; }},
    };
    for (const auto& [name, damage] : cases) {
        gltf::Builder b = skinnedTriangle(2);
        damage(b);
        b.doc.buffers.resize(1);
        b.doc.buffers[0].data = b.bin;
        Model m;
        ReadContext ctx;
        EXPECT_TRUE(readSkinOf(b.doc, m, ctx).has_value()) << name;
    }
}

}  // namespace
}  // namespace rv
