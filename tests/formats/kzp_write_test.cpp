#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "formats/common/file_io.h"
#include "formats/kzp/kzp.h"
#include "model/mesh.h"
#include "tests/support/make_model.h"
#include "tests/support/test_support.h"

namespace rv {
namespace {

std::vector<std::byte> save(const Model& m) {
    WriteContext ctx;
    const auto error = writeKzp(m, ctx);
    EXPECT_FALSE(error) << error->message();
    return ctx.bytes;
}

Model load(const std::vector<std::byte>& file) {
    Model m;
    ReadContext ctx;
    ctx.path = "back.kzp";
    const auto error = readKzp(file, m, ctx);
    EXPECT_FALSE(error) << error->message();
    return m;
}

std::int32_t i32At(const std::vector<std::byte>& file, std::size_t at) {
    std::int32_t v;
    std::memcpy(&v, file.data() + at, 4);
    return v;
}

// Where the polygon count of a written file lies: after the header, the counts, the tables and
// the 7-byte skin records.
std::size_t polygonsAt(const Model& m) {
    return 7 + 16 + std::size_t(m.positionCount()) * (12 + 7) + std::size_t(m.normalCount()) * 12 +
           std::size_t(m.colorCount()) * 16 + std::size_t(m.uvCount()) * 8;
}

// A model with a non-default value in every field the file stores.
Model everyField() {
    Model m = test::makeSmallModel();
    m.revision = 2005000;
    m.skin[1] = {3, 4, 0.25f, 0};
    m.skin[2] = {127, 1, 0.75f, 1};
    m.textures = {
        {0, "", "", "", 0, 0}, {1, "", "wood.bmp", "", 0, 0}, {2, "", "other.png", "", 0, 0}, {0, "", "", "", 0, 0}};
    m.displacementOn = 2;
    m.displacementScale = 0.5f;
    ModelGroup& g = m.groups[1];
    g.name = "\x83\x4f\x83\x8b";
    g.textureIndex = 2;
    g.shadeParam = 5;
    g.edgeParam = 9;
    for (int w = 0; w < 11; ++w)
        g.materialParams[std::size_t(w)] = 0x01020304u * std::uint32_t(w + 1);
    g.materialParams[3] = 0x7fc00001u;  // a NaN with a payload survives as bits
    g.textured = 1, g.textureMode = -7, g.lightFlag = 0, g.lightMode = 3;
    g.effectA = 1, g.effectAValue = 2.5f, g.effectB = 2, g.effectBValue = -1.5f;
    g.mapA = 1, g.mapATexture = 1, g.displacement = 1, g.displacementTexture = 2, g.displacementValue = 3.5f;
    g.mapC = 1, g.mapCTexture = 3, g.effectD = 4, g.effectDValue = 0.125f;
    g.groupOption = 1, g.groupOptionValue = 128;
    g.keyed = 1, g.keyedA = 17, g.keyedB = -23;
    m.groups[0].keyed = 2, m.groups[0].keyedA = 99, m.groups[0].keyedB = 98;  // 2 stores no speeds
    m.lighting = 0, m.vertexColorMode = 1, m.settingsWords = {0xdeadbeef, 0x12345678};
    m.subdivisionLevel = 2;
    m.motions.resize(2);
    m.motions[0].name = "walk";
    m.motions[0].frameCount = 120;
    m.motions[0].loop = 0;
    m.motions[0].nextMotion = 1;
    m.motions[1].name = "run";
    m.motions[1].nextMotion = -1;
    ModelGroupKeyTable& table = m.motions[1].groupKeys[1];
    table.keyCount = 2;
    table.keys[0] = {0, 1, -2, {1, 2, 3, 4}};
    table.keys[1] = {30, 2, 5, {-1, -2, -3, -4}};
    m.boneCount = 3;
    for (int b = 0; b < 3; ++b) {
        ModelBone& bone = m.bones[std::size_t(b)];
        bone.name = "bone" + std::to_string(b);
        bone.parent = b == 2 ? 1 : 0;
        bone.position = {float(b), 2, 3};
        bone.rotation = {0, 0.5f, 0, 0.5f};
        bone.scale = {1, 2, float(b)};
        bone.tracks.resize(2);
        bone.tracks[0].keys = {ModelBoneKey{5, {1, 2, 3}, {0, 0, 0, 1}, {1, 1, 1}}};
        bone.tracks[1].keys.assign(std::size_t(b), ModelBoneKey{7, {4, 5, 6}, {1, 0, 0, 0}, {2, 2, 2}});
    }
    return m;
}

bool sameBits(float a, float b) { return floatBits(a) == floatBits(b); }

TEST(KzpWrite, ReadsBackEveryStoredField) {
    Model m = everyField();
    const std::vector<std::byte> file = save(m);
    EXPECT_EQ(m.revision, 2005000);  // the file says 2009000; the model is left as it was
    ASSERT_EQ(i32At(file, 3), 2009000);
    Model built = m;
    buildGroupMeshes(built);
    EXPECT_EQ(std::memcmp(file.data(), "KZP", 3), 0);
    const Model r = load(file);

    EXPECT_EQ(r.revision, 2009000);
    EXPECT_EQ(r.positions, m.positions);
    EXPECT_EQ(r.colors, m.colors);
    EXPECT_EQ(r.uvs, m.uvs);
    EXPECT_EQ(r.skin, m.skin);
    ASSERT_EQ(r.polygonCount(), m.polygonCount());
    for (std::size_t p = 0; p < m.polygons.size(); ++p) {
        EXPECT_EQ(r.polygons[p].cornerCount, m.polygons[p].cornerCount);
        EXPECT_EQ(r.polygons[p].group, m.polygons[p].group);
        for (int c = 0; c < m.polygons[p].cornerCount; ++c) {
            EXPECT_EQ(r.polygons[p].corners[c].position, m.polygons[p].corners[c].position);
            EXPECT_EQ(r.polygons[p].corners[c].color, m.polygons[p].corners[c].color);
            EXPECT_EQ(r.polygons[p].corners[c].uv, m.polygons[p].corners[c].uv);
        }
    }
    ASSERT_EQ(r.textureCount(), 4);
    for (int t = 0; t < 4; ++t) {
        EXPECT_EQ(r.textures[t].kind, m.textures[t].kind);
        EXPECT_EQ(r.textures[t].fileName, m.textures[t].fileName);  // kind 2 keeps its name too
    }
    EXPECT_EQ(r.displacementOn, 2);
    EXPECT_EQ(r.displacementScale, 0.5f);
    ASSERT_EQ(r.groupCount(), 2);
    for (std::size_t i = 0; i < 2; ++i) {
        const ModelGroup& a = built.groups[i];
        const ModelGroup& b = r.groups[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(b.name, a.name);
        EXPECT_EQ(b.textureIndex, a.textureIndex);
        EXPECT_EQ(b.color, a.color);
        EXPECT_EQ(b.shadeParam, a.shadeParam);
        EXPECT_EQ(b.edgeParam, a.edgeParam);
        EXPECT_EQ(b.materialParams, a.materialParams);
        EXPECT_EQ(b.textured, a.textured);
        EXPECT_EQ(b.textureMode, a.textureMode);
        EXPECT_EQ(b.lightFlag, a.lightFlag);
        EXPECT_EQ(b.lightMode, a.lightMode);
        EXPECT_EQ(b.effectA, a.effectA);
        EXPECT_TRUE(sameBits(b.effectAValue, a.effectAValue));
        EXPECT_EQ(b.effectB, a.effectB);
        EXPECT_TRUE(sameBits(b.effectBValue, a.effectBValue));
        EXPECT_EQ(b.mapA, a.mapA);
        EXPECT_EQ(b.mapATexture, a.mapATexture);
        EXPECT_EQ(b.displacement, a.displacement);
        EXPECT_EQ(b.displacementTexture, a.displacementTexture);
        EXPECT_TRUE(sameBits(b.displacementValue, a.displacementValue));
        EXPECT_EQ(b.mapC, a.mapC);
        EXPECT_EQ(b.mapCTexture, a.mapCTexture);
        EXPECT_EQ(b.effectD, a.effectD);
        EXPECT_TRUE(sameBits(b.effectDValue, a.effectDValue));
        EXPECT_EQ(b.groupOption, a.groupOption);
        EXPECT_EQ(b.groupOptionValue, a.groupOptionValue);
        EXPECT_EQ(b.keyed, a.keyed);
        // The render mesh as the writer rebuilt it.
        EXPECT_EQ(b.meshPositions, a.meshPositions);
        EXPECT_EQ(b.meshNormals, a.meshNormals);
        EXPECT_EQ(b.meshColors, a.meshColors);
        EXPECT_EQ(b.meshUVs, a.meshUVs);
        EXPECT_EQ(b.meshSkin, a.meshSkin);
        ASSERT_EQ(b.meshTriangleCount(), a.meshTriangleCount());
        for (int t = 0; t < a.meshTriangleCount(); ++t) {
            EXPECT_EQ(b.meshTriangles[t].cornerCount, 3);
            EXPECT_EQ(b.meshTriangles[t].group, a.meshTriangles[t].group);
            EXPECT_EQ(b.meshTriangles[t].corners, a.meshTriangles[t].corners);
        }
    }
    EXPECT_EQ(r.groups[1].keyedA, 17);
    EXPECT_EQ(r.groups[1].keyedB, -23);
    EXPECT_EQ(r.groups[0].keyedA, 0);  // keyed 2 carried nothing
    EXPECT_EQ(r.groups[0].keyedB, 0);
    EXPECT_EQ(r.lighting, 0);
    EXPECT_EQ(r.vertexColorMode, 1);
    EXPECT_EQ(r.settingsWords, m.settingsWords);
    EXPECT_EQ(r.subdivisionLevel, 2);
    ASSERT_EQ(r.motionCount(), 2);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(r.motions[i].name, m.motions[i].name);
        EXPECT_EQ(r.motions[i].frameCount, m.motions[i].frameCount);
        EXPECT_EQ(r.motions[i].loop, m.motions[i].loop);
        EXPECT_EQ(r.motions[i].nextMotion, m.motions[i].nextMotion);
        for (std::size_t g = 0; g < 2; ++g) {
            const ModelGroupKeyTable& a = m.motions[i].groupKeys[g];
            const ModelGroupKeyTable& b = r.motions[i].groupKeys[g];
            ASSERT_EQ(b.keyCount, a.keyCount);
            for (int k = 0; k < a.keyCount; ++k)
                EXPECT_EQ(b.keys[k], a.keys[k]);
        }
    }
    ASSERT_EQ(r.boneCount, 3);
    for (std::size_t b = 0; b < 3; ++b) {
        const ModelBone& a = m.bones[b];
        const ModelBone& c = r.bones[b];
        EXPECT_EQ(c.name, a.name);
        EXPECT_EQ(c.parent, a.parent);
        EXPECT_EQ(c.position, a.position);
        EXPECT_EQ(c.rotation, a.rotation);
        EXPECT_EQ(c.scale, a.scale);
        ASSERT_EQ(c.tracks.size(), 2u);
        EXPECT_EQ(c.tracks[0].keys, a.tracks[0].keys);
        EXPECT_EQ(c.tracks[1].keys, a.tracks[1].keys);
    }
}

TEST(KzpWrite, EveryTruncationOfAWrittenFileIsRefused) {
    Model m = everyField();
    const std::vector<std::byte> whole = save(m);
    ASSERT_GT(load(whole).groups[1].meshVertexCount(), 0);  // the render meshes are in the file too
    for (std::size_t n = 0; n < whole.size(); ++n) {
        const std::vector<std::byte> prefix(whole.begin(), whole.begin() + std::ptrdiff_t(n));
        Model r;
        ReadContext ctx;
        ASSERT_TRUE(readKzp(prefix, r, ctx)) << "a " << n << "-byte prefix was accepted";
    }
}

TEST(KzpWrite, TwoSavesGiveIdenticalFiles) {
    Model m = everyField();
    const std::vector<std::byte> first = save(m);
    const std::vector<std::byte> second = save(m);
    EXPECT_EQ(first, second);
}

template <class T, class A>
bool sameBytes(const std::vector<T, A>& a, const std::vector<T, A>& b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0);
}

bool samePolygons(std::span<const ModelPolygon> a, std::span<const ModelPolygon> b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i].cornerCount != b[i].cornerCount || a[i].corners != b[i].corners || a[i].group != b[i].group ||
            std::memcmp(&a[i].faceNormal, &b[i].faceNormal, sizeof(ModelVertex)) != 0)
            return false;
    return true;
}

