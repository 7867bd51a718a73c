#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "model/mesh.h"
#include "model/motion.h"
#include "preview/group_buffers.h"
#include "preview/pose.h"
#include "preview/prepare.h"
#include "tests/support/make_model.h"

namespace rv {
namespace {

TEST(PrepareMode3, MatchesOnPositionAndUvOnlyAndFansInCornerOrder) {
    Model m;
    m.positions = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {-0.0f, 0, 0}};
    m.normals = {{0, 0, -1}, {0, 1, 0}};
    m.uvs = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    m.skin.resize(5);
    m.groups[0].color = {300, 128.9f, -1, 255};  // truncated, low 8 bits
    m.tint = {255, 255, 255, 255};
    ModelPolygon quad;
    quad.cornerCount = 4;
    for (int c = 0; c < 4; ++c)
        quad.corners[std::size_t(c)] = {c, 0, 0, c};
    // A triangle reusing corner 0's position (as -0.0) and uv with another normal: same vertex.
    ModelPolygon tri;
    tri.cornerCount = 3;
    tri.corners = {ModelCorner{4, 1, 0, 0}, ModelCorner{2, 1, 0, 2}, ModelCorner{1, 1, 0, 3}};
    ModelPolygon line;
    line.cornerCount = 2;
    m.polygons = {quad, tri, line};

