#include "preview/prepare.h"

#include <algorithm>
#include <cmath>
#include <span>

#include <meshoptimizer.h>

#include "model/mesh.h"
#include "model/vertex_hash.h"
#include "preview/gl_common.h"
#include "preview/group_state.h"
#include "runtime/paths.h"

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

// Whether texture entry `number` draws opaque: an image of alpha 255 everywhere. A missing image
// (drawn with the null texture) or a PSD (its padding is not the image's) counts as not opaque.
bool opaqueTexture(const Model& model, const std::vector<Image>& images, int number) {
    if (number <= 0 || number > kMaxTextureNumber || std::size_t(number) >= model.textures.size())
        return true;  // drawn untextured
    const std::size_t i = std::size_t(number);
    if (i >= images.size())
        return false;
    const Image& image = images[i];
    if (image.width <= 0 || image.height <= 0 ||
        image.rgba.size() != std::size_t(image.width) * std::size_t(image.height) * 4)
        return false;
    if (equalsIgnoreCase(extensionOf(model.textures[i].fileName), "psd"))
        return false;
    for (std::size_t k = 3; k < image.rgba.size(); k += 4)
        if (image.rgba[k] != 255)
            return false;
    return true;
}

// Whether group g's triangles may be drawn in any order without changing the picture, as far as
// their fill and colours tell (overlaps are looked at separately).
bool orderFree(const Model& model, const std::vector<Image>& images, std::size_t g, const PreparedGroup& group) {
    const ModelGroup& mg = model.groups[g];
    if (polygonModeOf(mg.shadeParam, model.fillMode) != GL_FILL)
        return false;  // shared edges and points are drawn twice, the last one wins
    for (const PreparedVertex& v : group.vertices)
        if ((v.diffuse >> 24) != 255)
            return false;
    if (mg.textured == 0)
        return true;
    if (!opaqueTexture(model, images, mg.textureIndex))
        return false;
    // A playing motion may show its keys' textures instead.
    for (const ModelMotion& motion : model.motions) {
        if (g >= motion.groupKeys.size())
            continue;
        const ModelGroupKeyTable& table = motion.groupKeys[g];
        const int keys = std::clamp(table.keyCount, 0, kMaxGroupKeys);
        for (int k = 0; k < keys; ++k)
            if (!opaqueTexture(model, images, table.keys[std::size_t(k)].keyTexture))
                return false;
    }
    return true;
}

struct Triangle2D {
    float x[3], y[3];
};

// Whether the interiors of two triangles in one plane overlap; triangles that only touch along an
// edge or at a corner (within `tolerance`) do not.
bool interiorsOverlap(const Triangle2D& a, const Triangle2D& b, float tolerance) {
    for (const Triangle2D* t : {&a, &b})
        for (int e = 0; e < 3; ++e) {
            const int f = (e + 1) % 3;
            const float ax = t->y[f] - t->y[e], ay = t->x[e] - t->x[f];
            const float length = std::sqrt(ax * ax + ay * ay);
            if (!(length > 0))
                continue;
            float minA = INFINITY, maxA = -INFINITY, minB = INFINITY, maxB = -INFINITY;
            for (int k = 0; k < 3; ++k) {
                const float pa = (a.x[k] * ax + a.y[k] * ay) / length, pb = (b.x[k] * ax + b.y[k] * ay) / length;
                minA = std::min(minA, pa);
                maxA = std::max(maxA, pa);
                minB = std::min(minB, pb);
                maxB = std::max(maxB, pb);
            }
            if (maxA <= minB + tolerance || maxB <= minA + tolerance)
                return false;
        }
    return true;
}

