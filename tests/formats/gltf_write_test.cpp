// glTF export: groups as primitives and materials, embedded textures, the handedness turn, the
// skeleton and its motions, and the text form with its buffer written all or nothing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>

#include "app/convert.h"
#include "app/load.h"
#include "formats/gltf/tinygltf.h"
#include "formats/kzp/kzp.h"
#include "model/bone_pose.h"
#include "model/mesh.h"
#include "runtime/image_write.h"
#include "tests/support/gltf_doc.h"
#include "tests/support/interop.h"
#include "tests/support/make_model.h"
#include "tests/support/test_support.h"

namespace rv {
namespace {

namespace fs = std::filesystem;

// An accessor's values as doubles, component after component.
std::vector<double> values(const tinygltf::Model& doc, int index) {
    const tinygltf::Accessor& a = doc.accessors[std::size_t(index)];
    const tinygltf::BufferView& view = doc.bufferViews[std::size_t(a.bufferView)];
    const unsigned char* p = doc.buffers[std::size_t(view.buffer)].data.data() + view.byteOffset + a.byteOffset;
    const std::size_t n = a.count * std::size_t(tinygltf::GetNumComponentsInType(std::uint32_t(a.type)));
    std::vector<double> out(n);
    for (std::size_t i = 0; i < n; ++i) {
        switch (a.componentType) {
        case TINYGLTF_COMPONENT_TYPE_FLOAT: {
            float v;
            std::memcpy(&v, p + i * 4, 4);
            out[i] = v;
            break;
        }
        case TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT: {
            std::uint32_t v;
            std::memcpy(&v, p + i * 4, 4);
            out[i] = v;
            break;
        }
        case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT: {
            std::uint16_t v;
            std::memcpy(&v, p + i * 2, 2);
            out[i] = v;
            break;
        }
        default: out[i] = p[i];
        }
    }
    return out;
}

// A 2x2 image in the runtime's raw "kzi" form, which no glTF reader knows.
std::vector<std::byte> kziImage() {
    std::vector<std::byte> bytes(16 + 16, std::byte{0x80});
    const std::uint32_t header[4] = {0, 0, 2, 2};
    std::memcpy(bytes.data(), header, 16);
    return bytes;
}

TEST(GltfWrite, GroupsBecomePrimitivesWithTheirMaterialsTexturesAndTurn) {
    test::TempDir dir;
    Image image;
    image.width = image.height = 2;
    image.rgba.assign(16, 200);
    const std::vector<std::byte> png = *encodePng(image);
    test::writeBytes(dir.file("skin.png"), png);
    test::writeBytes(dir.file("wood.kzi"), kziImage());

    Model m = test::makeSmallModel();
    m.folder = dir.path().string();
    m.positions[2].z = 0.5f;  // a quad that is not flat in z shows the turn
    m.uvs[1] = {0.25f, 0.75f};
    m.tint = {255, 255, 255, 255};
    m.groups[0].color = {255, 51, 0, 255};
    m.groups[1].color = {10, 20, 30, 100};
    m.groups.resize(4);
    const char* names[] = {"", "skin.png", "wood.kzi", "missing.png"};
    m.textures.resize(4);
    for (int t = 1; t < 4; ++t) {
        m.textures[std::size_t(t)].kind = 1;
        m.textures[std::size_t(t)].fileName = names[t];
    }
    for (int g : {0, 2, 3}) {
        m.groups[std::size_t(g)].textured = 1;
        m.groups[std::size_t(g)].textureIndex = g == 0 ? 1 : g;
    }
    ModelPolygon tri = m.polygons[1];
    for (int g : {2, 3}) {
        tri.group = g;
        m.polygons.push_back(tri);
    }
    ModelPolygon line;
    line.cornerCount = 2;
    line.corners[1].position = 1;
    m.polygons.push_back(line);
    computeNormals(m);
    postLoad(m);

    const std::string path = dir.file("small.glb");
    const SaveOutcome saved = saveModel(m, ConversionTarget::Glb, path);
    ASSERT_TRUE(saved.ok) << errorText(saved.error);
    ASSERT_EQ(saved.warnings.size(), 1u);
    EXPECT_NE(saved.warnings[0].find("missing.png"), std::string::npos);

    const tinygltf::Model doc = test::loadGltfDocument(path);
    ASSERT_EQ(doc.meshes.size(), 1u);
    const auto& prims = doc.meshes[0].primitives;
    ASSERT_EQ(prims.size(), 5u);
    EXPECT_EQ(doc.accessors[std::size_t(prims[0].indices)].count, 6u);  // the quad's two triangles
    EXPECT_EQ(doc.accessors[std::size_t(prims[0].indices)].componentType, TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT);
    // The line of group 0 follows as a primitive of its own with the group's material.
    EXPECT_EQ(prims[1].mode, TINYGLTF_MODE_LINE);
    EXPECT_EQ(prims[1].material, prims[0].material);
    EXPECT_EQ(prims[0].attributes.count("COLOR_0"), 0u);

    // The quad's triangles face the turned face normal when wound counter-clockwise.
    const std::vector<double> pos = values(doc, prims[0].attributes.at("POSITION"));
    const std::vector<double> uv = values(doc, prims[0].attributes.at("TEXCOORD_0"));
    const std::vector<double> idx = values(doc, prims[0].indices);
    const ModelVertex n = m.polygons[0].faceNormal;
    for (std::size_t t = 0; t < idx.size(); t += 3) {
        double p[3][3];
        for (int c = 0; c < 3; ++c)
            for (int a = 0; a < 3; ++a)
                p[c][a] = pos[std::size_t(idx[t + std::size_t(c)]) * 3 + std::size_t(a)];
        const double e1[3] = {p[1][0] - p[0][0], p[1][1] - p[0][1], p[1][2] - p[0][2]};
        const double e2[3] = {p[2][0] - p[0][0], p[2][1] - p[0][1], p[2][2] - p[0][2]};
        const double cross[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2],
                                 e1[0] * e2[1] - e1[1] * e2[0]};
        EXPECT_GT(cross[0] * n.x + cross[1] * n.y - cross[2] * n.z, 0) << "triangle " << t / 3;
    }
    bool sawTurnedZ = false, sawUV = false;
    for (std::size_t v = 0; v < pos.size() / 3; ++v) {
        sawTurnedZ = sawTurnedZ || pos[v * 3 + 2] == -0.5;
        sawUV = sawUV || (uv[v * 2] == 0.25 && uv[v * 2 + 1] == 0.75);  // v kept: both origins top left
    }
    EXPECT_TRUE(sawTurnedZ);
    EXPECT_TRUE(sawUV);