TEST(KzpWrite, SaveLeavesTheModelAsItWasAndWritesRebuiltMeshes) {
    Model m = everyField();
    // Group 0 holds a stale mesh that names vertices it lacks; group 1 has none.
    ModelGroup& stale = m.groups[0];
    stale.meshPositions = {{9, 9, 9}, {-0.0f, 1, 2}};
    stale.meshNormals = {{0, 0, 1}};
    stale.meshColors = {{1, 2, 3, 4}};
    stale.meshUVs = {};
    stale.meshSkin = {{5, 6, 0.5f, 0}};
    ModelPolygon bad;
    bad.cornerCount = 3;
    bad.corners = {ModelCorner{0, 1, 2, 3}, ModelCorner{7, 0, 0, 0}, ModelCorner{-1, 0, 0, 0}};
    bad.group = 5;
    stale.meshTriangles = {bad};
    m.polygons[0].faceNormal = {0.25f, -0.0f, 1};
    const Model before = m;

    const std::vector<std::byte> file = save(m);
    EXPECT_EQ(m.revision, before.revision);
    EXPECT_TRUE(sameBytes(m.positions, before.positions));
    EXPECT_TRUE(sameBytes(m.normals, before.normals));
    EXPECT_TRUE(sameBytes(m.colors, before.colors));
    EXPECT_TRUE(sameBytes(m.uvs, before.uvs));
    EXPECT_TRUE(sameBytes(m.skin, before.skin));
    EXPECT_TRUE(samePolygons(m.polygons, before.polygons));
    ASSERT_EQ(m.groupCount(), before.groupCount());
    for (std::size_t g = 0; g < m.groups.size(); ++g) {
        SCOPED_TRACE(g);
        const ModelGroup& a = m.groups[g];
        const ModelGroup& b = before.groups[g];
        EXPECT_TRUE(sameBytes(a.meshPositions, b.meshPositions));
        EXPECT_TRUE(sameBytes(a.meshNormals, b.meshNormals));
        EXPECT_TRUE(sameBytes(a.meshColors, b.meshColors));
        EXPECT_TRUE(sameBytes(a.meshUVs, b.meshUVs));
        EXPECT_TRUE(sameBytes(a.meshSkin, b.meshSkin));
        EXPECT_TRUE(samePolygons(a.meshTriangles, b.meshTriangles));
    }
    EXPECT_EQ(save(before), file);  // every stored field too

    Model built = before;
    buildGroupMeshes(built);
    const Model r = load(file);
    for (std::size_t g = 0; g < built.groups.size(); ++g) {
        SCOPED_TRACE(g);
        const ModelGroup& a = built.groups[g];
        const ModelGroup& b = r.groups[g];
        ASSERT_GT(a.meshVertexCount(), 0);
        EXPECT_EQ(b.meshPositions, a.meshPositions);
        EXPECT_EQ(b.meshNormals, a.meshNormals);
        EXPECT_EQ(b.meshColors, a.meshColors);
        EXPECT_EQ(b.meshUVs, a.meshUVs);
        EXPECT_EQ(b.meshSkin, a.meshSkin);
        EXPECT_TRUE(samePolygons(b.meshTriangles, a.meshTriangles));
    }
}