// Whether two triangles of the group lie in one plane with overlapping interiors (a decal on a
// face, a doubled face): where they overlap, their depths tie and the one drawn last shows, so
// their order is part of the picture. Unsure cases (crowded cells) count as overlapping, and so
// does a look cut short by `cancel`.
bool hasCoplanarOverlap(const PreparedGroup& group, const std::atomic<bool>* cancel) {
    const std::size_t triangles = group.indices.size() / 3;
    auto at = [&](std::size_t t, int k) {
        const PreparedVertex& v = group.vertices[group.indices[t * 3 + std::size_t(k)]];
        return Vec3{v.x, v.y, v.z};
    };
    Vec3 lo{INFINITY, INFINITY, INFINITY}, hi{-INFINITY, -INFINITY, -INFINITY};
    for (const PreparedVertex& v : group.vertices) {
        if (!std::isfinite(v.x) || !std::isfinite(v.y) || !std::isfinite(v.z))
            return true;
        lo = {std::min(lo.x, v.x), std::min(lo.y, v.y), std::min(lo.z, v.z)};
        hi = {std::max(hi.x, v.x), std::max(hi.y, v.y), std::max(hi.z, v.z)};
    }
    const float size = std::max({hi.x - lo.x, hi.y - lo.y, hi.z - lo.z, 1e-20f});
    const float near = size * 1e-5f, tolerance = size * 1e-6f;
    std::vector<Vec3> normals(triangles);
    double extent = 0;
    for (std::size_t t = 0; t < triangles; ++t) {
        const Vec3 a = at(t, 0), b = at(t, 1), c = at(t, 2);
        normals[t] = normalize(cross(b - a, c - a));
        extent += std::max({std::max({a.x, b.x, c.x}) - std::min({a.x, b.x, c.x}),
                            std::max({a.y, b.y, c.y}) - std::min({a.y, b.y, c.y}),
                            std::max({a.z, b.z, c.z}) - std::min({a.z, b.z, c.z})});
    }
    // Cells about twice a triangle's size, at most 1024 to a side; each triangle goes into every
    // cell its box meets.
    const float cell = std::max(float(2 * extent / double(std::max<std::size_t>(triangles, 1))), size / 1024);
    auto cellOf = [&](float v, float l) { return std::uint64_t(std::clamp(int((v - l) / cell), 0, 1023)); };
    // Cell (10 bits a side) above, triangle below, sorted so that each cell's triangles lie together.
    std::vector<std::uint64_t> grid;
    grid.reserve(triangles * 4);
    for (std::size_t t = 0; t < triangles; ++t) {
        if (normals[t].x == 0 && normals[t].y == 0 && normals[t].z == 0)
            continue;  // no area: covers no pixel
        const Vec3 a = at(t, 0), b = at(t, 1), c = at(t, 2);
        const std::uint64_t x0 = cellOf(std::min({a.x, b.x, c.x}) - near, lo.x),
                            x1 = cellOf(std::max({a.x, b.x, c.x}) + near, lo.x);
        const std::uint64_t y0 = cellOf(std::min({a.y, b.y, c.y}) - near, lo.y),
                            y1 = cellOf(std::max({a.y, b.y, c.y}) + near, lo.y);
        const std::uint64_t z0 = cellOf(std::min({a.z, b.z, c.z}) - near, lo.z),
                            z1 = cellOf(std::max({a.z, b.z, c.z}) + near, lo.z);
        if (grid.size() + (x1 - x0 + 1) * (y1 - y0 + 1) * (z1 - z0 + 1) > 32 * triangles + 1024)
            return true;
        for (std::uint64_t z = z0; z <= z1; ++z)
            for (std::uint64_t y = y0; y <= y1; ++y)
                for (std::uint64_t x = x0; x <= x1; ++x)
                    grid.push_back(((z << 20) | (y << 10) | x) << 32 | t);
    }
    std::sort(grid.begin(), grid.end());
    std::size_t cells = 0;
    for (std::size_t first = 0, last = 0; first < grid.size(); first = last) {
        if (++cells % 1024 == 0 && cancel && cancel->load())
            return true;
        while (last < grid.size() && grid[last] >> 32 == grid[first] >> 32)
            ++last;
        if (last - first > 96)
            return true;
        for (std::size_t i = first; i < last; ++i)
            for (std::size_t j = i + 1; j < last; ++j) {
                const std::size_t s = grid[i] & 0xffffffffu, t = grid[j] & 0xffffffffu;
                const Vec3 n = normals[s];
                if (std::fabs(dot(n, normals[t])) < 1 - 1e-4f)
                    continue;
                const Vec3 origin = at(s, 0);
                bool inPlane = true;
                for (int k = 0; k < 3 && inPlane; ++k)
                    inPlane = std::fabs(dot(at(t, k) - origin, n)) <= near;
                if (!inPlane)
                    continue;
                // Seen along the normal's largest axis, the plane keeps its overlaps.
                const float ax = std::fabs(n.x), ay = std::fabs(n.y), az = std::fabs(n.z);
                const int drop = ax >= ay && ax >= az ? 0 : ay >= az ? 1 : 2;
                auto flat = [drop](const Vec3& p, float& u, float& v) {
                    u = drop == 0 ? p.y : p.x;
                    v = drop == 2 ? p.y : p.z;
                };
                Triangle2D ps, pt;
                for (int k = 0; k < 3; ++k) {
                    flat(at(s, k), ps.x[k], ps.y[k]);
                    flat(at(t, k), pt.x[k], pt.y[k]);
                }
                if (interiorsOverlap(ps, pt, tolerance))
                    return true;
            }
    }
    return false;
}

