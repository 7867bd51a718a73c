#include "preview/prepare.h"

#include <algorithm>
#include <cmath>
#include <span>

#include "model/vertex_hash.h"
#include "preview/group_state.h"

namespace rv {
namespace {

// A float component truncated toward zero, keeping its low 8 bits; values no integer holds
// (NaN, infinities, beyond 2^31) give 0 instead of undefined behaviour.
std::uint32_t lowByte(float f) {
    if (!(std::fabs(f) < 2147483648.0f))
        return 0;
    return std::uint32_t(std::int32_t(f)) & 0xffu;
}

// Reused across the groups of one preparation.
struct PrepareScratch {
    std::vector<std::array<float, 5>> keys;
    std::vector<std::int32_t> remap;
    std::vector<const ModelCorner*> corners;
    FirstMatchScratch match;
};

// One vertex per distinct (position, uv) among the group's corners, in first-use order;
// scratch.remap maps every corner to its vertex.
void prepareVertices(const Model& model, const ModelGroup& group, std::span<const std::int32_t> polygons,
                     PrepareScratch& scratch, PreparedGroup& out) {
    scratch.keys.clear();
    scratch.corners.clear();
    for (const std::int32_t index : polygons) {
        const ModelPolygon& p = model.polygons[std::size_t(index)];
        for (int c = 0; c < cornersOf(p); ++c) {
            const ModelCorner& corner = p.corners[std::size_t(c)];
            const ModelVertex pos = entryOr0(model.positions, corner.position);
            const ModelUV uv = entryOr0(model.uvs, corner.uv);
            scratch.keys.push_back({pos.x, pos.y, pos.z, uv.u, uv.v});
            scratch.corners.push_back(&corner);
        }
    }
    scratch.remap.resize(scratch.keys.size());
    const std::size_t count = buildFirstMatchRemap<5>(scratch.remap, scratch.keys, &scratch.match);
    out.vertices.resize(count);
    out.sourcePositions.resize(count);
    out.sourceUVs.resize(count);
    out.skin.resize(count);
    out.wideIndices = count > 65535;
    const bool hasNormals = !model.normals.empty();
    std::int32_t made = 0;
    for (std::size_t k = 0; k < scratch.keys.size(); ++k) {
        if (scratch.remap[k] != made)
            continue;  // reuses an earlier vertex
        ++made;
        const ModelCorner& corner = *scratch.corners[k];
        const ModelVertex pos = entryOr0(model.positions, corner.position);
        const ModelVertex n = hasNormals ? entryOr0(model.normals, corner.normal) : ModelVertex{};
        const ModelUV uv = entryOr0(model.uvs, corner.uv);
        const std::size_t v = std::size_t(scratch.remap[k]);
        out.vertices[v] = {pos.x, pos.y, pos.z, n.x, n.y, n.z, packDiffuse(tintedColour(model, group, corner)),
                           uv.u,  uv.v};
        out.sourcePositions[v] = pos;
        out.sourceUVs[v] = uv;
        out.skin[v] = entryOr0(model.skin, corner.position);
    }
}

// The fan triangles of the group's polygons over the remapped corners.
void prepareIndices(const Model& model, std::span<const std::int32_t> polygons, const std::vector<std::int32_t>& remap,
                    PreparedGroup& out) {
    std::size_t triangles = 0;
    for (const std::int32_t index : polygons)
        triangles += std::size_t(cornersOf(model.polygons[std::size_t(index)]) - 2);
    out.indices.resize(triangles * 3);
    out.triangleCount = std::int32_t(triangles);
    std::size_t k = 0, at = 0;
    for (const std::int32_t index : polygons) {
        const int n = cornersOf(model.polygons[std::size_t(index)]);
        for (int t = 0; t + 2 < n; ++t) {
            out.indices[at++] = std::uint32_t(remap[k]);
            out.indices[at++] = std::uint32_t(remap[k + std::size_t(t) + 1]);
            out.indices[at++] = std::uint32_t(remap[k + std::size_t(t) + 2]);
        }
        k += std::size_t(n);
    }
}

}  // namespace

std::uint32_t packDiffuse(const ModelColor& c) {
    return lowByte(c.alpha) << 24 | lowByte(c.red) << 16 | lowByte(c.green) << 8 | lowByte(c.blue);
}

PreparedModel prepareMode3(const Model& model) {
    PreparedModel prepared;
    prepared.groups.resize(model.groups.size());
    const PolygonsByGroup byGroup = polygonsByGroup(model);
    PrepareScratch scratch;
    for (std::size_t g = 0; g < model.groups.size(); ++g) {
        prepareVertices(model, model.groups[g], byGroup.of(g), scratch, prepared.groups[g]);
        prepareIndices(model, byGroup.of(g), scratch.remap, prepared.groups[g]);
    }
    return prepared;
}

void addMirroredCopies(PreparedModel& prepared, const Model& model) {
    for (std::size_t g = 0; g < prepared.groups.size() && g < model.groups.size(); ++g) {
        if (!isMirrored(model.groups[g]))
            continue;
        PreparedGroup& group = prepared.groups[g];
        const std::size_t n = group.vertices.size();
        const std::size_t triangles = group.indices.size() / 3;
        for (std::size_t v = 0; v < n; ++v) {
            group.vertices.push_back(mirrored(group.vertices[v]));
            ModelVertex source = group.sourcePositions[v];
            source.x = -source.x;
            group.sourcePositions.push_back(source);
            group.sourceUVs.push_back(group.sourceUVs[v]);
            group.skin.push_back(group.skin[v]);
        }
        const std::uint32_t base = std::uint32_t(n);
        for (std::size_t t = 0; t < triangles; ++t) {
            const std::uint32_t a = group.indices[t * 3], b = group.indices[t * 3 + 1], c = group.indices[t * 3 + 2];
            group.indices.push_back(a + base);
            group.indices.push_back(c + base);
            group.indices.push_back(b + base);
        }
        group.triangleCount = std::int32_t(group.indices.size() / 3);
        group.wideIndices = group.vertices.size() > 65535;
    }
}

int subdivisionPasses(const Model& model) {
    std::int64_t polygons = model.polygonCount();
    std::int64_t quads = 0;
    for (const ModelPolygon& p : model.polygons)
        quads += p.cornerCount == 4;
    std::int64_t positions = model.positionCount(), uvs = model.uvCount();
    std::int64_t normals = model.normalCount(), colors = model.colorCount();
    int passes = 0;
    while (passes < model.subdivisionLevel && quads > 0) {
        // Each quad becomes four and appends five entries to every table.
        const std::int64_t nextPolygons = polygons + 3 * quads;
        const std::int64_t nextTable = std::max({positions, uvs, normals, colors}) + 5 * quads;
        if (nextPolygons > kMaxPolygons || nextTable > kMaxTableEntries)
            break;
        polygons = nextPolygons;
        positions += 5 * quads;
        uvs += 5 * quads;
        normals += 5 * quads;
        colors += 5 * quads;
        quads *= 4;
        ++passes;
    }
    return passes;
}

}  // namespace rv