TEST(KzpWrite, TriangleTakes53BytesAndQuad69) {
    Model m = test::makeSmallModel();  // a quad (group 0) then a triangle (group 1)
    const std::vector<std::byte> file = save(m);
    const std::size_t at = polygonsAt(m);
    ASSERT_EQ(i32At(file, at), 2);
    const std::size_t quadAt = at + 4, triAt = quadAt + 69, texturesAt = triAt + 53;
    EXPECT_EQ(std::uint8_t(file[quadAt]), 4);
    EXPECT_EQ(i32At(file, quadAt + 1 + 2 * 16), 2);  // corner 2: position 2
    EXPECT_EQ(i32At(file, quadAt + 1 + 4 * 16), 0);  // group
    EXPECT_EQ(std::uint8_t(file[triAt]), 3);
    EXPECT_EQ(i32At(file, triAt + 1 + 16), 4);  // corner 1: position 4
    EXPECT_EQ(i32At(file, triAt + 1 + 16 + 8), 1);  // corner 1: colour 1
    EXPECT_EQ(i32At(file, triAt + 1 + 3 * 16), 1);  // group
    std::int16_t textures;
    std::memcpy(&textures, file.data() + texturesAt, 2);
    EXPECT_EQ(textures, 1);
    EXPECT_EQ(i32At(file, texturesAt + 2), 0);  // kind 0: four bytes, no name
}

