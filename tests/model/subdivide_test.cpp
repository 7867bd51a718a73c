#include <gtest/gtest.h>

#include "model/mesh.h"
#include "tests/support/make_model.h"

namespace rv {
namespace {

TEST(Subdivide, QuadBecomesFourQuadsAtTheEndOfTheList) {
    Model m = test::makeSmallModel();  // quad 0..3 with uvs 0..3, then a triangle
    m.positions[2] = {2, 2, 0};
    m.skin[0].bone = 7;
    m.polygons.push_back(m.polygons[1]);
    m.polygons[2].group = 0;
    subdivideQuads(m);

    // The triangles keep their order and move down; the four new quads follow.
    ASSERT_EQ(m.polygonCount(), 6);
    EXPECT_EQ(m.polygons[0].cornerCount, 3);
    EXPECT_EQ(m.polygons[0].group, 1);
    EXPECT_EQ(m.polygons[1].group, 0);

    // Midpoints of edges 0-1, 1-2, 2-3, 3-0, then the centre.
    ASSERT_EQ(m.positionCount(), 10);
    EXPECT_EQ(m.positions[5], (ModelVertex{0.5f, 0, 0}));
    EXPECT_EQ(m.positions[6], (ModelVertex{1.5f, 1, 0}));
    EXPECT_EQ(m.positions[7], (ModelVertex{1, 1.5f, 0}));
    EXPECT_EQ(m.positions[8], (ModelVertex{0, 0.5f, 0}));
    EXPECT_EQ(m.positions[9], (ModelVertex{0.75f, 0.75f, 0}));
    ASSERT_EQ(m.uvCount(), 9);
    EXPECT_EQ(m.uvs[8], (ModelUV{0.5f, 0.5f}));
    EXPECT_EQ(m.uvs[4], (ModelUV{0.5f, 0}));
    EXPECT_EQ(m.skin.size(), 10u);
    EXPECT_EQ(m.skin[5].bone, 7);  // from corner 0, where edge 0-1 starts
    EXPECT_EQ(m.normalCount(), 6);
    EXPECT_EQ(m.colorCount(), 7);

    for (int i = 0; i < 4; ++i) {
        const ModelPolygon& part = m.polygons[std::size_t(2 + i)];
        EXPECT_EQ(part.cornerCount, 4);
        EXPECT_EQ(part.group, 0);
        EXPECT_EQ(part.corners[0].position, i);  // the corner it was made from
        EXPECT_EQ(part.corners[1].position, 5 + i);  // towards the next corner
        EXPECT_EQ(part.corners[2].position, 9);  // the centre
        EXPECT_EQ(part.corners[3].position, 5 + (i + 3) % 4);  // from the previous corner
        EXPECT_EQ(part.corners[1].uv, 4 + i);
    }
}

TEST(Subdivide, OnePassOnly) {
    Model m = test::makeQuadGrid(3);
    subdivideQuads(m);
    EXPECT_EQ(m.polygonCount(), 12);
    subdivideQuads(m);
    EXPECT_EQ(m.polygonCount(), 48);
    EXPECT_EQ(m.positions.size(), m.skin.size());
}

}  // namespace
}  // namespace rv
