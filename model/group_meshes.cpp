#include "model/mesh.h"
#include "model/vertex_hash.h"

namespace rv {
namespace {

// The mirrored copy adds triangles only while the mesh holds fewer than this many.
constexpr std::size_t kMaxMirroredTriangles = 65000;

// Position, normal, colour and uv of one mesh vertex, in that order.
using MeshKey = std::array<float, 12>;

MeshKey meshKey(const ModelVertex& p, const ModelVertex& n, const ModelColor& c, const ModelUV& t) {
    return {p.x, p.y, p.z, n.x, n.y, n.z, c.red, c.green, c.blue, c.alpha, t.u, t.v};
}

void buildGroupMesh(const Model& model, int groupIndex, const std::vector<std::int32_t>& polygonIndices,
                    ModelGroup& group) {
    const bool mirrored = group.mirror() != 0;
    // The mesh holds at most 6 vertices and triangles per polygon of the model (12 mirrored).
    const std::size_t limit = 6 * std::size_t(model.polygonCount());

    group.meshPositions.clear();
    group.meshNormals.clear();
    group.meshColors.clear();
    group.meshUVs.clear();
    group.meshSkin.clear();
    group.meshTriangles.clear();

    const std::size_t expected = polygonIndices.size() * 4 * (mirrored ? 2 : 1);
    group.meshPositions.reserve(expected);
    group.meshNormals.reserve(expected);
    group.meshColors.reserve(expected);
    group.meshUVs.reserve(expected);
    group.meshSkin.reserve(expected);
    group.meshTriangles.reserve(polygonIndices.size() * 2 * (mirrored ? 2 : 1));
    FirstMatchTable<12> table(polygonIndices.size() * 4);
    for (std::int32_t polygonIndex : polygonIndices) {
        const ModelPolygon& p = model.polygons[std::size_t(polygonIndex)];
        for (int k = 0; k + 3 <= cornersOf(p); ++k) {
            if (group.meshTriangles.size() >= limit)
                break;
            ModelPolygon triangle;
            triangle.cornerCount = 3;
            triangle.group = groupIndex;
            const int fan[3] = {0, k + 1, k + 2};
            for (int c = 0; c < 3; ++c) {
                const ModelCorner& corner = p.corners[fan[c]];
                // An index outside its table reads as a zero entry.
                const ModelVertex position = entryOr0(model.positions, corner.position);
                const ModelVertex normal = entryOr0(model.normals, corner.normal);
                const ModelColor color = entryOr0(model.colors, corner.color);
                const ModelUV uv = entryOr0(model.uvs, corner.uv);
                bool added = false;
                triangle.corners[c].position = table.findOrAdd(meshKey(position, normal, color, uv), &added);
                if (added) {
                    group.meshPositions.push_back(position);
                    group.meshNormals.push_back(normal);
                    group.meshColors.push_back(color);
                    group.meshUVs.push_back(uv);
                    group.meshSkin.push_back(entryOr0(model.skin, corner.position));
                }
            }
            group.meshTriangles.push_back(triangle);
        }
    }

    if (mirrored) {
        const std::size_t vertices = group.meshPositions.size();
        for (std::size_t v = 0; v < vertices; ++v) {
            ModelVertex position = group.meshPositions[v];
            ModelVertex normal = group.meshNormals[v];
            position.x = -position.x;
            normal.x = -normal.x;
            group.meshPositions.push_back(position);
            group.meshNormals.push_back(normal);
            group.meshColors.push_back(group.meshColors[v]);
            group.meshUVs.push_back(group.meshUVs[v]);
            group.meshSkin.push_back(group.meshSkin[v]);
        }
        const std::size_t triangles = group.meshTriangles.size();
        for (std::size_t t = 0; t < triangles && group.meshTriangles.size() < kMaxMirroredTriangles; ++t) {
            ModelPolygon triangle = group.meshTriangles[t];
            const std::array<ModelCorner, 4> corners = triangle.corners;
            for (int c = 0; c < 3; ++c)
                triangle.corners[c].position = corners[2 - c].position + std::int32_t(vertices);
            group.meshTriangles.push_back(triangle);
        }
    }

    group.meshWorkPositions.assign(group.meshPositions.size(), ModelVertex{});
    group.meshWorkNormals.assign(group.meshPositions.size(), ModelVertex{});
}

}  // namespace

void buildGroupMeshes(Model& model) {
    // Each group visits only its own polygons, in list order.
    std::vector<std::vector<std::int32_t>> byGroup(model.groups.size());
    for (std::size_t i = 0; i < model.polygons.size(); ++i) {
        const std::int32_t group = model.polygons[i].group;
        if (group >= 0 && std::size_t(group) < byGroup.size())
            byGroup[std::size_t(group)].push_back(std::int32_t(i));
    }
    for (std::size_t g = 0; g < model.groups.size(); ++g)
        buildGroupMesh(model, int(g), byGroup[g], model.groups[g]);
}

}  // namespace rv
