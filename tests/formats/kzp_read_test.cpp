#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "formats/common/byte_writer.h"
#include "formats/kzp/kzp.h"
#include "model/mesh.h"
#include "model/textures.h"
#include "tests/support/make_model.h"
#include "tests/support/test_support.h"

namespace rv {
namespace {

// Writes a model in the layout of any revision, independently of writeKzp, so that old files can
// be made by hand. It checks nothing: tests use it to make broken files too. cornerCount above 4
// repeats the last corner.
std::vector<std::byte> encodeKzp(const Model& m, std::int32_t rev) {
    std::vector<std::byte> out;
    ByteWriter w(out);
    const bool v2005 = rev >= 2005000, v2006 = rev >= 2006000, v2008 = rev >= 2008000, v2009 = rev >= 2009000;
    auto name = [&](const std::string& s) {
        w.i32(std::int32_t(s.size()));
        w.text(s);
    };
    auto count = [&](std::size_t n) { v2006 ? w.i32(std::int32_t(n)) : w.i16(std::int16_t(n)); };
    auto vec3 = [&](const ModelVertex& v) { w.f32(v.x), w.f32(v.y), w.f32(v.z); };
    auto color = [&](const ModelColor& c) { w.f32(c.red), w.f32(c.green), w.f32(c.blue), w.f32(c.alpha); };
    auto skin7 = [&](const ModelSkinWeight& s) { w.u8(s.bone), w.u8(s.bone2), w.f32(s.weight), w.u8(s.autoBind); };
    auto polygon = [&](const ModelPolygon& p, bool wide) {
        if (!wide)
            w.i32(0x55555555);
        w.u8(p.cornerCount);
        for (int c = 0; c < p.cornerCount; ++c) {
            const ModelCorner& k = p.corners[std::size_t(std::min(c, 3))];
            if (wide)
                w.i32(k.position), w.i32(k.normal), w.i32(k.color), w.i32(k.uv);
            else
                w.u16(std::uint16_t(k.position)), w.u16(std::uint16_t(k.normal)), w.u16(std::uint16_t(k.color)),
                    w.u16(std::uint16_t(k.uv));
        }
        w.i32(p.group);
    };

    w.text("KZP");
    w.i32(rev);
    count(m.positions.size()), count(m.normals.size()), count(m.colors.size()), count(m.uvs.size());
    for (const auto& v : m.positions)
        vec3(v);
    for (const auto& v : m.normals)
        vec3(v);
    for (const auto& c : m.colors)
        color(c);
    for (const auto& t : m.uvs)
        w.f32(t.u), w.f32(t.v);
    for (const auto& s : m.skin) {
        if (v2008)
            skin7(s);
        else
            w.i16(std::int16_t(s.bone | 0x100)), w.i16(std::int16_t(s.bone2 | 0x200)), w.f32(s.weight),
                w.i32(s.autoBind ? 7 : 0);
    }
    v2009 ? w.i32(m.polygonCount()) : w.i16(std::int16_t(m.polygonCount()));
    for (const auto& p : m.polygons)
        polygon(p, v2006);
    w.i16(std::int16_t(m.textureCount()));
    for (const auto& t : m.textures) {
        w.i32(t.kind);
        if (t.kind != 0)
            name(t.fileName);
    }
    if (v2006)
        w.i16(m.displacementOn), w.f32(m.displacementScale);
    w.i32(m.groupCount());
    for (const auto& g : m.groups) {
        name(g.name);
        w.i32(g.textureIndex), color(g.color), w.i32(g.shadeParam), w.u8(g.edgeParam);
        for (auto word : g.materialParams)
            w.u32(word);
        if (v2008) {
            w.u8(g.textured), w.i16(g.textureMode), w.u8(g.lightFlag), w.i16(g.lightMode);
            w.u8(g.effectA), w.f32(g.effectAValue), w.u8(g.effectB), w.f32(g.effectBValue);
            w.u8(g.mapA), w.i16(g.mapATexture), w.u8(g.displacement), w.i16(g.displacementTexture);
            w.f32(g.displacementValue), w.u8(g.mapC), w.i16(g.mapCTexture), w.u8(g.effectD), w.f32(g.effectDValue);
        }
        if (v2009) {
            w.i32(g.meshVertexCount());
            for (const auto& v : g.meshPositions)
                vec3(v);
            for (const auto& v : g.meshNormals)
                vec3(v);
            for (const auto& c : g.meshColors)
                color(c);
            for (const auto& t : g.meshUVs)
                w.f32(t.u), w.f32(t.v);
            for (const auto& s : g.meshSkin)
                skin7(s);
            w.i32(g.meshTriangleCount());
            for (const auto& t : g.meshTriangles)
                polygon(t, true);
        }
    }
    w.i32(m.lighting), w.i32(m.vertexColorMode), w.u32(m.settingsWords[0]), w.u32(m.settingsWords[1]);
    if (v2006)
        w.u16(m.subdivisionLevel);
    if (v2005) {
        w.i32(m.motionCount());
        for (const auto& mo : m.motions) {
            w.i32(1);
            if (v2006) {
                for (std::size_t g = 0; g < m.groups.size(); ++g) {
                    const ModelGroupKeyTable& t = mo.groupKeys[g % mo.groupKeys.size()];
                    const int n = g < mo.groupKeys.size() ? t.keyCount : 0;
                    w.i32(n);
                    for (int k = 0; k < n; ++k) {
                        const ModelGroupKey& key = t.keys[std::size_t(std::min(k, 15))];
                        w.i32(key.frame), w.i16(key.keyTexture), w.i16(key.keyValue);
                        for (float f : key.values)
                            w.f32(f);
                    }
                }
            }
            name(mo.name);
            w.i32(mo.frameCount);
        }
    }
    w.i32(m.boneCount);
    for (int b = 0; b < std::min(m.boneCount, kMaxBones); ++b) {
        const ModelBone& bone = m.bones[std::size_t(b)];
        if (!v2005) {
            w.i32(std::int32_t(bone.tracks[0].keys.size()));
            continue;
        }
        name(bone.name);
        w.i32(bone.parent);
        for (float f : bone.position)
            w.f32(f);
        for (float f : bone.rotation)
            w.f32(f);
        for (float f : bone.scale)
            w.f32(f);
        for (std::size_t mi = 0; mi < m.motions.size(); ++mi) {
            const auto& keys = bone.tracks[mi].keys;
            w.i32(std::int32_t(keys.size()));
            for (const auto& k : keys) {
                w.i32(k.frame);
                for (float f : k.position)
                    w.f32(f);
                for (float f : k.rotation)
                    w.f32(f);
                for (float f : k.scale)
                    w.f32(f);
            }
        }
    }
    if (v2008) {
        for (const auto& g : m.groups)
            w.u8(g.groupOption), w.i16(g.groupOptionValue);
        for (const auto& mo : m.motions)
            w.u8(mo.loop), w.i16(mo.nextMotion);
    }
    if (v2009) {
        for (const auto& g : m.groups) {
            w.u8(g.keyed);
            if (g.keyed == 1)
                w.i32(g.keyedA), w.i32(g.keyedB);
        }
    }
    return out;
}

constexpr std::int32_t kRevisions[] = {2004002, 2005000, 2006000, 2008000, 2009000};

// A triangle and a quad in two groups, one texture, two bones with one key each, one motion.
Model smallModel() {
    Model m = test::makeSmallModel();
    m.textures.push_back({1, "", "wood.bmp", "", 0, 0});
    m.groups[1].textureIndex = 1;
    m.bones[1].parent = 0;
    return m;
}

std::optional<FormatError> read(const std::vector<std::byte>& file, Model& out, const std::string& path = "a.kzp") {
    ReadContext ctx;
    ctx.path = path;
    return readKzp(file, out, ctx);
}

void putI32(std::vector<std::byte>& file, std::size_t at, std::int32_t v) { std::memcpy(file.data() + at, &v, 4); }

TEST(KzpRead, RefusesRevisionsItDoesNotKnowAsRevisionKinds) {
    using Kind = FormatError::Kind;
    const std::pair<std::int32_t, Kind> cases[] = {
        {2004001, Kind::RevisionTooOld},  {-5, Kind::RevisionTooOld},       {2009001, Kind::RevisionTooNew},
        {2007000, Kind::RevisionUnknown}, {2004003, Kind::RevisionUnknown}, {2008999, Kind::RevisionUnknown},
    };
    for (const auto& [revision, kind] : cases) {
        std::vector<std::byte> file = encodeKzp(smallModel(), 2009000);
        putI32(file, 3, revision);
        Model m;
        const auto error = read(file, m, "dir/a.kzp");
        ASSERT_TRUE(error) << revision;
        EXPECT_TRUE(error->userMessage);
        EXPECT_EQ(error->kind, kind) << revision;
        EXPECT_EQ(error->revision, revision);
    }
}

TEST(KzpRead, LoadsEveryRevisionOfTheSameModel) {
    const Model source = smallModel();
    for (std::int32_t rev : kRevisions) {
        SCOPED_TRACE(rev);
        Model m;
        m.folder = "/models";
        const auto error = read(encodeKzp(source, rev), m, "dir/a.kzp");
        ASSERT_FALSE(error) << error->message();
        EXPECT_EQ(m.revision, rev);
        EXPECT_EQ(m.fileName, "dir/a.kzp");
        EXPECT_EQ(m.folder, "/models");
        EXPECT_EQ(m.positions, source.positions);
        EXPECT_EQ(m.colors, source.colors);
        EXPECT_EQ(m.uvs, source.uvs);
        ASSERT_EQ(m.polygonCount(), 2);
        for (int p = 0; p < 2; ++p) {
            EXPECT_EQ(m.polygons[p].cornerCount, source.polygons[p].cornerCount);
            EXPECT_EQ(m.polygons[p].group, source.polygons[p].group);
            for (int c = 0; c < m.polygons[p].cornerCount; ++c) {
                EXPECT_EQ(m.polygons[p].corners[c].position, source.polygons[p].corners[c].position);
                EXPECT_EQ(m.polygons[p].corners[c].color, source.polygons[p].corners[c].color);
                EXPECT_EQ(m.polygons[p].corners[c].uv, source.polygons[p].corners[c].uv);
            }
        }
        ASSERT_EQ(m.skin.size(), source.skin.size());
        EXPECT_EQ(m.skin[0].autoBind, 1);  // 2004 to 2006 store 7 here; only "non-zero" survives
        EXPECT_EQ(m.skin[0].bone, 0);  // and only the low byte of the 16-bit bone
        ASSERT_EQ(m.textureCount(), 2);
        EXPECT_EQ(m.textures[1].fileName, "wood.bmp");
        EXPECT_EQ(m.textures[1].relativePath, "\\wood.bmp");
        ASSERT_EQ(m.groupCount(), 2);
        EXPECT_EQ(m.groups[1].name, "second");
        EXPECT_EQ(m.groups[1].textureIndex, 1);
        EXPECT_EQ(m.groups[1].color, (ModelColor{10, 20, 30, 255}));
        EXPECT_EQ(m.groups[0].textured, rev < 2008000 ? 1 : 0);
        EXPECT_EQ(m.groups[1].textured, rev < 2008000 ? 1 : 0);
        EXPECT_EQ(m.groups[0].edgeParam, rev == 2006000 ? 10 : 0);
        EXPECT_EQ(m.boneCount, 2);
        EXPECT_EQ(m.motionCount(), 1);
        EXPECT_EQ(m.fillMode, 2u);
        EXPECT_EQ(m.fromNativeFile, 1);
    }
}

TEST(KzpRead, OldRevisionsKeepStoredBytesOfSkinAndIndices) {
    Model source = smallModel();
    source.skin[2] = {0x7f, 0x12, 0.5f, 0};
    for (std::int32_t rev : {2004002, 2005000}) {
        Model m;
        ASSERT_FALSE(read(encodeKzp(source, rev), m)) << rev;
        EXPECT_EQ(m.skin[2].bone, 0x7f);
        EXPECT_EQ(m.skin[2].bone2, 0x12);
        EXPECT_EQ(m.skin[2].weight, 0.5f);
        EXPECT_EQ(m.skin[2].autoBind, 0);
    }
    // 16-bit corner indices are unsigned: 0xffff is position 65535, not -1.
    source.polygons[0].corners[1].position = 0xffff;
    Model m;
    const auto error = read(encodeKzp(source, 2005000), m);
    ASSERT_TRUE(error);
    EXPECT_NE(error->reason.find("position 65535"), std::string::npos) << error->reason;
}

TEST(KzpRead, Revision2004BonesAreKeyCountsOfDefaultKeys) {
    Model source = smallModel();
    source.bones[0].tracks[0].keys.assign(3, ModelBoneKey{7, {1, 2, 3}, {0, 0, 1, 0}, {2, 2, 2}});
    source.bones[1].tracks[0].keys.clear();
    Model m;
    ASSERT_FALSE(read(encodeKzp(source, 2004002), m));
    ASSERT_EQ(m.bones[0].tracks.size(), 1u);
    ASSERT_EQ(m.bones[0].tracks[0].keys.size(), 3u);
    for (const ModelBoneKey& key : m.bones[0].tracks[0].keys)
        EXPECT_EQ(key, ModelBoneKey{});
    ASSERT_EQ(m.bones[1].tracks.size(), 1u);
    EXPECT_TRUE(m.bones[1].tracks[0].keys.empty());
    EXPECT_EQ(m.motionCount(), 1);
    EXPECT_EQ(m.motions[0].frameCount, 60);
    EXPECT_EQ(m.bones[1].name, Model{}.bones[1].name);  // nothing else of a bone is stored
}

TEST(KzpRead, Revision2005GroupsAddedByTheFileStartZero) {
    Model m;
    ASSERT_FALSE(read(encodeKzp(smallModel(), 2005000), m));
    EXPECT_EQ(m.groups[0].effectAValue, 1.0f);
    EXPECT_EQ(m.groups[0].groupOptionValue, 1);
    EXPECT_EQ(m.groups[0].lightFlag, 1);
    EXPECT_EQ(m.groups[0].displacementValue, 1.0f);
    EXPECT_EQ(m.groups[1].effectAValue, 0.0f);
    EXPECT_EQ(m.groups[1].groupOptionValue, 0);
    EXPECT_EQ(m.groups[1].lightFlag, 0);
    EXPECT_EQ(m.groups[0].textured, 1);
    EXPECT_EQ(m.groups[1].textured, 1);
    for (const ModelMotion& motion : m.motions)
        for (const ModelGroupKeyTable& table : motion.groupKeys)
            EXPECT_EQ(table.keyCount, 0);
    EXPECT_EQ(m.subdivisionLevel, 4);  // not stored before 2006000
}

TEST(KzpRead, Revision2006SetsEdgeParamAndDisplacementSelectsMode8) {
    Model source = smallModel();
    source.groups[0].edgeParam = 3;
    source.displacementOn = 1;
    for (std::int32_t rev : {2006000, 2008000, 2009000}) {
        Model m;
        ASSERT_FALSE(read(encodeKzp(source, rev), m)) << rev;
        EXPECT_EQ(m.groups[0].edgeParam, rev == 2006000 ? 10 : 3) << rev;
        EXPECT_EQ(m.groups[1].edgeParam, rev == 2006000 ? 10 : 0) << rev;
        EXPECT_EQ(m.displacementOn, 1);
        EXPECT_EQ(m.renderMode, rev == 2009000 ? 3u : 8u) << rev;
        EXPECT_EQ(m.renderModeDirty, 1);
    }
    source.displacementOn = 0;
    Model m;
    ASSERT_FALSE(read(encodeKzp(source, 2008000), m));
    EXPECT_EQ(m.renderMode, 3u);
}

TEST(KzpRead, TextureEntriesOfKindZeroTakeFourBytesAndOnlyKindOneLoads) {
    Model source = smallModel();
    source.textures = {
        {0, "", "", "", 0, 0}, {1, "", "a.bmp", "", 0, 0}, {0, "", "", "", 0, 0}, {2, "", "b.png", "", 0, 0}};
    std::vector<std::byte> file = encodeKzp(source, 2009000);
    Model m;
    ReadContext ctx;
    ctx.path = "a.kzp";
    std::vector<std::pair<int, std::string>> loads;
    ASSERT_FALSE(readKzp(file, m, ctx));
    loadModelTextures(m, [&](Model& model, int entry, const std::string& name) {
        loads.push_back({entry, name});
        model.textures[std::size_t(entry)].width = 64;
        return true;
    });
    ASSERT_EQ(m.textureCount(), 4);
    EXPECT_EQ(m.textures[3].kind, 2);
    EXPECT_EQ(m.textures[3].fileName, "b.png");
    EXPECT_EQ(m.textures[3].relativePath, "");
    EXPECT_EQ(loads, (std::vector<std::pair<int, std::string>>{{1, "a.bmp"}}));
    EXPECT_EQ(m.textures[1].width, 64);

    // The table's bytes: count, kind 0, kind 1 with its name, kind 0, kind 2 with its name.
    const std::vector<std::byte> small = encodeKzp(smallModel(), 2009000);
    EXPECT_EQ(file.size() - small.size(), (2 + 4 + (4 + 4 + 5) + 4 + (4 + 4 + 5)) - (2 + 4 + (4 + 4 + 8)));
}

TEST(KzpRead, KeepsNamesUpToTheirZeroAndAcceptsTheLongestFields) {
    Model source = smallModel();
    source.groups[0].name = std::string(255, 'g');
    source.motions[0].name = std::string("mo\0tion", 7);
    source.bones[0].name = std::string(259, 'b');
    source.textures[1].fileName = std::string(255, 't');
    Model m;
    const auto error = read(encodeKzp(source, 2009000), m);
    ASSERT_FALSE(error) << error->message();
    EXPECT_EQ(m.groups[0].name, std::string(255, 'g'));
    EXPECT_EQ(m.motions[0].name, "mo");
    EXPECT_EQ(m.bones[0].name, std::string(259, 'b'));
    EXPECT_EQ(m.textures[1].fileName, std::string(255, 't'));
}

TEST(KzpRead, AcceptsIndexZeroIntoEmptyColourAndUvTablesAndAnyLineNormal) {
    // What a conversion from a format without colours or uvs carries.
    Model source = smallModel();
    source.colors.clear();
    source.uvs.clear();
    source.normals.clear();
    for (ModelPolygon& p : source.polygons)
        for (ModelCorner& c : p.corners)
            c.color = c.uv = 0;
    ModelPolygon line;
    line.cornerCount = 2;
    line.corners[0] = {0, 77, 0, 0};
    line.corners[1] = {1, -3, 0, 0};
    source.polygons.push_back(line);
    Model m;
    const auto error = read(encodeKzp(source, 2009000), m);
    ASSERT_FALSE(error) << error->message();
    EXPECT_EQ(m.polygons[2].corners[0].normal, 77);
}

TEST(KzpRead, IgnoresBytesAfterTheLastSection) {
    std::vector<std::byte> file = encodeKzp(smallModel(), 2008000);
    file.resize(file.size() + 10, std::byte{0xee});
    Model m;
    EXPECT_FALSE(read(file, m));
}

// The small model with the render meshes a save stores.
Model smallModelWithMeshes() {
    Model m = smallModel();
    buildGroupMeshes(m);
    return m;
}

TEST(KzpRead, RefusesEveryTruncation) {
    for (std::int32_t rev : kRevisions) {
        const std::vector<std::byte> whole = encodeKzp(smallModelWithMeshes(), rev);
        for (std::size_t n = 0; n < whole.size(); ++n) {
            const std::vector<std::byte> prefix(whole.begin(),
                                                whole.begin() + std::ptrdiff_t(n));  // own block for ASan
            Model m;
            const auto error = read(prefix, m);
            ASSERT_TRUE(error) << "revision " << rev << ": a " << n << "-byte prefix was accepted";
            EXPECT_FALSE(error->userMessage);
            EXPECT_LE(error->offset, n);
        }
    }
}

bool meshFitsItsVertices(const ModelGroup& g) {
    for (const ModelPolygon& t : g.meshTriangles)
        for (int c = 0; c < t.cornerCount; ++c)
            if (t.corners[c].position < 0 || t.corners[c].position >= g.meshVertexCount())
                return false;
    return true;
}

TEST(KzpRead, StoredMeshThatDoesNotHoldTogetherIsRebuiltWithOneWarning) {
    struct Case {
        const char* what;
        void (*spoil)(ModelGroup&);
        const char* expect;
    } cases[] = {
        {"vertex past the mesh", [](ModelGroup& g) { g.meshTriangles[0].corners[1].position = 99; }, "vertex 99"},
        {"negative vertex", [](ModelGroup& g) { g.meshTriangles[0].corners[2].position = -4; }, "vertex -4"},
        {"no vertices",
         [](ModelGroup& g) {
             g.meshPositions.clear(), g.meshNormals.clear(), g.meshColors.clear(), g.meshUVs.clear(),
                 g.meshSkin.clear();
         },
         "vertex 0"},
        {"six corners", [](ModelGroup& g) { g.meshTriangles[0].cornerCount = 6; }, "6 corners"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Model source = smallModelWithMeshes();
        const ModelGroup keptMesh = source.groups[0];
        c.spoil(source.groups[1]);
        const std::vector<std::byte> file = encodeKzp(source, 2009000);

        Model m;
        ReadContext ctx;
        ctx.path = "broken.kzp";
        const auto error = readKzp(file, m, ctx);
        ASSERT_FALSE(error) << error->message();
        ASSERT_EQ(ctx.warnings.size(), 1u);
        EXPECT_NE(ctx.warnings[0].find("broken.kzp: group 1 "), std::string::npos) << ctx.warnings[0];
        EXPECT_NE(ctx.warnings[0].find(c.expect), std::string::npos) << ctx.warnings[0];
        // Every other table loads; the sound mesh is kept as stored.
        EXPECT_EQ(m.textures[1].fileName, "wood.bmp");
        EXPECT_EQ(m.bones[0].tracks[0].keys.size(), 1u);
        EXPECT_EQ(m.groups[1].name, "second");
        EXPECT_EQ(m.groups[0].meshPositions, keptMesh.meshPositions);
        EXPECT_EQ(m.groups[0].meshTriangleCount(), keptMesh.meshTriangleCount());
        Model rebuilt = m;
        buildGroupMeshes(rebuilt);
        EXPECT_EQ(m.groups[1].meshPositions, rebuilt.groups[1].meshPositions);
        EXPECT_EQ(m.groups[1].meshSkin, rebuilt.groups[1].meshSkin);
        ASSERT_EQ(m.groups[1].meshTriangleCount(), 1);
        EXPECT_EQ(m.groups[1].meshTriangles[0].corners, rebuilt.groups[1].meshTriangles[0].corners);

        WriteContext out;
        ASSERT_FALSE(writeKzp(m, out));
        Model back;
        ReadContext again;
        ASSERT_FALSE(readKzp(out.bytes, back, again));
        EXPECT_TRUE(again.warnings.empty());
        EXPECT_EQ(back.groups[1].meshVertexCount(), 3);
        EXPECT_TRUE(meshFitsItsVertices(back.groups[1]));

        // A broken mesh in a truncated file is still a truncated file.
        for (std::size_t n = 0; n < file.size(); ++n) {
            const std::vector<std::byte> prefix(file.begin(), file.begin() + std::ptrdiff_t(n));
            Model p;
            ReadContext pctx;
            ASSERT_TRUE(readKzp(prefix, p, pctx)) << "a " << n << "-byte prefix was accepted";
            EXPECT_TRUE(pctx.warnings.empty());
        }
    }
}

TEST(KzpRead, RefusedFileLeavesTheModelAsItWas) {
    std::vector<std::byte> file = encodeKzp(smallModel(), 2009000);
    file.resize(file.size() - 1);
    Model m;
    m.folder = "keep";
    ASSERT_TRUE(read(file, m));
    EXPECT_EQ(m.folder, "keep");
    EXPECT_EQ(m.positionCount(), 0);
    EXPECT_EQ(m.groupCount(), 1);
}

// Each case breaks the small model one way and names a word the refusal must contain.
struct Broken {
    const char* what;
    void (*spoil)(Model&);
    const char* expect;
};

const Broken kBroken[] = {
    {"five corners", [](Model& m) { m.polygons[0].cornerCount = 5; }, "5 corners"},
    {"position past table", [](Model& m) { m.polygons[1].corners[2].position = 5; }, "position 5"},
    {"negative position", [](Model& m) { m.polygons[1].corners[0].position = -1; }, "position -1"},
    {"colour past table", [](Model& m) { m.polygons[0].corners[1].color = 2; }, "colour 2"},
    {"uv past table", [](Model& m) { m.polygons[0].corners[3].uv = 4; }, "uv 4"},
    {"group past table", [](Model& m) { m.polygons[1].group = 2; }, "group 2"},
    {"negative group", [](Model& m) { m.polygons[1].group = -1; }, "group -1"},
    {"texture past table", [](Model& m) { m.groups[0].textureIndex = 2; }, "texture 2"},
    {"negative texture", [](Model& m) { m.groups[0].textureIndex = -1; }, "texture -1"},
    {"129 bones", [](Model& m) { m.boneCount = 129; }, "129"},
    {"parent 128", [](Model& m) { m.bones[1].parent = 128; }, "parent 128"},
    {"parent -1", [](Model& m) { m.bones[1].parent = -1; }, "parent -1"},
    {"17 group keys", [](Model& m) { m.motions[0].groupKeys[1].keyCount = 17; }, "17"},
    {"negative group keys", [](Model& m) { m.motions[0].groupKeys[1].keyCount = -2; }, "-2"},
    {"group name 256 bytes", [](Model& m) { m.groups[1].name = std::string(256, 'n'); }, "256 bytes"},
    {"motion name 256 bytes", [](Model& m) { m.motions[0].name = std::string(256, 'n'); }, "256 bytes"},
    {"texture name 256 bytes", [](Model& m) { m.textures[1].fileName = std::string(256, 'n'); }, "256 bytes"},
    {"bone name 260 bytes", [](Model& m) { m.bones[1].name = std::string(260, 'n'); }, "260 bytes"},
    {"65001 polygons", [](Model& m) { m.polygons.resize(65001, m.polygons[1]); }, "65001"},
    {"260001 positions", [](Model& m) { m.positions.resize(260001), m.skin.resize(260001); }, "260001"},
    {"1025 motions",
     [](Model& m) {
         m.motions.resize(1025);
         for (int b = 0; b < m.boneCount; ++b)
             m.bones[b].tracks.resize(1025);
     },
     "1025"},
};

TEST(KzpRead, RefusesCountsBeyondTheLimitsAndIndicesPastTheirTables) {
    for (const Broken& c : kBroken) {
        Model source = smallModel();
        source.bones[0].tracks[0].keys.resize(2);
        c.spoil(source);
        const auto error = [&] {
            Model m;
            return read(encodeKzp(source, 2009000), m);
        }();
        ASSERT_TRUE(error) << c.what;
        EXPECT_NE(error->reason.find(c.expect), std::string::npos) << c.what << ": " << error->reason;
        EXPECT_FALSE(error->userMessage);
    }
}

TEST(KzpRead, RefusesGroupKeysPastTheFirst256Groups) {
    Model source = smallModel();
    source.groups.resize(300, source.groups[1]);
    source.motions[0].groupKeys.resize(300);
    Model ok;
    ASSERT_FALSE(read(encodeKzp(source, 2009000), ok));  // 300 groups, none past 255 with keys
    source.motions[0].groupKeys[256].keyCount = 1;
    Model m;
    const auto error = read(encodeKzp(source, 2009000), m);
    ASSERT_TRUE(error);
    EXPECT_NE(error->reason.find("group 256"), std::string::npos) << error->reason;
}

TEST(KzpRead, RefusesNegativeCountsAndOldBoneKeyCountsBeyondTheLimit) {
    // Offsets in a 2009000 file of the small model: counts at 7; polygon count after the tables.
    const Model source = smallModel();
    const std::size_t polygonsAt = 7 + 16 + 5 * 12 + 1 * 12 + 2 * 16 + 4 * 8 + 5 * 7;
    for (std::size_t at : {std::size_t(7), std::size_t(11), std::size_t(15), std::size_t(19), polygonsAt}) {
        std::vector<std::byte> file = encodeKzp(source, 2009000);
        putI32(file, at, -1);
        Model m;
        const auto error = read(file, m);
        ASSERT_TRUE(error) << at;
        EXPECT_NE(error->reason.find("negative"), std::string::npos) << error->reason;
    }
    Model many = source;
    many.bones[0].tracks[0].keys.resize(kMaxKzpDefaultKeys);
    many.bones[1].tracks[0].keys.resize(1);
    Model m;
    const auto error = read(encodeKzp(many, 2004002), m);
    ASSERT_TRUE(error);
    EXPECT_NE(error->reason.find("over the limit"), std::string::npos) << error->reason;
}

TEST(KzpRead, RefusesFilesShorterThanTheHeader) {
    for (std::size_t n = 0; n < 7; ++n) {
        const std::vector<std::byte> file(n, std::byte{'K'});
        Model m;
        EXPECT_TRUE(read(file, m)) << n;
    }
}

TEST(KzpRead, LoadsTheFixtures) {
    struct Fixture {
        const char* name;
        std::int32_t revision;
    } fixtures[] = {{"tri_2004002.kzp", 2004002},
                    {"tri_2005000.kzp", 2005000},
                    {"quad_2006000.kzp", 2006000},
                    {"quad_2008000.kzp", 2008000},
                    {"two_groups_2009000.kzp", 2009000}};
    for (const Fixture& f : fixtures) {
        const std::vector<std::byte> file = test::readBytes(std::string(REVIZEVOZ_TEST_DATA) + "/kzp/" + f.name);
        ASSERT_FALSE(file.empty()) << f.name;
        Model m;
        const auto error = read(file, m);
        ASSERT_FALSE(error) << f.name << ": " << error->message();
        EXPECT_EQ(m.revision, f.revision);
        EXPECT_GE(m.polygonCount(), 1);
    }
}

}  // namespace
}  // namespace rv
