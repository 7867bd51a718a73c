#include <gtest/gtest.h>

#include "model/mesh.h"
#include "tests/model/linear_reference.h"

namespace rv {
namespace {

// Welding by the first-match linear search, corner by corner.
Model linearWeld(Model m) {
    std::vector<ModelVertex> positions;
    std::vector<ModelSkinWeight> skin;
    std::vector<ModelColor> colors;
    std::vector<ModelUV> uvs;
    for (ModelPolygon& p : m.polygons)
        for (int c = 0; c < p.cornerCount; ++c) {
            ModelCorner& corner = p.corners[c];
            const std::size_t before = positions.size();
            const std::int32_t position = test::linearFirstMatch(positions, m.positions[std::size_t(corner.position)]);
            if (positions.size() > before)
                skin.push_back(m.skin[std::size_t(corner.position)]);
            corner.position = position;
            corner.color = test::linearFirstMatch(colors, m.colors[std::size_t(corner.color)]);
            corner.uv = test::linearFirstMatch(uvs, m.uvs[std::size_t(corner.uv)]);
        }
    m.positions.assign(positions.begin(), positions.end());
    m.skin.assign(skin.begin(), skin.end());
    m.colors.assign(colors.begin(), colors.end());
    m.uvs.assign(uvs.begin(), uvs.end());
    return m;
}

TEST(Weld, MatchesLinearSearchOnSignedZerosNaNAndRepeats) {
    std::mt19937 rng(3);
    for (int round = 0; round < 300; ++round) {
        const Model original = test::makeTrickyModel(rng, 1 + int(rng() % 25));
        const Model expected = linearWeld(original);
        Model m = original;
        weldModel(m);
        ASSERT_TRUE(test::sameBits(m.positions, expected.positions)) << "round " << round;
        ASSERT_TRUE(test::sameBits(m.colors, expected.colors)) << "round " << round;
        ASSERT_TRUE(test::sameBits(m.uvs, expected.uvs)) << "round " << round;
        ASSERT_EQ(m.skin, expected.skin) << "round " << round;
        for (std::size_t i = 0; i < m.polygons.size(); ++i)
            for (int c = 0; c < m.polygons[i].cornerCount; ++c) {
                const ModelCorner& got = m.polygons[i].corners[c];
                const ModelCorner& want = expected.polygons[i].corners[c];
                ASSERT_EQ(got.position, want.position) << "round " << round;
                ASSERT_EQ(got.color, want.color) << "round " << round;
                ASSERT_EQ(got.uv, want.uv) << "round " << round;
            }
    }
}

TEST(Weld, MergesAGridAndRecomputesNormals) {
    Model m;
    // Two quads side by side, each with its own four positions: the shared edge welds.
    for (int q = 0; q < 2; ++q) {
        ModelPolygon p;
        p.cornerCount = 4;
        const float xs[4] = {0, 1, 1, 0}, ys[4] = {0, 0, 1, 1};
        for (int c = 0; c < 4; ++c) {
            m.positions.push_back({xs[c] + float(q), ys[c], 0});
            m.skin.push_back({std::uint8_t(10 * q + c), 0, 1.0f, 0});
            p.corners[c] = {int(m.positions.size()) - 1, 0, 0, 0};
        }
        m.polygons.push_back(p);
    }
    m.colors = {{1, 2, 3, 4}};
    m.uvs = {{0, 0}};
    weldModel(m);
    EXPECT_EQ(m.positionCount(), 6);
    ASSERT_EQ(m.skin.size(), 6u);
    EXPECT_EQ(m.skin[1].bone, 1);  // (1,0,0) first came from quad 0
    EXPECT_EQ(m.polygons[1].corners[0].position, 1);
    EXPECT_EQ(m.polygons[1].corners[3].position, 2);
    EXPECT_EQ(m.normals, (HugePageVector<ModelVertex>{{0, 0, 1}}));
    EXPECT_EQ(m.smoothNormals.size(), 6u);
}

TEST(Weld, KeepsIndicesOutsideTheirTables) {
    Model m;  // no colours and no uvs at all: index 0 points nowhere
    m.positions = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 0, 0}};
    m.skin.resize(4);
    ModelPolygon p;
    p.cornerCount = 4;
    p.corners = {ModelCorner{3, 0, 0, 0}, ModelCorner{1, 0, 0, 0}, ModelCorner{2, 0, 0, 0}, ModelCorner{40, 0, 0, 0}};
    m.polygons = {p};
    weldModel(m);
    EXPECT_EQ(m.positionCount(), 3);
    EXPECT_EQ(m.colorCount(), 0);
    EXPECT_EQ(m.uvCount(), 0);
    EXPECT_EQ(m.polygons[0].corners[0].position, 0);
    EXPECT_EQ(m.polygons[0].corners[3].position, 40);
}

}  // namespace
}  // namespace rv