template <class T>
void remapVertices(HugePageVector<T>& values, const std::vector<unsigned>& remap, std::size_t count) {
    if (values.size() != remap.size())
        return;
    HugePageVector<T> out(count);
    meshopt_remapVertexBuffer(out.data(), values.data(), values.size(), sizeof(T), remap.data());
    values = std::move(out);
}

}  // namespace

std::vector<bool> orderFreeGroups(const PreparedModel& prepared, const Model& model, const std::vector<Image>& images) {
    std::vector<bool> free(prepared.groups.size(), false);
    for (std::size_t g = 0; g < prepared.groups.size() && g < model.groups.size(); ++g)
        free[g] = prepared.groups[g].indices.size() >= 6 && orderFree(model, images, g, prepared.groups[g]);
    return free;
}

void orderForVertexCache(PreparedModel& prepared, const std::vector<bool>& groups, const std::atomic<bool>* cancel) {
    std::vector<unsigned> remap;
    for (std::size_t g = 0; g < prepared.groups.size() && g < groups.size(); ++g) {
        if (cancel && cancel->load())
            return;
        PreparedGroup& group = prepared.groups[g];
        const std::size_t vertices = group.vertices.size();
        if (!groups[g] || group.indices.size() < 6 || hasCoplanarOverlap(group, cancel) || (cancel && cancel->load()))
            continue;
        meshopt_optimizeVertexCache(group.indices.data(), group.indices.data(), group.indices.size(), vertices);
        // Numbered in order of first use, the vertices a run of triangles reads lie close together.
        remap.resize(vertices);
        const std::size_t used =
            meshopt_optimizeVertexFetchRemap(remap.data(), group.indices.data(), group.indices.size(), vertices);
        if (used != vertices)
            continue;  // every prepared vertex belongs to a triangle; anything else stays as it is
        meshopt_remapIndexBuffer(group.indices.data(), group.indices.data(), group.indices.size(), remap.data());
        remapVertices(group.vertices, remap, used);
        remapVertices(group.sourcePositions, remap, used);
        remapVertices(group.sourceUVs, remap, used);
        remapVertices(group.skin, remap, used);
    }
}

std::uint32_t packDiffuse(const ModelColor& c) {
    return lowByte(c.alpha) << 24 | lowByte(c.red) << 16 | lowByte(c.green) << 8 | lowByte(c.blue);
}

int drawPathOf(const Model& model) {
    std::uint32_t mode = model.renderMode;
    if (mode == 0)
        return 0;
    if (mode == 8)
        return 8;
    // 1, 2, 4 and 9 draw what mode 3 prepares; 5 to 7 belong to the effect path, which falls
    // back to mode 3; so do modes nothing knows.
    return 3;
}

ModelPreparation prepareForDrawing(const Model& model, const ModelInstance& instance) {
    ModelPreparation p;
    p.model = &model;
    p.renderMode = model.renderMode;
    p.subdivisionLevel = model.subdivisionLevel;
    p.path = drawPathOf(model);
    if (p.path == 0)
        return p;
    const Model* source = &model;
    if (p.path == 8) {
        p.subdivided = std::make_unique<Model>(model);
        for (int pass = subdivisionPasses(model); pass > 0; --pass)
            subdivideQuads(*p.subdivided);
        source = p.subdivided.get();
    }
    p.prepared = prepareMode3(*source);
    // Which groups the vertex-cache order may change, worked out after the first frame.
    p.orderGroups = orderFreeGroups(p.prepared, *source, instance.textures);
    if (std::find(p.orderGroups.begin(), p.orderGroups.end(), true) == p.orderGroups.end())
        p.orderGroups.clear();
    p.orderMirrored = mirroredGroups(model);
    const bool mirrors = std::find(p.orderMirrored.begin(), p.orderMirrored.end(), true) != p.orderMirrored.end();
    if (!p.orderGroups.empty() && mirrors)
        p.unmirrored = p.prepared;
    addMirroredCopies(p.prepared, p.orderMirrored);
    return p;
}

bool preparedFrom(const ModelPreparation& preparation, const Model& model) {
    return preparation.model == &model && preparation.renderMode == model.renderMode &&
           preparation.subdivisionLevel == model.subdivisionLevel;
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

std::vector<bool> mirroredGroups(const Model& model) {
    std::vector<bool> out(model.groups.size());
    for (std::size_t g = 0; g < model.groups.size(); ++g)
        out[g] = isMirrored(model.groups[g]);
    return out;
}

void addMirroredCopies(PreparedModel& prepared, const std::vector<bool>& mirroredGroups) {
    for (std::size_t g = 0; g < prepared.groups.size() && g < mirroredGroups.size(); ++g) {
        if (!mirroredGroups[g])
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