TEST(KzpWrite, ModelWithoutMotionsWritesNoKeyTablesOrTracks) {
    Model m = test::makeSmallModel();
    m.motions.clear();
    const Model r = load(save(m));
    EXPECT_EQ(r.motionCount(), 0);
    EXPECT_TRUE(r.bones[0].tracks.empty());
    EXPECT_TRUE(r.bones[1].tracks.empty());
}

TEST(KzpWrite, GroupsPast255AreWrittenWithoutKeys) {
    Model m = test::makeSmallModel();
    m.groups.resize(300);
    m.motions[0].groupKeys.resize(300);
    m.motions[0].groupKeys[255].keyCount = 1;
    m.motions[0].groupKeys[255].keys[0].frame = 12;
    m.motions[0].groupKeys[290].keyCount = 3;
    const Model r = load(save(m));
    ASSERT_EQ(r.groupCount(), 300);
    EXPECT_EQ(r.motions[0].groupKeys.size(), 256u);
    EXPECT_EQ(r.motions[0].groupKeys[255].keyCount, 1);
    EXPECT_EQ(r.motions[0].groupKeys[255].keys[0].frame, 12);
}

TEST(KzpWrite, ConvertsARevision2004FileWithTheDefaultsItLacked) {
    const std::vector<std::byte> old = test::readBytes(std::string(REVIZEVOZ_TEST_DATA) + "/kzp/tri_2004002.kzp");
    Model m = load(old);
    ASSERT_EQ(m.revision, 2004002);
    const Model r = load(save(m));
    EXPECT_EQ(r.revision, 2009000);
    EXPECT_EQ(r.motionCount(), 1);
    EXPECT_EQ(r.motions[0].frameCount, 60);
    EXPECT_EQ(r.groups[0].textured, 1);
    EXPECT_EQ(r.groups[0].effectAValue, 1.0f);
    EXPECT_EQ(r.subdivisionLevel, 4);
    ASSERT_EQ(r.boneCount, 2);
    EXPECT_EQ(r.bones[0].tracks[0].keys.size(), 1u);
    EXPECT_TRUE(r.bones[1].tracks[0].keys.empty());
    EXPECT_EQ(r.bones[1].name, Model{}.bones[1].name);
}

