#include "model/mesh.h"
#include "model/vertex_hash.h"

namespace rv {
namespace {

ModelVertex mean(const ModelVertex& a, const ModelVertex& b) {
    return {(a.x + b.x) * 0.5f, (a.y + b.y) * 0.5f, (a.z + b.z) * 0.5f};
}

ModelUV mean(const ModelUV& a, const ModelUV& b) { return {(a.u + b.u) * 0.5f, (a.v + b.v) * 0.5f}; }

ModelVertex mean(const ModelVertex (&v)[4]) {
    return {(v[0].x + v[1].x + v[2].x + v[3].x) * 0.25f, (v[0].y + v[1].y + v[2].y + v[3].y) * 0.25f,
            (v[0].z + v[1].z + v[2].z + v[3].z) * 0.25f};
}

ModelUV mean(const ModelUV (&t)[4]) {
    return {(t[0].u + t[1].u + t[2].u + t[3].u) * 0.25f, (t[0].v + t[1].v + t[2].v + t[3].v) * 0.25f};
}

}  // namespace

void subdivideQuads(Model& model) {
    HugePageVector<ModelPolygon> kept;
    HugePageVector<ModelPolygon> added;
    kept.reserve(model.polygons.size());
    added.reserve(model.polygons.size() * 4);

    for (const ModelPolygon& quad : model.polygons) {
        if (quad.cornerCount != 4) {
            kept.push_back(quad);
            continue;
        }
        const std::array<ModelCorner, 4>& c = quad.corners;
        ModelVertex p[4];
        ModelUV t[4];
        for (int i = 0; i < 4; ++i) {
            p[i] = entryOr0(model.positions, c[i].position);
            t[i] = entryOr0(model.uvs, c[i].uv);
        }

        // Entries 0 to 3 are the midpoints of the edges leaving corners 0 to 3, entry 4 the
        // centre; each takes the normal, colour and skin entry of corner 0 or the edge's start.
        ModelCorner fresh[5];
        for (int i = 0; i < 5; ++i) {
            const int next = (i + 1) % 4;
            const int from = i < 4 ? i : 0;
            const ModelVertex position = i < 4 ? mean(p[i], p[next]) : mean(p);
            const ModelUV uv = i < 4 ? mean(t[i], t[next]) : mean(t);
            fresh[i].position = model.positionCount();
            model.positions.push_back(position);
            // Skin entries run one per position; pad first when a reader left the table short.
            model.skin.resize(model.positions.size() - 1);
            model.skin.push_back(entryOr0(model.skin, c[from].position));
            fresh[i].uv = model.uvCount();
            model.uvs.push_back(uv);
            fresh[i].normal = model.normalCount();
            model.normals.push_back(entryOr0(model.normals, c[from].normal));
            fresh[i].color = model.colorCount();
            model.colors.push_back(entryOr0(model.colors, c[from].color));
        }

        // Corner i, the midpoint towards the next corner, the centre, the midpoint from the
        // previous corner: the winding of the quad is kept.
        for (int i = 0; i < 4; ++i) {
            ModelPolygon part = quad;
            part.corners = {c[i], fresh[i], fresh[4], fresh[(i + 3) % 4]};
            added.push_back(part);
        }
    }

    kept.insert(kept.end(), added.begin(), added.end());
    model.polygons = std::move(kept);
}

}  // namespace rv
