#include "preview/prepare.h"

#include <algorithm>
#include <cmath>

#include "model/vertex_hash.h"

namespace rv {
namespace {

// A float component truncated toward zero, keeping its low 8 bits; values no integer holds
// (NaN, infinities, beyond 2^31) give 0 instead of undefined behaviour.
std::uint32_t lowByte(float f) {
    if (!(std::fabs(f) < 2147483648.0f))
        return 0;
    return std::uint32_t(std::int32_t(f)) & 0xffu;
}

}  // namespace

std::uint32_t packDiffuse(const ModelColor& c) {
    return lowByte(c.alpha) << 24 | lowByte(c.red) << 16 | lowByte(c.green) << 8 | lowByte(c.blue);
}

PreparedModel prepareMode3(const Model& model) {
    PreparedModel prepared;
    const std::size_t groups = model.groups.size();
    prepared.groups.resize(groups);

    // Polygons by group, list order within a group (a counting sort).
    std::vector<std::size_t> start(groups + 1, 0);
    for (const ModelPolygon& p : model.polygons)
        if (p.group >= 0 && std::size_t(p.group) < groups && p.cornerCount > 2)
            ++start[std::size_t(p.group) + 1];
    for (std::size_t g = 0; g < groups; ++g)
        start[g + 1] += start[g];
    std::vector<std::int32_t> byGroup(start[groups]);
    {
        std::vector<std::size_t> next(start.begin(), start.end() - 1);
        for (std::size_t i = 0; i < model.polygons.size(); ++i) {
            const ModelPolygon& p = model.polygons[i];
            if (p.group >= 0 && std::size_t(p.group) < groups && p.cornerCount > 2)
                byGroup[next[std::size_t(p.group)]++] = std::int32_t(i);
        }
    }

    const float tr = model.tint.red / 255.0f, tg = model.tint.green / 255.0f;
    const float tb = model.tint.blue / 255.0f, ta = model.tint.alpha / 255.0f;
    const bool hasNormals = !model.normals.empty();
    std::vector<std::array<float, 5>> keys;
    std::vector<std::int32_t> remap;
    std::vector<const ModelCorner*> corners;
    FirstMatchScratch scratch;

    for (std::size_t g = 0; g < groups; ++g) {
        const ModelGroup& group = model.groups[g];
        PreparedGroup& out = prepared.groups[g];
        keys.clear();
        corners.clear();
        for (std::size_t i = start[g]; i < start[g + 1]; ++i) {
            const ModelPolygon& p = model.polygons[std::size_t(byGroup[i])];
            for (int c = 0; c < cornersOf(p); ++c) {
                const ModelCorner& corner = p.corners[std::size_t(c)];
                const ModelVertex pos = entryOr0(model.positions, corner.position);
                const ModelUV uv = entryOr0(model.uvs, corner.uv);
                keys.push_back({pos.x, pos.y, pos.z, uv.u, uv.v});
                corners.push_back(&corner);
            }
        }
        remap.resize(keys.size());
        const std::size_t count = buildFirstMatchRemap<5>(remap, keys, &scratch);
        out.vertices.resize(count);
        out.sourcePositions.resize(count);
        out.sourceUVs.resize(count);
        out.skin.resize(count);
        std::int32_t made = 0;
        for (std::size_t k = 0; k < keys.size(); ++k) {
            if (remap[k] != made)
                continue;  // reuses an earlier vertex
            ++made;
            const ModelCorner& corner = *corners[k];
            const ModelVertex pos = entryOr0(model.positions, corner.position);
            const ModelVertex n = hasNormals ? entryOr0(model.normals, corner.normal) : ModelVertex{};
            const ModelColor source = model.vertexColorMode == 1 ? entryOr0(model.colors, corner.color) : group.color;
            const ModelColor colour{tr * source.red, tg * source.green, tb * source.blue, ta * source.alpha};
            const ModelUV uv = entryOr0(model.uvs, corner.uv);
            const std::size_t v = std::size_t(remap[k]);
            out.vertices[v] = {pos.x, pos.y, pos.z, n.x, n.y, n.z, packDiffuse(colour), uv.u, uv.v};
            out.sourcePositions[v] = pos;
            out.sourceUVs[v] = uv;
            out.skin[v] = entryOr0(model.skin, corner.position);
        }

        std::size_t triangles = 0;
        for (std::size_t i = start[g]; i < start[g + 1]; ++i)
            triangles += std::size_t(cornersOf(model.polygons[std::size_t(byGroup[i])]) - 2);
        out.indices.resize(triangles * 3);
        out.triangleCount = std::int32_t(triangles);
        out.wideIndices = count > 65535;
        std::size_t k = 0, at = 0;
        for (std::size_t i = start[g]; i < start[g + 1]; ++i) {
            const int n = cornersOf(model.polygons[std::size_t(byGroup[i])]);
            for (int t = 0; t + 2 < n; ++t) {
                out.indices[at++] = std::uint32_t(remap[k]);
                out.indices[at++] = std::uint32_t(remap[k + std::size_t(t) + 1]);
                out.indices[at++] = std::uint32_t(remap[k + std::size_t(t) + 2]);
            }
            k += std::size_t(n);
        }
    }
    return prepared;
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
