#include <gtest/gtest.h>

#include "model/mesh.h"
#include "tests/model/linear_reference.h"
#include "tests/support/make_model.h"

namespace rv {
namespace {

struct MeshVertex {
    ModelVertex position, normal;
    ModelColor color;
    ModelUV uv;
    friend bool operator==(const MeshVertex&, const MeshVertex&) = default;
};

TEST(GroupMeshes, MatchLinearSearchOnSignedZerosNaNAndRepeats) {
    std::mt19937 rng(5);
    for (int round = 0; round < 300; ++round) {
        Model m = test::makeTrickyModel(rng, 1 + int(rng() % 25));
        buildGroupMeshes(m);
        for (int g = 0; g < m.groupCount(); ++g) {
            const ModelGroup& group = m.groups[std::size_t(g)];
            std::vector<MeshVertex> vertices;
            HugePageVector<ModelSkinWeight> skin;
            std::vector<std::int32_t> triangleCorners;
            for (const ModelPolygon& p : m.polygons) {
                if (p.group != g)
                    continue;
                for (int k = 0; k + 3 <= p.cornerCount; ++k)
                    for (int c : {0, k + 1, k + 2}) {
                        const ModelCorner& corner = p.corners[std::size_t(c)];
                        const std::size_t before = vertices.size();
                        triangleCorners.push_back(test::linearFirstMatch(
                            vertices,
                            MeshVertex{m.positions[std::size_t(corner.position)], m.normals[std::size_t(corner.normal)],
                                       m.colors[std::size_t(corner.color)], m.uvs[std::size_t(corner.uv)]}));
                        if (vertices.size() > before)
                            skin.push_back(m.skin[std::size_t(corner.position)]);
                    }
            }
            ASSERT_EQ(group.meshVertexCount(), int(vertices.size())) << "round " << round;
            for (std::size_t v = 0; v < vertices.size(); ++v) {
                const MeshVertex got{group.meshPositions[v], group.meshNormals[v], group.meshColors[v],
                                     group.meshUVs[v]};
                ASSERT_EQ(std::memcmp(&got, &vertices[v], sizeof got), 0) << "round " << round << " vertex " << v;
            }
            ASSERT_EQ(group.meshSkin, skin);
            ASSERT_EQ(std::size_t(group.meshTriangleCount()) * 3, triangleCorners.size());
            for (std::size_t t = 0; t < triangleCorners.size(); ++t) {
                const ModelPolygon& triangle = group.meshTriangles[t / 3];
                ASSERT_EQ(triangle.corners[t % 3].position, triangleCorners[t]);
                ASSERT_EQ(triangle.group, g);
                ASSERT_EQ(triangle.cornerCount, 3);
            }
        }
    }
}

TEST(GroupMeshes, QuadFansIntoTwoTrianglesSharingVertices) {
    Model m = test::makeSmallModel();
    buildGroupMeshes(m);
    const ModelGroup& quad = m.groups[0];
    ASSERT_EQ(quad.meshVertexCount(), 4);
    ASSERT_EQ(quad.meshTriangleCount(), 2);
    const ModelCorner* second = quad.meshTriangles[1].corners.data();
    EXPECT_EQ(second[0].position, 0);
    EXPECT_EQ(second[1].position, 2);
    EXPECT_EQ(second[2].position, 3);
    EXPECT_EQ(second[0].normal, 0);
    EXPECT_EQ(m.groups[1].meshTriangleCount(), 1);
    EXPECT_EQ(m.groups[1].meshColors[0], (ModelColor{0, 255, 0, 255}));
}

TEST(GroupMeshes, BuilderLeavesTheModelAloneAndListedRebuildsTouchOnlyThoseGroups) {
    const Model source = test::makeSmallModel();
    GroupMeshBuilder builder(source);
    GroupRenderMesh mesh;
    builder.build(1, mesh);
    ASSERT_EQ(mesh.triangles.size(), 1u);
    EXPECT_EQ(mesh.triangles[0], (std::array<std::int32_t, 3>{0, 1, 2}));
    EXPECT_EQ(mesh.positions[1], (ModelVertex{2, 0, 0}));
    EXPECT_TRUE(source.groups[1].meshPositions.empty());

    Model m = source;
    m.groups[0].meshPositions = {{7, 7, 7}};
    const std::int32_t only[] = {1};
    buildGroupMeshes(m, only);
    EXPECT_EQ(m.groups[0].meshPositions, (HugePageVector<ModelVertex>{{7, 7, 7}}));
    EXPECT_EQ(m.groups[1].meshPositions, mesh.positions);
    ASSERT_EQ(m.groups[1].meshTriangleCount(), 1);
    EXPECT_EQ(m.groups[1].meshTriangles[0].group, 1);
    EXPECT_EQ(m.groups[1].meshTriangles[0].corners[2].position, 2);
}

TEST(GroupMeshes, MirrorDoublesVerticesAndTrianglesWithReversedWinding) {
    Model m = test::makeSmallModel();
    m.normals = {{0.5f, 0, 1}};
    m.groups[0].materialParams[kMirrorWord] = 1;
    buildGroupMeshes(m);
    const ModelGroup& g = m.groups[0];
    ASSERT_EQ(g.meshVertexCount(), 8);
    ASSERT_EQ(g.meshTriangleCount(), 4);
    EXPECT_EQ(g.meshPositions[5], (ModelVertex{-1, 0, 0}));
    EXPECT_EQ(g.meshNormals[5], (ModelVertex{-0.5f, 0, 1}));
    EXPECT_EQ(g.meshUVs[5], g.meshUVs[1]);
    const auto& mirrored = g.meshTriangles[2].corners;  // copy of triangle (0, 1, 2)
    EXPECT_EQ(mirrored[0].position, 6);
    EXPECT_EQ(mirrored[1].position, 5);
    EXPECT_EQ(mirrored[2].position, 4);
    EXPECT_EQ(m.groups[1].meshVertexCount(), 3);  // not mirrored
}

TEST(GroupMeshes, MirroredCopyStopsAt65000Triangles) {
    Model m = test::makeQuadGrid(32600);  // 65,200 triangles before mirroring
    m.groups[0].materialParams[kMirrorWord] = 1;
    buildGroupMeshes(m);
    EXPECT_EQ(m.groups[0].meshTriangleCount(), 65200);
    EXPECT_EQ(m.groups[0].meshVertexCount() % 2, 0);

    Model small = test::makeQuadGrid(32450);  // 64,900: the copy adds 100 and stops
    small.groups[0].materialParams[kMirrorWord] = 1;
    buildGroupMeshes(small);
    EXPECT_EQ(small.groups[0].meshTriangleCount(), 65000);
}

TEST(GroupMeshes, IndicesOutsideTheTablesReadAsZero) {
    Model m;
    m.positions = {{1, 2, 3}};
    ModelPolygon p;
    p.cornerCount = 3;
    p.corners = {ModelCorner{0, 5, 5, 5}, ModelCorner{9, -1, 0, 0}, ModelCorner{-3, 0, 0, 0}};
    m.polygons = {p};
    buildGroupMeshes(m);
    ASSERT_EQ(m.groups[0].meshVertexCount(), 2);
    EXPECT_EQ(m.groups[0].meshPositions[1], (ModelVertex{0, 0, 0}));
    EXPECT_EQ(m.groups[0].meshTriangles[0].corners[2].position, 1);
}

}  // namespace
}  // namespace rv
