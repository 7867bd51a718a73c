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
                    FirstMatchScratch& scratch, ModelGroup& group) {
    const bool mirrored = group.mirror() != 0;
    // Room for 6 vertices and triangles per polygon of the model (12 mirrored); a polygon of at
    // most four corners never needs more than 2 triangles and 4 vertices.
    const std::size_t limit = 6 * std::size_t(model.polygonCount());

    group.meshPositions.clear();
    group.meshNormals.clear();
    group.meshColors.clear();
    group.meshUVs.clear();
    group.meshSkin.clear();
    group.meshTriangles.clear();

    // One key per triangle corner, in triangle order (a NaN corner shared by two triangles of a
    // fan gives two vertices, as the search along the triangles does).
    std::vector<MeshKey> keys;
    std::vector<std::int32_t> skinSources;
    keys.reserve(polygonIndices.size() * 6);
    skinSources.reserve(polygonIndices.size() * 6);
    for (std::int32_t polygonIndex : polygonIndices) {
        const ModelPolygon& p = model.polygons[std::size_t(polygonIndex)];
        for (int k = 0; k + 3 <= cornersOf(p) && keys.size() < 3 * limit; ++k)
            for (int c : {0, k + 1, k + 2}) {
                const ModelCorner& corner = p.corners[std::size_t(c)];
                // An index outside its table reads as a zero entry.
                keys.push_back(meshKey(entryOr0(model.positions, corner.position), entryOr0(model.normals, corner.normal),
                                       entryOr0(model.colors, corner.color), entryOr0(model.uvs, corner.uv)));
                skinSources.push_back(corner.position);
            }
    }
    std::vector<std::int32_t> remap(keys.size());
    const std::size_t vertices = buildFirstMatchRemap<12>(remap, keys, &scratch);

    const std::size_t reserved = vertices * (mirrored ? 2 : 1);
    group.meshPositions.reserve(reserved);
    group.meshNormals.reserve(reserved);
    group.meshColors.reserve(reserved);
    group.meshUVs.reserve(reserved);
    group.meshSkin.reserve(reserved);
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (std::size_t(remap[i]) != group.meshPositions.size())
            continue;
        const MeshKey& k = keys[i];
        group.meshPositions.push_back({k[0], k[1], k[2]});
        group.meshNormals.push_back({k[3], k[4], k[5]});
        group.meshColors.push_back({k[6], k[7], k[8], k[9]});
        group.meshUVs.push_back({k[10], k[11]});
        group.meshSkin.push_back(entryOr0(model.skin, skinSources[i]));
    }

    group.meshTriangles.reserve(keys.size() / 3 * (mirrored ? 2 : 1));
    for (std::size_t i = 0; i + 3 <= keys.size(); i += 3) {
        ModelPolygon triangle;
        triangle.cornerCount = 3;
        triangle.group = groupIndex;
        for (std::size_t c = 0; c < 3; ++c)
            triangle.corners[c].position = remap[i + c];
        group.meshTriangles.push_back(triangle);
    }

    if (mirrored) {
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
    FirstMatchScratch scratch;
    for (std::size_t g = 0; g < model.groups.size(); ++g)
        buildGroupMesh(model, int(g), byGroup[g], scratch, model.groups[g]);
}

}  // namespace rv
