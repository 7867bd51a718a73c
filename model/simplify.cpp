#include "model/simplify.h"

#include <meshoptimizer.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <unordered_map>
#include <vector>

#include "model/vertex_hash.h"

namespace rv {
namespace {

// A little under the limit, so that one pass usually fits.
constexpr std::size_t kAimPolygons = kMaxPolygons - kMaxPolygons / 50;
// Passes per way of simplifying, each aiming lower than the one before.
constexpr int kPasses = 4;
// A group keeps at least this many of its triangles, so that no group disappears.
constexpr std::size_t kMinGroupTriangles = 2;
// meshoptimizer's error bound, relative to the extent: none, the polygon count decides.
constexpr float kNoErrorBound = 1.0f;
// A triangle whose normal is further than this (as a cosine) from the surface it was made from
// has been folded over or squeezed into a sliver.
constexpr float kFoldedCosine = 0.3f;
// Rounds of edge flips that unfold triangles, and how far (relative to the extent) a flip may
// move the surface when meshoptimizer's own error is smaller.
constexpr int kUnfoldRounds = 4;
constexpr float kUnfoldAllowance = 1e-3f;

bool finite(const ModelVertex& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

ModelVertex minus(const ModelVertex& a, const ModelVertex& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
ModelVertex cross(const ModelVertex& a, const ModelVertex& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
float dot(const ModelVertex& a, const ModelVertex& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
float length(const ModelVertex& v) { return std::sqrt(dot(v, v)); }

// (p1 - p0) x (p2 - p1), not normalised.
ModelVertex crossOf(const ModelVertex& p0, const ModelVertex& p1, const ModelVertex& p2) {
    return cross(minus(p1, p0), minus(p2, p1));
}

ModelVertex faceNormalOf(const ModelVertex& p0, const ModelVertex& p1, const ModelVertex& p2) {
    const ModelVertex n = crossOf(p0, p1, p2);
    const float size = length(n);
    if (!(size >= 1e-7f))
        return {};
    return {n.x / size, n.y / size, n.z / size};
}

// One group's triangles as meshoptimizer takes them: an indexed mesh whose vertices stand for
// corners.
struct GroupMesh {
    std::int32_t group = 0;
    std::vector<ModelCorner> vertices;  // the corner each vertex stands for
    std::vector<float> positions;  // x, y, z per vertex
    std::vector<unsigned> indices;  // three per triangle
    float scale = 0;  // the extent meshoptimizer's relative error is measured against
    std::vector<ModelVertex> surface;  // per vertex, the sum of the unit normals of its input triangles
    std::vector<unsigned> result;

    ModelVertex at(unsigned v) const { return {positions[3 * v], positions[3 * v + 1], positions[3 * v + 2]}; }
};

// Corners that index the same entries share a vertex; so do corners whose entries are equal in
// value, so that a model with repeated table entries is still one connected surface. Where the
// values differ (a uv seam, a colour edge, a crease), the vertices sharing a position are told
// apart, and meshoptimizer keeps such a seam closed.
GroupMesh meshOf(const Model& model, std::int32_t group, const std::vector<ModelCorner>& corners) {
    // Distinct corners in first-use order, by their indices.
    std::size_t capacity = 16;
    while (capacity < corners.size() * 2)
        capacity *= 2;
    const std::size_t mask = capacity - 1;
    std::vector<std::uint32_t> slots(capacity, 0);  // distinct corner + 1; 0 is empty
    std::vector<ModelCorner> distinct;
    std::vector<std::uint32_t> distinctOf(corners.size());
    for (std::size_t i = 0; i < corners.size(); ++i) {
        const ModelCorner& c = corners[i];
        std::uint64_t h = std::uint32_t(c.position) * 0x9e3779b97f4a7c15ull;
        h = (h ^ std::uint32_t(c.normal)) * 0xff51afd7ed558ccdull;
        h = (h ^ std::uint32_t(c.color)) * 0xc4ceb9fe1a85ec53ull;
        h = (h ^ std::uint32_t(c.uv)) * 0x9e3779b97f4a7c15ull;
        std::size_t slot = std::size_t(h >> 32) & mask;
        while (slots[slot] != 0 && !(distinct[slots[slot] - 1] == c))
            slot = (slot + 1) & mask;
        if (slots[slot] == 0) {
            distinct.push_back(c);
            slots[slot] = std::uint32_t(distinct.size());
        }
        distinctOf[i] = slots[slot] - 1;
    }

    // Then by value.
    std::vector<std::array<float, 12>> keys(distinct.size());
    for (std::size_t d = 0; d < distinct.size(); ++d) {
        const ModelCorner& c = distinct[d];
        const ModelVertex p = entryOr0(model.positions, c.position);
        const ModelVertex n = entryOr0(model.normals, c.normal);
        const ModelColor k = entryOr0(model.colors, c.color);
        const ModelUV t = entryOr0(model.uvs, c.uv);
        keys[d] = {p.x, p.y, p.z, n.x, n.y, n.z, k.red, k.green, k.blue, k.alpha, t.u, t.v};
    }
    std::vector<std::int32_t> vertexOf(distinct.size());
    GroupMesh mesh;
    mesh.group = group;
    mesh.vertices.reserve(buildFirstMatchRemap<12>(vertexOf, keys));
    for (std::size_t d = 0; d < distinct.size(); ++d) {
        if (std::size_t(vertexOf[d]) < mesh.vertices.size())
            continue;
        mesh.vertices.push_back(distinct[d]);
        mesh.positions.insert(mesh.positions.end(), keys[d].begin(), keys[d].begin() + 3);
    }
    mesh.indices.resize(corners.size());
    for (std::size_t i = 0; i < corners.size(); ++i)
        mesh.indices[i] = unsigned(vertexOf[distinctOf[i]]);
    mesh.scale = meshopt_simplifyScale(mesh.positions.data(), mesh.vertices.size(), sizeof(float) * 3);
    mesh.surface.assign(mesh.vertices.size(), ModelVertex{});
    for (std::size_t i = 0; i < mesh.indices.size(); i += 3) {
        const ModelVertex n =
            faceNormalOf(mesh.at(mesh.indices[i]), mesh.at(mesh.indices[i + 1]), mesh.at(mesh.indices[i + 2]));
        for (std::size_t c = 0; c < 3; ++c) {
            ModelVertex& sum = mesh.surface[mesh.indices[i + c]];
            sum = {sum.x + n.x, sum.y + n.y, sum.z + n.z};
        }
    }
    return mesh;
}

// The cosine between triangle (a, b, c) and the surface its corners come from; -1 for a triangle
// without area.
float cosineToSurface(const GroupMesh& mesh, unsigned a, unsigned b, unsigned c) {
    const ModelVertex n = crossOf(mesh.at(a), mesh.at(b), mesh.at(c));
    const ModelVertex& sa = mesh.surface[a];
    const ModelVertex& sb = mesh.surface[b];
    const ModelVertex& sc = mesh.surface[c];
    const ModelVertex s{sa.x + sb.x + sc.x, sa.y + sb.y + sc.y, sa.z + sb.z + sc.z};
    const float sizes = length(n) * length(s);
    return sizes > 0 ? dot(n, s) / sizes : -1.0f;
}

std::uint64_t edgeKey(unsigned from, unsigned to) { return std::uint64_t(from) << 32 | to; }

// meshoptimizer 0.18 leaves a few triangles folded over, or squeezed into slivers standing across
// the surface, where the surface is nearly flat. Each is mended by flipping the edge it shares with
// a neighbour, when that gives two triangles that lie along the surface and moves the surface no
// further than `allowance`.
void unfold(GroupMesh& mesh, float allowance) {
    std::vector<unsigned>& t = mesh.result;
    std::unordered_map<std::uint64_t, std::size_t> triangleOf;  // directed edge -> triangle
    triangleOf.reserve(t.size());
    for (std::size_t i = 0; i < t.size(); i += 3)
        for (std::size_t k = 0; k < 3; ++k)
            triangleOf[edgeKey(t[i + k], t[i + (k + 1) % 3])] = i / 3;
    const auto setTriangle = [&](std::size_t tri, unsigned a, unsigned b, unsigned c) {
        for (std::size_t k = 0; k < 3; ++k)
            triangleOf.erase(edgeKey(t[3 * tri + k], t[3 * tri + (k + 1) % 3]));
        t[3 * tri] = a;
        t[3 * tri + 1] = b;
        t[3 * tri + 2] = c;
        for (std::size_t k = 0; k < 3; ++k)
            triangleOf[edgeKey(t[3 * tri + k], t[3 * tri + (k + 1) % 3])] = tri;
    };
    for (int round = 0; round < kUnfoldRounds; ++round) {
        bool flipped = false;
        for (std::size_t tri = 0; tri < t.size() / 3; ++tri) {
            if (cosineToSurface(mesh, t[3 * tri], t[3 * tri + 1], t[3 * tri + 2]) > kFoldedCosine)
                continue;
            for (std::size_t k = 0; k < 3; ++k) {
                // This triangle is (u, v, a); its neighbour over edge u-v is (v, u, b).
                const unsigned u = t[3 * tri + k], v = t[3 * tri + (k + 1) % 3], a = t[3 * tri + (k + 2) % 3];
                const auto found = triangleOf.find(edgeKey(v, u));
                if (found == triangleOf.end())
                    continue;
                const std::size_t other = found->second;
                // Where an edge has more than two triangles the map may name one without it.
                std::size_t at = 0;
                while (at < 3 && !(t[3 * other + at] == v && t[3 * other + (at + 1) % 3] == u))
                    ++at;
                if (at == 3)
                    continue;
                const unsigned b = t[3 * other + (at + 2) % 3];
                if (b == a || triangleOf.count(edgeKey(a, b)) || triangleOf.count(edgeKey(b, a)))
                    continue;
                if (cosineToSurface(mesh, a, u, b) <= kFoldedCosine || cosineToSurface(mesh, b, v, a) <= kFoldedCosine)
                    continue;
                // How far the surface moves: the volume between the two pairs over their area.
                const ModelVertex pu = mesh.at(u);
                const float volume6 =
                    std::fabs(dot(minus(mesh.at(v), pu), cross(minus(mesh.at(a), pu), minus(mesh.at(b), pu))));
                const float area2 =
                    length(crossOf(mesh.at(a), pu, mesh.at(b))) + length(crossOf(mesh.at(b), mesh.at(v), mesh.at(a)));
                if (!(volume6 <= allowance * area2))
                    continue;
                setTriangle(tri, a, u, b);
                setTriangle(other, b, v, a);
                flipped = true;
                break;
            }
        }
        if (!flipped)
            break;
    }
}

enum class Way {
    LockedBorders,  // group borders stay where they are, seams stay closed
    FreeBorders,  // borders may be simplified along themselves
    Sloppy,  // a vertex grid: fits whatever the topology
};

// Simplifies every group to about `ratio` of its triangles into its `result`; returns the number
// of triangles kept and the largest absolute error in `error`.
std::size_t simplifyGroups(std::vector<GroupMesh>& meshes, double ratio, Way way, float& error) {
    std::size_t kept = 0;
    error = 0;
    for (GroupMesh& mesh : meshes) {
        const std::size_t triangles = mesh.indices.size() / 3;
        const std::size_t target =
            std::max(std::size_t(std::ceil(double(triangles) * ratio)), std::min(triangles, kMinGroupTriangles));
        if (target >= triangles) {
            mesh.result = mesh.indices;
            kept += triangles;
            continue;
        }
        mesh.result.resize(mesh.indices.size());  // meshoptimizer may write up to the whole input
        float relative = 0;
        std::size_t count = 0;
        if (way == Way::Sloppy)
            count = meshopt_simplifySloppy(mesh.result.data(), mesh.indices.data(), mesh.indices.size(),
                                           mesh.positions.data(), mesh.vertices.size(), sizeof(float) * 3, target * 3,
                                           kNoErrorBound, &relative);
        else
            count =
                meshopt_simplify(mesh.result.data(), mesh.indices.data(), mesh.indices.size(), mesh.positions.data(),
                                 mesh.vertices.size(), sizeof(float) * 3, target * 3, kNoErrorBound,
                                 way == Way::LockedBorders ? meshopt_SimplifyLockBorder : 0, &relative);
        // A grid too coarse for a small group can leave nothing of it: the group keeps a triangle.
        if (count == 0) {
            count = 3;
            std::copy(mesh.indices.begin(), mesh.indices.begin() + 3, mesh.result.begin());
        }
        mesh.result.resize(count);
        kept += count / 3;
        error = std::max(error, relative * mesh.scale);
        unfold(mesh, std::max(relative, kUnfoldAllowance) * mesh.scale);
    }
    return kept;
}

// Replaces the polygons by simplified triangles when they can be made to fit; false when not.
bool reducePolygons(Model& model, SimplifyReport& report) {
    std::vector<std::vector<ModelCorner>> cornersByGroup(model.groups.size());
    HugePageVector<ModelPolygon> unchanged;  // lines, points, polygons naming no usable position
    for (const ModelPolygon& p : model.polygons) {
        const int n = cornersOf(p);
        bool usable = n >= 3 && p.group >= 0 && std::size_t(p.group) < model.groups.size();
        for (int c = 0; usable && c < n; ++c) {
            const std::int32_t index = p.corners[c].position;
            usable = index >= 0 && std::size_t(index) < model.positions.size() &&
                     finite(model.positions[std::size_t(index)]);
        }
        if (!usable) {
            unchanged.push_back(p);
            continue;
        }
        std::vector<ModelCorner>& corners = cornersByGroup[std::size_t(p.group)];
        for (int k = 0; k + 2 < n; ++k)
            corners.insert(corners.end(), {p.corners[0], p.corners[k + 1], p.corners[k + 2]});
    }
    if (unchanged.size() >= kAimPolygons)
        return false;

    std::vector<GroupMesh> meshes;
    std::size_t triangles = 0;
    float low[3] = {INFINITY, INFINITY, INFINITY}, high[3] = {-INFINITY, -INFINITY, -INFINITY};
    for (std::size_t g = 0; g < cornersByGroup.size(); ++g) {
        if (cornersByGroup[g].empty())
            continue;
        meshes.push_back(meshOf(model, std::int32_t(g), cornersByGroup[g]));
        cornersByGroup[g] = {};
        triangles += meshes.back().indices.size() / 3;
        const std::vector<float>& xyz = meshes.back().positions;
        for (std::size_t i = 0; i < xyz.size(); ++i) {
            low[i % 3] = std::min(low[i % 3], xyz[i]);
            high[i % 3] = std::max(high[i % 3], xyz[i]);
        }
    }
    const float extent = std::max({high[0] - low[0], high[1] - low[1], high[2] - low[2]});

    // Locked borders first; when they stop the reduction short of the limit, let them go.
    const double budget = double(kAimPolygons - unchanged.size());
    bool fitted = false;
    float error = 0;
    for (Way way : {Way::LockedBorders, Way::FreeBorders, Way::Sloppy}) {
        double ratio = budget / double(triangles);
        std::size_t previous = triangles + 1;
        for (int pass = 0; pass < kPasses && !fitted; ++pass) {
            const std::size_t kept = simplifyGroups(meshes, ratio, way, error);
            fitted = unchanged.size() + kept <= std::size_t(kMaxPolygons);
            if (fitted || kept >= previous)
                break;
            previous = kept;
            ratio *= 0.95 * budget / double(kept);
        }
        if (fitted) {
            report.bordersMoved = way != Way::LockedBorders;
            break;
        }
    }
    if (!fitted)
        return false;

    HugePageVector<ModelPolygon> polygons;
    for (const GroupMesh& mesh : meshes) {
        for (std::size_t i = 0; i < mesh.result.size(); i += 3) {
            ModelPolygon t;
            t.cornerCount = 3;
            t.group = mesh.group;
            for (int c = 0; c < 3; ++c)
                t.corners[std::size_t(c)] = mesh.vertices[mesh.result[i + std::size_t(c)]];
            t.faceNormal = faceNormalOf(model.positions[std::size_t(t.corners[0].position)],
                                        model.positions[std::size_t(t.corners[1].position)],
                                        model.positions[std::size_t(t.corners[2].position)]);
            polygons.push_back(t);
        }
    }
    polygons.insert(polygons.end(), unchanged.begin(), unchanged.end());
    model.polygons = std::move(polygons);
    report.error = extent > 0 ? error / extent : 0;
    return true;
}

// Keeps the entries of `table` that `newIndex` gives a place (>= 0), in their order.
template <class T, class A>
void keepUsed(std::vector<T, A>& table, const std::vector<std::int32_t>& newIndex) {
    std::size_t next = 0;
    for (std::size_t i = 0; i < table.size(); ++i)
        if (newIndex[i] >= 0)
            table[next++] = table[i];
    table.resize(next);
}

// Drops the table entries no corner uses; the skin entry and smoothed normal of a position go
// with it. An index outside its table is left as it is.
void dropUnusedEntries(Model& model) {
    const auto compact = [&model](auto& table, std::int32_t ModelCorner::*field) {
        std::vector<std::int32_t> newIndex(table.size(), -1);
        for (const ModelPolygon& p : model.polygons)
            for (int c = 0; c < cornersOf(p); ++c) {
                const std::int32_t index = p.corners[std::size_t(c)].*field;
                if (index >= 0 && std::size_t(index) < table.size())
                    newIndex[std::size_t(index)] = 0;
            }
        std::int32_t next = 0;
        for (std::int32_t& n : newIndex)
            if (n == 0)
                n = next++;
        if (std::size_t(next) == table.size())
            return newIndex;
        for (ModelPolygon& p : model.polygons)
            for (int c = 0; c < cornersOf(p); ++c) {
                std::int32_t& index = p.corners[std::size_t(c)].*field;
                if (index >= 0 && std::size_t(index) < table.size())
                    index = newIndex[std::size_t(index)];
            }
        keepUsed(table, newIndex);
        return newIndex;
    };
    const std::size_t positions = model.positions.size();
    const std::vector<std::int32_t> newPosition = compact(model.positions, &ModelCorner::position);
    if (model.skin.size() == positions)
        keepUsed(model.skin, newPosition);
    if (model.smoothNormals.size() == positions)
        keepUsed(model.smoothNormals, newPosition);
    compact(model.normals, &ModelCorner::normal);
    compact(model.colors, &ModelCorner::color);
    compact(model.uvs, &ModelCorner::uv);
}

}  // namespace

std::string withThousands(std::size_t n) {
    std::string digits = std::to_string(n);
    for (int at = int(digits.size()) - 3; at > 0; at -= 3)
        digits.insert(std::size_t(at), ",");
    return digits;
}

std::optional<std::string> limitExcess(const Model& model) {
    const auto over = [](std::size_t count, const char* what, int limit) {
        return withThousands(count) + " " + what + "; a model holds at most " + withThousands(std::size_t(limit));
    };
    if (model.polygons.size() > std::size_t(kMaxPolygons))
        return over(model.polygons.size(), "polygons", kMaxPolygons);
    if (model.positions.size() > std::size_t(kMaxTableEntries))
        return over(model.positions.size(), "positions", kMaxTableEntries);
    if (model.normals.size() > std::size_t(kMaxTableEntries))
        return over(model.normals.size(), "normals", kMaxTableEntries);
    if (model.colors.size() > std::size_t(kMaxTableEntries))
        return over(model.colors.size(), "colours", kMaxTableEntries);
    if (model.uvs.size() > std::size_t(kMaxTableEntries))
        return over(model.uvs.size(), "uvs", kMaxTableEntries);
    return std::nullopt;
}

SimplifyReport simplifyModel(Model& model) {
    SimplifyReport report;
    report.polygonsBefore = std::int32_t(std::min<std::size_t>(model.polygons.size(), INT32_MAX));
    if (model.polygons.size() <= std::size_t(kMaxPolygons) || reducePolygons(model, report))
        dropUnusedEntries(model);
    report.polygonsAfter = std::int32_t(std::min<std::size_t>(model.polygons.size(), INT32_MAX));
    report.fits = !limitExcess(model);
    return report;
}

}  // namespace rv