    ASSERT_EQ(doc.materials.size(), 4u);
    const auto& base0 = doc.materials[0].pbrMetallicRoughness.baseColorFactor;
    EXPECT_NEAR(base0[0], 1.0, 1e-6);
    EXPECT_NEAR(base0[1], 0.2, 1e-6);
    EXPECT_EQ(doc.materials[0].alphaMode, "OPAQUE");
    EXPECT_EQ(doc.materials[1].alphaMode, "BLEND");
    EXPECT_FALSE(doc.materials[0].doubleSided);
    EXPECT_EQ(doc.materials[1].pbrMetallicRoughness.baseColorTexture.index, -1);  // not textured
    EXPECT_EQ(doc.materials[3].pbrMetallicRoughness.baseColorTexture.index, -1);  // image missing
    ASSERT_EQ(doc.images.size(), 2u);
    for (const tinygltf::Image& im : doc.images)
        EXPECT_EQ(im.mimeType, "image/png");  // the PNG as it is, the kzi re-encoded
    const tinygltf::BufferView& view = doc.bufferViews[std::size_t(doc.images[0].bufferView)];
    const unsigned char* embedded = doc.buffers[0].data.data() + view.byteOffset;
    EXPECT_EQ(view.byteLength, png.size());
    EXPECT_EQ(std::memcmp(embedded, png.data(), png.size()), 0);

    // Past 65,535 vertices the indices take 32 bits.
    const Model grid = test::makeQuadGrid(20000);
    ASSERT_TRUE(saveModel(grid, ConversionTarget::Glb, dir.file("grid.glb")).ok);
    const tinygltf::Model big = test::loadGltfDocument(dir.file("grid.glb"));
    EXPECT_EQ(big.accessors[std::size_t(big.meshes[0].primitives[0].indices)].componentType,
              TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT);

