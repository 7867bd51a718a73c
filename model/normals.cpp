#include <cmath>

#include "model/mesh.h"
#include "model/vertex_hash.h"

namespace rv {
namespace {

ModelVertex normalised(const ModelVertex& v) {
    const float length = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    if (!(length >= 1e-7f))  // also a NaN length: a degenerate face has no direction
        return {};
    return {v.x / length, v.y / length, v.z / length};
}

}  // namespace

void computeNormals(Model& model) {
    const HugePageVector<ModelVertex>& positions = model.positions;

    for (ModelPolygon& p : model.polygons) {
        if (p.cornerCount < 3)
            continue;
        const ModelVertex p0 = entryOr0(positions, p.corners[0].position);
        const ModelVertex p1 = entryOr0(positions, p.corners[1].position);
        const ModelVertex p2 = entryOr0(positions, p.corners[2].position);
        const ModelVertex a{p1.x - p0.x, p1.y - p0.y, p1.z - p0.z};
        const ModelVertex b{p2.x - p1.x, p2.y - p1.y, p2.z - p1.z};
        p.faceNormal = normalised({a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x});
    }

    HugePageVector<ModelVertex>& smooth = model.smoothNormals;
    smooth.assign(positions.size(), ModelVertex{});
    for (const ModelPolygon& p : model.polygons) {
        if (p.cornerCount < 3)
            continue;
        for (int c = 0; c < cornersOf(p); ++c) {
            const std::int32_t index = p.corners[c].position;
            if (index < 0 || std::size_t(index) >= smooth.size())
                continue;
            ModelVertex& n = smooth[std::size_t(index)];
            n.x += p.faceNormal.x;
            n.y += p.faceNormal.y;
            n.z += p.faceNormal.z;
        }
    }
    for (ModelVertex& n : smooth)
        n = normalised(n);

    // Smooth shading is always on in this program, so every corner of a face points at the
    // smoothed normal of its position, one table entry per distinct normal in first-use order.
    std::vector<std::array<float, 3>> keys;
    keys.reserve(model.polygons.size() * 4);
    for (const ModelPolygon& p : model.polygons)
        if (p.cornerCount >= 3)
            for (int c = 0; c < cornersOf(p); ++c)
                keys.push_back(keyOf(entryOr0(smooth, p.corners[c].position)));
    std::vector<std::int32_t> remap(keys.size());
    HugePageVector<ModelVertex> normals;
    normals.reserve(buildFirstMatchRemap<3>(remap, keys));
    std::size_t next = 0;
    for (ModelPolygon& p : model.polygons) {
        if (p.cornerCount < 3)
            continue;
        for (int c = 0; c < cornersOf(p); ++c, ++next) {
            p.corners[c].normal = remap[next];
            if (std::size_t(remap[next]) == normals.size())
                normals.push_back({keys[next][0], keys[next][1], keys[next][2]});
        }
    }
    model.normals = std::move(normals);
}

}  // namespace rv
