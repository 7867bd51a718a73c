// Models come from files: every service must stay inside its tables whatever the indices say.
#include <gtest/gtest.h>

#include "model/mesh.h"
#include "model/motion.h"
#include "tests/model/linear_reference.h"

namespace rv {
namespace {

Model makeWildModel(std::mt19937& rng) {
    Model m = test::makeTrickyModel(rng, 1 + int(rng() % 20));
    auto wild = [&](std::size_t size) { return int(rng() % (size + 6)) - 3; };
    m.skin.resize(rng() % (m.positions.size() + 1));
    m.colors.resize(rng() % (m.colors.size() + 1));
    m.groups.resize(1 + rng() % 3);
    m.groups[0].materialParams[kMirrorWord] = rng() % 2;
    for (ModelPolygon& p : m.polygons) {
        p.cornerCount = std::uint8_t(rng() % 7);
        p.group = wild(m.groups.size());
        for (ModelCorner& c : p.corners)
            c = {wild(m.positions.size()), wild(m.normals.size()), wild(m.colors.size()), wild(m.uvs.size())};
    }
    m.boneCount = int(rng() % 200) - 20;
    m.bones[3].parent = wild(200);
    return m;
}

TEST(MeshServices, StayInsideTheirTablesWhateverTheIndices) {
    std::mt19937 rng(13);
    for (int round = 0; round < 300; ++round) {
        const Model wild = makeWildModel(rng);
        Model m = wild;
        computeNormals(m);
        EXPECT_EQ(m.smoothNormals.size(), m.positions.size());
        buildGroupMeshes(m);
        for (const ModelGroup& g : m.groups)
            for (const ModelPolygon& t : g.meshTriangles)
                for (int c = 0; c < 3; ++c)
                    ASSERT_LT(t.corners[c].position, g.meshVertexCount());
        subdivideQuads(m);
        weldModel(m);
        EXPECT_EQ(m.skin.size(), m.positions.size());
        ModelInstance instance;
        postLoad(m, instance);
        instance.playback.animating = true;
        findKeys(m, instance.playback);
    }
}

}  // namespace
}  // namespace rv