    std::string log;
    const auto errors = test::gltfValidatorErrors({path, dir.file("grid.glb")}, &log);
    if (!test::gltfValidator().empty()) {
        for (const auto& [file, count] : errors)
            EXPECT_EQ(count, 0) << file << "\n" << log;
    }
}

TEST(GltfWrite, LinesAndPointsKeepEveryPolygon) {
    Model m = test::makeSmallModel();  // a quad in group 0, a triangle in group 1
    ModelPolygon line;
    line.cornerCount = 2;
    line.group = 1;
    line.corners[0].position = 0;
    line.corners[1].position = 2;
    m.polygons.push_back(line);
    ModelPolygon point;
    point.cornerCount = 1;
    point.group = 1;
    m.positions.push_back({7, -8, 9});  // used by the point alone: it must widen the bounds
    m.skin.resize(m.positions.size());
    point.corners[0].position = std::int32_t(m.positions.size()) - 1;
    m.polygons.push_back(point);
    point.corners[0].position = 3;
    m.polygons.push_back(point);
    computeNormals(m);
    postLoad(m);

    test::TempDir dir;
    const std::string path = dir.file("mixed.glb");
    ASSERT_TRUE(saveModel(m, ConversionTarget::Glb, path).ok);
    const tinygltf::Model doc = test::loadGltfDocument(path);
    const auto& prims = doc.meshes[0].primitives;
    ASSERT_EQ(prims.size(), 4u);
    EXPECT_EQ(prims[0].mode, TINYGLTF_MODE_TRIANGLES);
    EXPECT_EQ(prims[1].mode, TINYGLTF_MODE_TRIANGLES);
    EXPECT_EQ(prims[2].mode, TINYGLTF_MODE_LINE);
    EXPECT_EQ(prims[3].mode, TINYGLTF_MODE_POINTS);
    EXPECT_EQ(doc.accessors[std::size_t(prims[2].indices)].count, 2u);
    EXPECT_EQ(doc.accessors[std::size_t(prims[3].indices)].count, 2u);
    EXPECT_EQ(doc.materials.size(), 2u);
    EXPECT_EQ(prims[2].material, prims[1].material);
    EXPECT_EQ(prims[3].material, prims[1].material);
    const std::vector<double> pos = values(doc, prims[3].attributes.at("POSITION"));
    const std::vector<double> idx = values(doc, prims[3].indices);
    EXPECT_EQ(pos[std::size_t(idx[0]) * 3 + 2], -9);  // turned like every other position

    // Readers no one here wrote see all of it: 3 triangles, 1 line and 2 points.
    const std::string obj = dir.file("mixed.obj");
    ASSERT_TRUE(saveModel(m, ConversionTarget::Obj, obj).ok);
    if (test::haveAssimp()) {
        for (const std::string& file : {path, obj}) {
            const auto info = test::assimpInfo(file);
            ASSERT_TRUE(info.has_value()) << file;
            EXPECT_EQ(info->faces, 6) << file;
            EXPECT_NEAR(info->max[0], 7, 1e-6) << file;
            EXPECT_NEAR(info->min[2], -9, 1e-6) << file;
        }
    }
    std::string log;
    const auto errors = test::gltfValidatorErrors({path}, &log);
    if (!test::gltfValidator().empty()) {
        EXPECT_EQ(errors.at(path), 0) << log;
    }
}

TEST(GltfWrite, TexturedXGroupsEmbedEachImageOnce) {
    test::TempDir dir;
    Image image;
    image.width = image.height = 2;
    image.rgba.assign(16, 90);
    const std::vector<std::byte> png = *encodePng(image);
    test::writeBytes(dir.file("wood.png"), png);
    // Two materials naming the same image, as exporters write one material per colour.
    const std::string material = "  Material {\n   1;1;1;1;;\n   0;\n   0;0;0;;\n   0;0;0;;\n"
                                 "   TextureFilename {\n    \"wood.png\";\n   }\n  }\n";
    test::writeText(dir.file("box.x"),
                    "xof 0303txt 0032\nMesh {\n 4;\n 0;0;0;, 1;0;0;, 0;1;0;, 1;1;0;;\n 2;\n 3;0,1,2;, 3;1,3,2;;\n"
                    " MeshTextureCoords {\n  4;\n  0;0;, 1;0;, 0;1;, 1;1;;\n }\n"
                    " MeshMaterialList {\n  2;\n  2;\n  0,\n  1;\n" +
                        material + material + " }\n}\n");
    const LoadResult loaded = loadModelFile(dir.file("box.x"));
    ASSERT_NE(loaded.model, nullptr);
    ASSERT_EQ(loaded.model->groupCount(), 2);
    EXPECT_EQ(loaded.model->groups[0].textured, 1);
    EXPECT_EQ(loaded.model->groups[1].textured, 1);

    const std::string path = dir.file("box.glb");
    const SaveOutcome saved = saveModel(*loaded.model, ConversionTarget::Glb, path);
    ASSERT_TRUE(saved.ok) << errorText(saved.error);
    EXPECT_TRUE(saved.warnings.empty());
    const tinygltf::Model doc = test::loadGltfDocument(path);
    ASSERT_EQ(doc.images.size(), 1u);  // once, though two texture entries name it
    ASSERT_EQ(doc.materials.size(), 2u);
    EXPECT_EQ(doc.materials[0].pbrMetallicRoughness.baseColorTexture.index, 0);
    EXPECT_EQ(doc.materials[1].pbrMetallicRoughness.baseColorTexture.index, 0);
    const tinygltf::BufferView& view = doc.bufferViews[std::size_t(doc.images[0].bufferView)];
    ASSERT_EQ(view.byteLength, png.size());
    EXPECT_EQ(std::memcmp(doc.buffers[0].data.data() + view.byteOffset, png.data(), png.size()), 0);
}

// glTF node transforms, sampled at time t from the animation's channels.
struct Trs {
    std::array<double, 3> t{0, 0, 0}, s{1, 1, 1};
    std::array<double, 4> r{0, 0, 0, 1};
};

std::vector<double> sample(const tinygltf::Model& doc, const tinygltf::AnimationSampler& s, double time, int width) {
    const std::vector<double> in = values(doc, s.input), out = values(doc, s.output);
    std::size_t i = 0;
    while (i + 1 < in.size() && in[i + 1] <= time)
        ++i;
    const double f = i + 1 < in.size() && time > in[i] ? (time - in[i]) / (in[i + 1] - in[i]) : 0;
    const std::size_t j = std::min(i + 1, in.size() - 1);
    std::vector<double> a(out.begin() + long(i) * width, out.begin() + long(i + 1) * width);
    std::vector<double> b(out.begin() + long(j) * width, out.begin() + long(j + 1) * width);
    if (width == 4) {  // slerp
        double dot = 0;
        for (int k = 0; k < 4; ++k)
            dot += a[std::size_t(k)] * b[std::size_t(k)];
        if (dot < 0) {
            for (double& v : b)
                v = -v;
            dot = -dot;
        }
        const double angle = std::acos(std::min(1.0, dot));
        const double wa = angle < 1e-6 ? 1 - f : std::sin((1 - f) * angle) / std::sin(angle);
        const double wb = angle < 1e-6 ? f : std::sin(f * angle) / std::sin(angle);
        for (int k = 0; k < 4; ++k)
            a[std::size_t(k)] = wa * a[std::size_t(k)] + wb * b[std::size_t(k)];
        return a;
    }
    for (int k = 0; k < width; ++k)
        a[std::size_t(k)] += (b[std::size_t(k)] - a[std::size_t(k)]) * f;
    return a;
}

// p transformed by node n's global transform at time t of animation `anim`.
std::array<double, 3> place(const tinygltf::Model& doc, int n, const std::map<int, int>& parentOf, int anim,
                            double time, std::array<double, 3> p) {
    for (int node = n; node >= 0;) {
        const tinygltf::Node& nd = doc.nodes[std::size_t(node)];
        Trs trs;
        if (!nd.translation.empty())
            trs.t = {nd.translation[0], nd.translation[1], nd.translation[2]};
        for (const tinygltf::AnimationChannel& c : doc.animations[std::size_t(anim)].channels) {
            if (c.target_node != node)
                continue;
            const auto& s = doc.animations[std::size_t(anim)].samplers[std::size_t(c.sampler)];
            if (c.target_path == "translation") {
                auto v = sample(doc, s, time, 3);
                trs.t = {v[0], v[1], v[2]};
            }
            if (c.target_path == "scale") {
                auto v = sample(doc, s, time, 3);
                trs.s = {v[0], v[1], v[2]};
            }
            if (c.target_path == "rotation") {
                auto v = sample(doc, s, time, 4);
                trs.r = {v[0], v[1], v[2], v[3]};
            }
        }
        const double len =
            std::sqrt(trs.r[0] * trs.r[0] + trs.r[1] * trs.r[1] + trs.r[2] * trs.r[2] + trs.r[3] * trs.r[3]);
        const auto [x, y, z, w] = std::array<double, 4>{trs.r[0] / len, trs.r[1] / len, trs.r[2] / len, trs.r[3] / len};
        const double sp[3] = {p[0] * trs.s[0], p[1] * trs.s[1], p[2] * trs.s[2]};
        // q p q*, then the translation.
        p = {(1 - 2 * (y * y + z * z)) * sp[0] + 2 * (x * y - z * w) * sp[1] + 2 * (x * z + y * w) * sp[2] + trs.t[0],
             2 * (x * y + z * w) * sp[0] + (1 - 2 * (x * x + z * z)) * sp[1] + 2 * (y * z - x * w) * sp[2] + trs.t[1],
             2 * (x * z - y * w) * sp[0] + 2 * (y * z + x * w) * sp[1] + (1 - 2 * (x * x + y * y)) * sp[2] + trs.t[2]};
        const auto up = parentOf.find(node);
        node = up == parentOf.end() ? -1 : up->second;
    }
    return p;
}

ModelBoneKey key(int frame, std::array<float, 3> position, std::array<float, 4> rotation, float scale = 1) {
    ModelBoneKey k;
    k.frame = frame;
    k.position = position;
    k.rotation = rotation;
    k.scale = {scale, scale, scale};
    return k;
}

TEST(GltfWrite, SkinnedKzpMotionsPlaceJointsAsOurBoneMatrices) {
    Model m = test::makeSmallModel();
    for (ModelSkinWeight& s : m.skin)
        s = {2, 3, 0.25f, 0};
    m.skin[0] = {1, 0, 1.0f, 0};
    m.boneCount = 4;
    const float h = std::sqrt(0.5f);
    m.bones[1].position = {0, 1, 0};
    m.bones[2] = defaultBone(2);
    m.bones[2].parent = 1;
    m.bones[2].position = {0, 1, 0.5f};
    m.bones[3] = defaultBone(3);
    m.bones[3].parent = 1;
    m.bones[3].position = {1, 0, 0};
    m.motions.resize(2);
    m.motions[0].frameCount = 30;
    m.motions[1].frameCount = 40;
    for (int b = 0; b < 4; ++b)
        m.bones[std::size_t(b)].tracks.resize(2);
    m.bones[1].tracks[0].keys = {key(0, {0, 0, 0}, {0, 0, 0, 1}), key(10, {0, 0.5f, 0}, {0, h, 0, h}),
                                 key(20, {0.2f, 0, 0.3f}, {h, 0, 0, h}, 1.5f)};
    m.bones[2].tracks[0].keys = {key(5, {0, 0, 0}, {0, 0, h, h}),
                                 key(15, {0, 0, 1}, {0, 0, -h, h})};  // first key past 0
    m.bones[3].tracks[0].keys = {key(0, {0.1f, 0.2f, 0.3f}, {0, 0, 0, 2})};  // one key, not of unit length
    m.bones[2].tracks[1].keys = {key(0, {0, 0, 0}, {0, 0, 0, 1}), key(40, {1, 0, 0}, {0, 1, 0, 0})};
    m.bones[1].tracks[1].keys.clear();

    test::TempDir dir;
    WriteContext kzp;
    ASSERT_FALSE(writeKzp(m, kzp).has_value());
    test::writeBytes(dir.file("walker.kzp"), kzp.bytes);
    const LoadResult loaded = loadModelFile(dir.file("walker.kzp"));
    ASSERT_NE(loaded.model, nullptr);
    const std::string path = dir.file("walker.glb");
    ASSERT_TRUE(saveModel(*loaded.model, ConversionTarget::Glb, path).ok);

    const tinygltf::Model doc = test::loadGltfDocument(path);
    ASSERT_EQ(doc.skins.size(), 1u);
    const std::vector<int>& joints = doc.skins[0].joints;
    ASSERT_EQ(joints.size(), 4u);
    ASSERT_EQ(doc.animations.size(), 2u);
    std::map<int, int> parentOf;
    for (std::size_t n = 0; n < doc.nodes.size(); ++n)
        for (int c : doc.nodes[n].children)
            parentOf[c] = int(n);
    const std::array<double, 3> probe{0.3, -0.5, 0.7};
    for (int motion = 0; motion < 2; ++motion) {
        for (int frame = 0; frame <= m.motions[std::size_t(motion)].frameCount; ++frame) {
            const std::vector<BoneMatrix> ours = poseBones(*loaded.model, motion, frame);
            for (int b = 0; b < 4; ++b) {
                // Our probe, p x M (row vectors), turned; theirs, the turned probe through the node.
                const BoneMatrix& M = ours[std::size_t(b)];
                const double p[3] = {probe[0], probe[1], -probe[2]};
                double want[3];
                for (int c = 0; c < 3; ++c)
                    want[c] = p[0] * M[std::size_t(c)] + p[1] * M[std::size_t(4 + c)] + p[2] * M[std::size_t(8 + c)] +
                              M[std::size_t(12 + c)];
                want[2] = -want[2];
                const auto got = place(doc, joints[std::size_t(b)], parentOf, motion, frame / 60.0, probe);
                for (int c = 0; c < 3; ++c)
                    ASSERT_NEAR(got[std::size_t(c)], want[c], 1e-4)
                        << "motion " << motion << " frame " << frame << " bone " << b;
            }
        }
    }
    // The rest pose binds: each inverse bind matrix undoes its joint's rest position.
    const std::vector<double> ibm = values(doc, doc.skins[0].inverseBindMatrices);
    EXPECT_NEAR(ibm[16 * 2 + 12], 0, 1e-6);
    EXPECT_NEAR(ibm[16 * 2 + 13], -2, 1e-6);
    EXPECT_NEAR(ibm[16 * 2 + 14], 0.5, 1e-6);

    std::string log;
    const auto errors = test::gltfValidatorErrors({path}, &log);
    if (!test::gltfValidator().empty()) {
        EXPECT_EQ(errors.at(path), 0) << log;
    }
}

TEST(GltfWrite, TextFormWritesItsBufferBesideAndNothingOnFailure) {
    test::TempDir dir;
    const Model m = test::makeSmallModel();
    const SaveOutcome saved = saveModel(m, ConversionTarget::Gltf, dir.file("a b.gltf"));
    ASSERT_TRUE(saved.ok) << errorText(saved.error);
    EXPECT_TRUE(fs::is_regular_file(dir.file("a b.bin")));
    const tinygltf::Model doc = test::loadGltfDocument(dir.file("a b.gltf"));
    ASSERT_EQ(doc.buffers.size(), 1u);
    EXPECT_EQ(doc.buffers[0].uri, "a%20b.bin");
    EXPECT_EQ(doc.meshes[0].primitives.size(), 2u);

    // The buffer cannot take its place: neither file appears, and no temporary is left behind.
    fs::create_directory(dir.file("c.bin"));
    const SaveOutcome failed = saveModel(m, ConversionTarget::Gltf, dir.file("c.gltf"));
    EXPECT_FALSE(failed.ok);
    EXPECT_NE(errorText(failed.error).find("c.bin"), std::string::npos) << errorText(failed.error);
    EXPECT_FALSE(fs::exists(dir.file("c.gltf")));
    int entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path()))
        ++entries;
    EXPECT_EQ(entries, 3);  // a b.gltf, a b.bin, c.bin/
}

}  // namespace
}  // namespace rv
