#include <algorithm>

#include "model/mesh.h"
#include "model/vertex_hash.h"

namespace rv {

void weldModel(Model& model) {
    std::size_t corners = 0;
    for (const ModelPolygon& p : model.polygons)
        corners += std::size_t(cornersOf(p));

    FirstMatchTable<3> positionTable(corners);
    FirstMatchTable<4> colorTable(corners);
    FirstMatchTable<2> uvTable(corners);
    std::vector<ModelVertex> positions;
    std::vector<ModelSkinWeight> skin;
    std::vector<ModelColor> colors;
    std::vector<ModelUV> uvs;
    positions.reserve(std::min(corners, model.positions.size()));
    skin.reserve(std::min(corners, model.positions.size()));
    colors.reserve(std::min(corners, model.colors.size()));
    uvs.reserve(std::min(corners, model.uvs.size()));

    // An index outside its table (index 0 of an empty table is common: a format without colours
    // or uvs) adds nothing and stays as it is; welded tables never grow, so it stays outside.
    auto inside = [](const auto& table, std::int32_t index) {
        return index >= 0 && std::size_t(index) < table.size();
    };
    for (ModelPolygon& p : model.polygons) {
        for (int c = 0; c < cornersOf(p); ++c) {
            ModelCorner& corner = p.corners[c];
            bool added = false;
            if (inside(model.positions, corner.position)) {
                const std::int32_t old = corner.position;
                corner.position = positionTable.findOrAdd(keyOf(model.positions[std::size_t(old)]), &added);
                if (added) {
                    positions.push_back(model.positions[std::size_t(old)]);
                    skin.push_back(entryOr0(model.skin, old));
                }
            }
            if (inside(model.colors, corner.color)) {
                const ModelColor color = model.colors[std::size_t(corner.color)];
                corner.color = colorTable.findOrAdd(keyOf(color), &added);
                if (added)
                    colors.push_back(color);
            }
            if (inside(model.uvs, corner.uv)) {
                const ModelUV uv = model.uvs[std::size_t(corner.uv)];
                corner.uv = uvTable.findOrAdd(keyOf(uv), &added);
                if (added)
                    uvs.push_back(uv);
            }
        }
    }

    model.positions = std::move(positions);
    model.skin = std::move(skin);
    model.colors = std::move(colors);
    model.uvs = std::move(uvs);
    computeNormals(model);
}

}  // namespace rv
