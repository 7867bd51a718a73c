#include "model/mesh.h"

namespace rv {
namespace {

// The mirrored copy adds triangles only while the mesh holds fewer than this many.
constexpr std::size_t kMaxMirroredTriangles = 65000;

// Position, normal, colour and uv of one mesh vertex, in that order.
using MeshKey = std::array<float, 12>;

MeshKey meshKey(const ModelVertex& p, const ModelVertex& n, const ModelColor& c, const ModelUV& t) {
    return {p.x, p.y, p.z, n.x, n.y, n.z, c.red, c.green, c.blue, c.alpha, t.u, t.v};
}

// Builds the group's render mesh into its own fields, reusing their storage.
void buildInto(GroupMeshBuilder& builder, GroupRenderMesh& mesh, int groupIndex, ModelGroup& group) {
    mesh.positions.swap(group.meshPositions);
    mesh.normals.swap(group.meshNormals);
    mesh.colors.swap(group.meshColors);
    mesh.uvs.swap(group.meshUVs);
    mesh.skin.swap(group.meshSkin);
    builder.build(groupIndex, mesh);
    group.meshPositions.swap(mesh.positions);
    group.meshNormals.swap(mesh.normals);
    group.meshColors.swap(mesh.colors);
    group.meshUVs.swap(mesh.uvs);
    group.meshSkin.swap(mesh.skin);
    group.meshTriangles.resize(mesh.triangles.size());
    for (std::size_t t = 0; t < mesh.triangles.size(); ++t) {
        ModelPolygon& triangle = group.meshTriangles[t];
        triangle = ModelPolygon{};
        triangle.cornerCount = 3;
        triangle.group = groupIndex;
        for (std::size_t c = 0; c < 3; ++c)
            triangle.corners[c].position = mesh.triangles[t][c];
    }
}

}  // namespace

GroupMeshBuilder::GroupMeshBuilder(const Model& model) : model_(model) {
    // Polygon indices sorted by group with a counting sort, so that each build visits only its
    // own polygons, in list order.
    const std::size_t groups = model.groups.size();
    groupStart_.assign(groups + 1, 0);
    for (const ModelPolygon& p : model.polygons)
        if (p.group >= 0 && std::size_t(p.group) < groups)
            ++groupStart_[std::size_t(p.group) + 1];
    for (std::size_t g = 0; g < groups; ++g)
        groupStart_[g + 1] += groupStart_[g];
    polygonsByGroup_.resize(groupStart_[groups]);
    std::vector<std::size_t> next(groupStart_.begin(), groupStart_.end() - 1);
    for (std::size_t i = 0; i < model.polygons.size(); ++i) {
        const std::int32_t g = model.polygons[i].group;
        if (g >= 0 && std::size_t(g) < groups)
            polygonsByGroup_[next[std::size_t(g)]++] = std::int32_t(i);
    }
}

void GroupMeshBuilder::build(int groupIndex, GroupRenderMesh& out) {
    const Model& model = model_;
    const bool mirrored = model.groups[std::size_t(groupIndex)].mirror() != 0;
    const std::span<const std::int32_t> polygons(polygonsByGroup_.data() + groupStart_[std::size_t(groupIndex)],
                                                 polygonsByGroup_.data() + groupStart_[std::size_t(groupIndex) + 1]);
    // Room for 6 vertices and triangles per polygon of the model (12 mirrored); a polygon of at
    // most four corners never needs more than 2 triangles and 4 vertices.
    const std::size_t limit = 6 * std::size_t(model.polygonCount());

    // One key per triangle corner, in triangle order (a NaN corner shared by two triangles of a
    // fan gives two vertices, as the search along the triangles does).
    keys_.clear();
    skinSources_.clear();
    keys_.reserve(polygons.size() * 6);
    skinSources_.reserve(polygons.size() * 6);
    for (std::int32_t polygonIndex : polygons) {
        const ModelPolygon& p = model.polygons[std::size_t(polygonIndex)];
        for (int k = 0; k + 3 <= cornersOf(p) && keys_.size() < 3 * limit; ++k)
            for (int c : {0, k + 1, k + 2}) {
                const ModelCorner& corner = p.corners[std::size_t(c)];
                // An index outside its table reads as a zero entry.
                keys_.push_back(meshKey(entryOr0(model.positions, corner.position),
                                        entryOr0(model.normals, corner.normal), entryOr0(model.colors, corner.color),
                                        entryOr0(model.uvs, corner.uv)));
                skinSources_.push_back(corner.position);
            }
    }
    remap_.resize(keys_.size());
    const std::size_t vertices = buildFirstMatchRemap<12>(remap_, keys_, &scratch_);

    const std::size_t reserved = vertices * (mirrored ? 2 : 1);
    out.positions.clear();
    out.normals.clear();
    out.colors.clear();
    out.uvs.clear();
    out.skin.clear();
    out.positions.reserve(reserved);
    out.normals.reserve(reserved);
    out.colors.reserve(reserved);
    out.uvs.reserve(reserved);
    out.skin.reserve(reserved);
    for (std::size_t i = 0; i < keys_.size(); ++i) {
        if (std::size_t(remap_[i]) != out.positions.size())
            continue;
        const MeshKey& k = keys_[i];
        out.positions.push_back({k[0], k[1], k[2]});
        out.normals.push_back({k[3], k[4], k[5]});
        out.colors.push_back({k[6], k[7], k[8], k[9]});
        out.uvs.push_back({k[10], k[11]});
        out.skin.push_back(entryOr0(model.skin, skinSources_[i]));
    }

    const std::size_t triangles = keys_.size() / 3;
    out.triangles.clear();
    out.triangles.reserve(triangles * (mirrored ? 2 : 1));
    for (std::size_t i = 0; i + 3 <= keys_.size(); i += 3)
        out.triangles.push_back({remap_[i], remap_[i + 1], remap_[i + 2]});

    if (mirrored) {
        for (std::size_t v = 0; v < vertices; ++v) {
            ModelVertex position = out.positions[v];
            ModelVertex normal = out.normals[v];
            position.x = -position.x;
            normal.x = -normal.x;
            out.positions.push_back(position);
            out.normals.push_back(normal);
            out.colors.push_back(out.colors[v]);
            out.uvs.push_back(out.uvs[v]);
            out.skin.push_back(out.skin[v]);
        }
        const std::int32_t shift = std::int32_t(vertices);
        for (std::size_t t = 0; t < triangles && out.triangles.size() < kMaxMirroredTriangles; ++t) {
            const std::array<std::int32_t, 3> corners = out.triangles[t];
            out.triangles.push_back({corners[2] + shift, corners[1] + shift, corners[0] + shift});
        }
    }
}

void buildGroupMeshes(Model& model) {
    GroupMeshBuilder builder(model);
    GroupRenderMesh mesh;
    for (std::size_t g = 0; g < model.groups.size(); ++g)
        buildInto(builder, mesh, int(g), model.groups[g]);
}

void buildGroupMeshes(Model& model, std::span<const std::int32_t> groups) {
    GroupMeshBuilder builder(model);
    GroupRenderMesh mesh;
    for (std::int32_t g : groups)
        buildInto(builder, mesh, g, model.groups[std::size_t(g)]);
}

}  // namespace rv
