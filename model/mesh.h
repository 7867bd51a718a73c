// Mesh services over a Model: normals, welding, group render meshes, quad subdivision and the
// post-load derivations. All exact-equality searches hash, with results
// identical to a first-match linear search (+0.0 equals -0.0, NaN equals nothing).
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "model/instance.h"
#include "model/model.h"
#include "model/vertex_hash.h"

namespace rv {

// Face normals of every polygon of 3 or more corners, the per-position smoothed normals, and a
// rebuilt normal table (one entry per distinct smoothed normal, in first-use order) that every
// such corner points into. A vector shorter than 1e-7 normalises to (0, 0, 0); lines keep their
// normal indices; a position index outside the table reads as (0, 0, 0).
void computeNormals(Model& model);

// Merges exactly equal positions, colours and uvs (first occurrence wins, in corner order),
// re-points every corner and recomputes normals. A skin entry travels with its position. Entries
// that no corner uses are dropped; an index outside its table is left as it is.
void weldModel(Model& model);

// One group's render mesh as a plain record; each triangle is its three mesh vertex indices.
struct GroupRenderMesh {
    HugePageVector<ModelVertex> positions;
    HugePageVector<ModelVertex> normals;
    HugePageVector<ModelColor> colors;
    HugePageVector<ModelUV> uvs;
    HugePageVector<ModelSkinWeight> skin;
    HugePageVector<std::array<std::int32_t, 3>> triangles;
};

// Builds group render meshes from a model it only reads: fan triangles (0, k+1, k+2) of the
// group's polygons in list order, one mesh vertex per distinct (position, normal, colour, uv) in
// first-use order; a mirrored group gets an x-negated copy of every vertex and, while the group
// has fewer than 65000 triangles, a reversed copy of each triangle. An index outside its table
// reads as a zero entry. The model's polygons and tables must stay as they are while the builder
// lives; its groups' render meshes may change.
class GroupMeshBuilder {
public:
    explicit GroupMeshBuilder(const Model& model);

    // The render mesh of group `group` (0 <= group < groupCount) into `out`, reusing its storage.
    void build(int group, GroupRenderMesh& out);

private:
    const Model& model_;
    std::vector<std::int32_t> polygonsByGroup_;  // polygon indices, grouped, list order within a group
    std::vector<std::size_t> groupStart_;  // group g: polygonsByGroup_[groupStart_[g], groupStart_[g + 1])
    std::vector<std::array<float, 12>> keys_;  // one per triangle corner
    std::vector<std::int32_t> skinSources_;
    std::vector<std::int32_t> remap_;
    FirstMatchScratch scratch_;
};

// Rebuilds every group's render mesh (meshTriangles carry the group index and the mesh vertex
// index in each corner's position slot), or only those of the listed groups.
void buildGroupMeshes(Model& model);
void buildGroupMeshes(Model& model, std::span<const std::int32_t> groups);

// Splits every 4-corner polygon into four (corner, edge midpoints, centre); one pass. The new
// polygons replace their quad at the end of the list; each pass appends 5 entries to every table
// per quad, so the caller bounds the number of passes.
void subdivideQuads(Model& model);

// Bounds, group bounds, render mode from groups, revision fix-up, bone centres and automatic bone
// binding; sizes the instance, gives it the bone matrices and starts texture scrolling.
void postLoad(Model& model, ModelInstance& instance);
// The same where nobody keeps the instance.
void postLoad(Model& model);

}  // namespace rv