TEST(KzpWrite, EmptyModelRoundTrips) {
    Model m;
    const Model r = load(save(m));
    EXPECT_EQ(r.positionCount(), 0);
    EXPECT_EQ(r.groupCount(), 1);
    EXPECT_EQ(r.textureCount(), 1);
    EXPECT_EQ(r.boneCount, 2);
    EXPECT_EQ(r.motionCount(), 1);
}

TEST(KzpWrite, RefusesWhatTheReaderWouldRefuse) {
    struct Case {
        const char* what;
        void (*spoil)(Model&);
        const char* expect;
    } cases[] = {
        {"group name", [](Model& m) { m.groups[1].name = std::string(256, 'x'); }, "group 1"},
        {"motion name", [](Model& m) { m.motions[0].name = std::string(300, 'x'); }, "motion 0"},
        {"bone name", [](Model& m) { m.bones[1].name = std::string(260, 'x'); }, "bone 1"},
        {"texture name",
         [](Model& m) {
             m.textures.push_back({3, "", std::string(256, 'x'), "", 0, 0});
         },
         "texture 1"},
        {"corners", [](Model& m) { m.polygons[1].cornerCount = 6; }, "6 corners"},
        {"position", [](Model& m) { m.polygons[1].corners[0].position = 5; }, "position 5"},
        {"uv", [](Model& m) { m.polygons[1].corners[0].uv = -1; }, "uv -1"},
        {"group", [](Model& m) { m.polygons[0].group = 2; }, "group 2"},
        {"texture index", [](Model& m) { m.groups[0].textureIndex = 1; }, "texture 1"},
        {"bone count", [](Model& m) { m.boneCount = 129; }, "129"},
        {"parent", [](Model& m) { m.bones[1].parent = 200; }, "parent 200"},
        {"group keys", [](Model& m) { m.motions[0].groupKeys[0].keyCount = 17; }, "17"},
        {"motions", [](Model& m) { m.motions.resize(kMaxKzpMotions + 1); }, "motion count"},
        {"polygons", [](Model& m) { m.polygons.resize(kMaxPolygons + 1, m.polygons[0]); }, "polygon count"},
    };
    for (const auto& c : cases) {
        Model m = test::makeSmallModel();
        m.revision = 2004002;
        c.spoil(m);
        WriteContext ctx;
        const auto error = writeKzp(m, ctx);
        ASSERT_TRUE(error) << c.what;
        EXPECT_NE(error->reason.find(c.expect), std::string::npos) << c.what << ": " << error->reason;
        EXPECT_EQ(error->where, FormatError::Where::Nowhere) << c.what;  // a model has no byte offset
        EXPECT_EQ(m.revision, 2004002);  // a refused save leaves the model's revision alone
    }
}

