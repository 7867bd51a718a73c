#include <gtest/gtest.h>

#include "model/mesh.h"
#include "tests/model/linear_reference.h"

namespace rv {
namespace {

ModelPolygon polygon(std::initializer_list<int> positions, int group = 0) {
    ModelPolygon p;
    p.cornerCount = std::uint8_t(positions.size());
    p.group = group;
    int c = 0;
    for (int index : positions)
        p.corners[std::size_t(c++)] = {index, 99, 0, 0};
    return p;
}

TEST(Normals, FaceNormalIsNormalisedCrossOfTheFirstThreeCorners) {
    Model m;
    m.positions = {{0, 0, 0}, {2, 0, 0}, {2, 2, 0}, {0, 2, 0}};
    m.polygons = {polygon({0, 1, 2, 3})};
    computeNormals(m);
    EXPECT_EQ(m.polygons[0].faceNormal, (ModelVertex{0, 0, 1}));
    ASSERT_EQ(m.normals.size(), 1u);
    EXPECT_EQ(m.normals[0], (ModelVertex{0, 0, 1}));
    for (int c = 0; c < 4; ++c)
        EXPECT_EQ(m.polygons[0].corners[c].normal, 0);
}

TEST(Normals, DegenerateFaceGivesZeroNormal) {
    Model m;
    m.positions = {{1, 1, 1}, {2, 2, 2}, {3, 3, 3}, {5, 5, 5}};
    m.polygons = {polygon({0, 1, 2}), polygon({3, 3, 3})};
    computeNormals(m);
    EXPECT_EQ(m.polygons[0].faceNormal, (ModelVertex{0, 0, 0}));
    EXPECT_EQ(m.polygons[1].faceNormal, (ModelVertex{0, 0, 0}));
    EXPECT_EQ(m.smoothNormals[0], (ModelVertex{0, 0, 0}));
    EXPECT_EQ(m.normals, (HugePageVector<ModelVertex>{{0, 0, 0}}));
}

TEST(Normals, SmoothedNormalAveragesFacesAndSkipsLines) {
    Model m;
    // Two faces folded at 90 degrees along the edge 1-2; a line hangs from position 0.
    m.positions = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {1, 0, -1}, {0, 0, 5}};
    m.polygons = {polygon({0, 1, 2}), polygon({3, 2, 1}), polygon({0, 4})};
    computeNormals(m);
    EXPECT_EQ(m.polygons[1].faceNormal, (ModelVertex{1, 0, 0}));
    const float h = 1.0f / std::sqrt(2.0f);
    EXPECT_NEAR(m.smoothNormals[1].x, h, 1e-6);
    EXPECT_NEAR(m.smoothNormals[1].z, h, 1e-6);
    EXPECT_EQ(m.smoothNormals[0], (ModelVertex{0, 0, 1}));  // the line adds nothing
    EXPECT_EQ(m.smoothNormals[4], (ModelVertex{0, 0, 0}));
    EXPECT_EQ(m.polygons[2].corners[0].normal, 99);  // lines keep their normal indices
    EXPECT_EQ(m.normals.size(), 3u);  // 0, the fold shared by 1 and 2, and 3
}

TEST(Normals, IndicesOutsideTheTablesReadAsZero) {
    Model m;
    m.positions = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}};
    ModelPolygon p = polygon({0, 1, 2, 7});
    p.cornerCount = 200;  // clamped to the four corners a polygon holds
    m.polygons = {p, polygon({-5, 1, 2})};
    computeNormals(m);
    EXPECT_EQ(m.polygons[0].faceNormal, (ModelVertex{0, 0, 1}));
    EXPECT_EQ(m.smoothNormals.size(), 3u);
    EXPECT_EQ(m.normals[std::size_t(m.polygons[0].corners[3].normal)], (ModelVertex{0, 0, 0}));
}

TEST(Normals, RebuiltTableMatchesLinearSearch) {
    std::mt19937 rng(11);
    for (int round = 0; round < 200; ++round) {
        Model m = test::makeTrickyModel(rng, 1 + int(rng() % 30));
        computeNormals(m);
        std::vector<ModelVertex> reference;
        for (const ModelPolygon& p : m.polygons) {
            if (p.cornerCount < 3)
                continue;
            for (int c = 0; c < p.cornerCount; ++c) {
                const std::int32_t index =
                    test::linearFirstMatch(reference, m.smoothNormals[std::size_t(p.corners[c].position)]);
                ASSERT_EQ(p.corners[c].normal, index) << "round " << round;
            }
        }
        ASSERT_TRUE(test::sameBits(m.normals, reference)) << "round " << round;
    }
}

}  // namespace
}  // namespace rv