    const PreparedModel p = prepareMode3(m);
    ASSERT_EQ(p.groups.size(), 1u);
    const PreparedGroup& g = p.groups[0];
    // Vertex 4: position 1 with uv 3 is new; position 4 = position 0 and position 2 with uv 2 reuse.
    ASSERT_EQ(g.vertices.size(), 5u);
    EXPECT_EQ(g.triangleCount, 3);
    EXPECT_EQ(g.indices, (HugePageVector<std::uint32_t>{0, 1, 2, 0, 2, 3, 0, 2, 4}));
    EXPECT_EQ(g.vertices[0].nz, -1.0f) << "the first corner's normal stays";
    EXPECT_EQ(g.vertices[0].diffuse, 0xFF2C80FFu) << "300 -> 44, 128.9 -> 128, -1 -> 255";
    EXPECT_FALSE(g.wideIndices);
}

TEST(PrepareMode3, ColoursFromTheTableWithTintAndWideIndicesForBigGroups) {
    Model m = test::makeQuadGrid(70000);  // 266 x 266 distinct grid points
    m.vertexColorMode = 1;
    m.tint = {127.5f, 255, 255, 255};
    const PreparedModel p = prepareMode3(m);
    const PreparedGroup& g = p.groups[0];
    EXPECT_GT(g.vertices.size(), 65536u);
    EXPECT_TRUE(g.wideIndices);
    EXPECT_EQ(g.indices.size(), 70000u * 6);
    EXPECT_EQ(*std::max_element(g.indices.begin(), g.indices.end()), g.vertices.size() - 1);
    const ModelColor& c = m.colors[std::size_t(m.polygons[0].corners[0].color)];
    const PreparedVertex& v = g.vertices[0];
    EXPECT_EQ(v.diffuse >> 16 & 0xff, std::uint32_t(int(c.red * 0.5f)));
    EXPECT_EQ(v.diffuse >> 8 & 0xff, std::uint32_t(int(c.green)));
}

// Each triangle of group g as its three corner positions, in corner order from its lowest vertex
// (the same triangle whichever way it is numbered), sorted.
std::vector<std::array<float, 9>> trianglesOf(const PreparedGroup& g) {
    std::vector<std::array<float, 9>> out;
    for (std::size_t t = 0; t + 2 < g.indices.size(); t += 3) {
        std::array<float, 9> tri{};
        for (int k = 0; k < 3; ++k) {
            const PreparedVertex& v = g.vertices[g.indices[t + std::size_t(k)]];
            tri[std::size_t(k) * 3] = v.x;
            tri[std::size_t(k) * 3 + 1] = v.y;
            tri[std::size_t(k) * 3 + 2] = v.z;
        }
        out.push_back(tri);
    }
    std::sort(out.begin(), out.end());
    return out;
}

// A grid of 40 x 40 quads over a gentle hill, wound to face up.
Model hill() {
    Model m = test::makeQuadGrid(1600);
    for (ModelPolygon& p : m.polygons)
        std::swap(p.corners[1], p.corners[3]);
    computeNormals(m);
    return m;
}

TEST(VertexCacheOrder, ReordersOpaqueGroupsKeepingEveryTriangleAndItsCorners) {
    const Model m = hill();
    const PreparedModel before = prepareMode3(m);
    PreparedModel after = before;
    orderForVertexCache(after, orderFreeGroups(after, m, {}));
    const PreparedGroup &a = before.groups[0], &b = after.groups[0];
    EXPECT_NE(a.indices, b.indices);
    EXPECT_EQ(trianglesOf(a), trianglesOf(b));
    ASSERT_EQ(b.vertices.size(), a.vertices.size());
    // The arrays skinning reads were renumbered with the vertices.
    for (std::size_t v = 0; v < b.vertices.size(); ++v) {
        EXPECT_EQ(b.sourcePositions[v].x, b.vertices[v].x);
        EXPECT_EQ(b.sourcePositions[v].z, b.vertices[v].z);
        EXPECT_EQ(b.sourceUVs[v].u, b.vertices[v].u);
    }
    // First use order: each triangle brings at most the next unused numbers.
    std::uint32_t next = 0;
    for (const std::uint32_t i : b.indices) {
        ASSERT_LE(i, next);
        next = std::max(next, i + 1);
    }
}

TEST(VertexCacheOrder, KeepsThePolygonOrderWhereTheOrderShows) {
    Image opaque{2, 1, {9, 9, 9, 255, 9, 9, 9, 255}}, seeThrough{2, 1, {9, 9, 9, 255, 9, 9, 9, 128}};
    const auto reordered = [](const Model& m, const std::vector<Image>& images) {
        PreparedModel p = prepareMode3(m);
        const HugePageVector<std::uint32_t> indices = p.groups[0].indices;
        orderForVertexCache(p, orderFreeGroups(p, m, images));
        return p.groups[0].indices != indices;
    };
    Model textured = hill();
    textured.textures.resize(2);
    textured.textures[1].fileName = "a.png";
    textured.groups[0].textureIndex = 1;
    textured.groups[0].textured = 1;
    EXPECT_TRUE(reordered(textured, {Image{}, opaque}));
    EXPECT_FALSE(reordered(textured, {Image{}, seeThrough})) << "blended texels";
    EXPECT_FALSE(reordered(textured, {})) << "a missing image";
    textured.textures[1].fileName = "a.PSD";
    EXPECT_FALSE(reordered(textured, {Image{}, opaque})) << "PSD padding";

    Model translucent = hill();
    translucent.groups[0].color.alpha = 254;
    EXPECT_FALSE(reordered(translucent, {}));
    Model wire = hill();
    wire.groups[0].shadeParam = 2;
    EXPECT_FALSE(reordered(wire, {})) << "shared edges drawn twice";
    Model points = hill();
    points.fillMode = 0;
    EXPECT_FALSE(reordered(points, {}));

    // A decal: a quad lying on the hill's first quad ties in depth with it.
    Model decal = hill();
    ModelPolygon copy = decal.polygons[0];
    for (int c = 0; c < 4; ++c) {
        const ModelVertex p = decal.positions[std::size_t(copy.corners[std::size_t(c)].position)];
        decal.positions.push_back(p);
        decal.uvs.push_back({0.5f, 0.5f});
        decal.skin.emplace_back();
        copy.corners[std::size_t(c)].position = copy.corners[std::size_t(c)].uv = int(decal.positions.size()) - 1;
    }
    decal.polygons.push_back(copy);
    EXPECT_FALSE(reordered(decal, {}));
}

TEST(NarrowIndexRuns, CoverEveryTriangleWithinSixteenBitsOfTheirBase) {
    // Triangles walking across 200,000 vertices, each near the last.
    std::vector<std::uint32_t> indices;
    for (std::uint32_t t = 0; t < 100000; ++t)
        indices.insert(indices.end(), {2 * t, 2 * t + 1 + (t % 7) * 300, t % 3 == 0 ? 2 * t + 2 : 2 * t + 5});
    const std::vector<IndexRun> runs = narrowIndexRuns(indices);
    ASSERT_GT(runs.size(), 2u);
    std::size_t expected = 0;
    for (const IndexRun& run : runs) {
        EXPECT_EQ(run.first, expected);
        EXPECT_EQ(run.count % 3, 0u);
        for (std::size_t i = run.first; i < run.first + run.count; ++i) {
            ASSERT_GE(indices[i], run.base);
            ASSERT_LE(indices[i] - run.base, 65535u);
        }
        expected += run.count;
    }
    EXPECT_EQ(expected, indices.size());
    EXPECT_EQ(narrowIndexRuns(std::vector<std::uint32_t>{0, 1, 65535}).size(), 1u);
    EXPECT_TRUE(narrowIndexRuns(std::vector<std::uint32_t>{0, 1, 2, 0, 1, 65536}).empty())
        << "a triangle too wide for 16 bits leaves the list to 32-bit indices";
}

TEST(SubdivisionPasses, StayWithinTheModelLimits) {
    Model m = test::makeQuadGrid(100);
    m.subdivisionLevel = 65535;
    const int passes = subdivisionPasses(m);
    // Polygons 100, 400, 1600, 6400, 25600, then 102400 (over 65000); table entries grow by five
    // per quad: 400, 900, 2900, 10900, 42900. Four passes fit.
    EXPECT_EQ(passes, 4);
    Model copy = m;
    for (int i = 0; i < passes; ++i)
        subdivideQuads(copy);
    EXPECT_LE(copy.polygonCount(), kMaxPolygons);
    EXPECT_LE(copy.positionCount(), kMaxTableEntries);
    m.subdivisionLevel = 2;
    EXPECT_EQ(subdivisionPasses(m), 2);
}

TEST(Pose, SkinsByWeightAndGuardsBoneNumbers) {
    Model m;
    m.boneCount = 3;
    m.bones[1].position = {1, 0, 0};
    m.bones[2].position = {0, 1, 0};
    m.bones[2].parent = 1;
    ModelBoneKey up;
    up.position = {0, 2, 0};
    m.bones[1].tracks.assign(1, ModelBoneTrack{{up}, 1});
    m.bones[2].tracks.assign(1, ModelBoneTrack{{ModelBoneKey{}}, 1});
    ModelInstance instance;
    sizeInstance(instance, m);
    instance.playback.animating = true;
    advancePlayback(m, instance.playback);
    PoseState pose;
    computeBoneMatrices(m, instance, pose);
    EXPECT_TRUE(poseMoves(pose));
    // Bone 2 hangs from bone 1: its rest is (1, 1, 0) and it moves with bone 1.
    EXPECT_EQ(pose.rest[2][12], 1.0f);
    EXPECT_EQ(pose.rest[2][13], 1.0f);
    EXPECT_EQ(pose.global[2][13], 3.0f);

    const std::vector<ModelVertex> in{{5, 5, 5}, {5, 5, 5}, {5, 5, 5}, {5, 5, 5}};
    const std::vector<ModelSkinWeight> skin{{1, 0, 1.0f, 0}, {1, 0, 0.0f, 0}, {2, 0, 0.25f, 0}, {200, 0, 1.0f, 0}};
    std::vector<ModelVertex> out(4);
    skinPositions(in, skin, pose, out);
    EXPECT_EQ(out[0].y, 7.0f);  // moved up by 2 with bone 1
    EXPECT_EQ(out[1].y, 7.0f) << "weight 0 follows the first bone alone";
    EXPECT_EQ(out[2].y, 0.25f * 7 + 0.75f * 5);
    EXPECT_EQ(out[3].y, 5.0f) << "a bone past the count reads as bone 0";
}

TEST(Pose, BlendsFromThePreviousPoseAndEveryBlendEnds) {
    Model m;
    m.boneCount = 2;
    m.motions.resize(2);
    ModelBoneKey a, b;
    b.position = {10, 0, 0};
    m.bones[1].tracks = {ModelBoneTrack{{a}, 1}, ModelBoneTrack{{b}, 1}};
    ModelInstance instance;
    sizeInstance(instance, m);
    instance.playback.animating = true;
    PoseState pose;
    advancePlayback(m, instance.playback);
    computeBoneMatrices(m, instance, pose);
    ASSERT_TRUE(startMotion(m, instance.playback, 1, 4.0f / 60.0f));  // four steps
    std::vector<float> xs;
    for (int i = 0; i < 5; ++i) {
        advancePlayback(m, instance.playback);
        computeBoneMatrices(m, instance, pose);
        xs.push_back(pose.global[1][12]);
    }
    const float expected[] = {2.5f, 5, 7.5f, 10, 10};
    for (int i = 0; i < 5; ++i)
        EXPECT_NEAR(xs[std::size_t(i)], expected[i], 1e-4f) << "step " << i;
    EXPECT_FALSE(instance.playback.blend.running);

    // A blend with a step that never reaches 1 ends at once.
    instance.playback.blend.running = true;
    instance.playback.blend.progress = 0;
    instance.playback.blend.step = std::numeric_limits<float>::quiet_NaN();
    advancePlayback(m, instance.playback);
    EXPECT_FALSE(instance.playback.blend.running);
}

TEST(Pose, PlaybackLoopsOrGoesOnToTheNextMotion) {
    Model m;
    m.motions.resize(2);
    m.motions[0].frameCount = 3;
    m.motions[0].loop = 0;
    m.motions[0].nextMotion = 1;
    m.motions[1].frameCount = 2;
    ModelPlayback playback;
    playback.animating = true;
    std::vector<std::pair<int, int>> seen;
    for (int i = 0; i < 6; ++i) {
        advancePlayback(m, playback);
        seen.emplace_back(playback.motion, playback.frame);
    }
    EXPECT_EQ(seen, (std::vector<std::pair<int, int>>{{0, 1}, {0, 2}, {1, 0}, {1, 1}, {1, 0}, {1, 1}}));
}

}  // namespace
}  // namespace rv