TEST(KzpWrite, LongestNamesAndEmbeddedZerosRoundTrip) {
    Model m = test::makeSmallModel();
    m.groups[0].name = std::string(255, 'g');
    m.bones[0].name = std::string(259, 'b');
    m.motions[0].name = std::string("cut\0here", 8);  // the field ends at its zero
    const Model r = load(save(m));
    EXPECT_EQ(r.groups[0].name, m.groups[0].name);
    EXPECT_EQ(r.bones[0].name, m.bones[0].name);
    EXPECT_EQ(r.motions[0].name, "cut");
}

TEST(KzpWrite, FileOnDiskLoadsBack) {
    test::TempDir dir;
    Model m = everyField();
    const std::vector<std::byte> bytes = save(m);
    const std::string path = dir.file("model.KZP");
    ASSERT_FALSE(writeFileAtomic(path, bytes));
    const auto back = readFile(path);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, bytes);
    EXPECT_EQ(load(*back).groups[1].keyedA, 17);
}

TEST(KzpWrite, CliConvertsOldRevisionsToTheNewest) {
    test::TempDir dir;
    for (const char* name : {"tri_2004002.kzp", "tri_2005000.kzp", "quad_2006000.kzp", "quad_2008000.kzp"}) {
        const std::string source = dir.file(name);
        test::writeBytes(source, test::readBytes(std::string(REVIZEVOZ_TEST_DATA) + "/kzp/" + name));
        const std::string command = std::string(REVIZEVOZ_CLI) + " convert --to kzp '" + source + "' > /dev/null";
        ASSERT_EQ(std::system(command.c_str()), 0) << name;
        const std::string stem = source.substr(0, source.size() - 4);
        const auto converted = readFile(stem + ".KZP");
        ASSERT_TRUE(converted) << name;
        const Model m = load(*converted);
        EXPECT_EQ(m.revision, 2009000) << name;
        EXPECT_GE(m.polygonCount(), 1) << name;
    }
}

}  // namespace
}  // namespace rv
