// The per-group rules both drawing paths follow: which polygons a group draws, whether it is
// mirrored, its colour, its texture (keyed by a playing motion) and its texture scroll.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "model/instance.h"
#include "model/model.h"

namespace rv {

// The polygons each group draws: those of 3 or more corners whose group exists, in list order
// within a group.
struct PolygonsByGroup {
    std::vector<std::size_t> start;  // groups + 1 entries; group g's run is start[g]..start[g+1]
    std::vector<std::int32_t> polygons;  // polygon numbers, grouped

    std::span<const std::int32_t> of(std::size_t g) const {
        if (g + 1 >= start.size())
            return {};
        return std::span<const std::int32_t>(polygons).subspan(start[g], start[g + 1] - start[g]);
    }
};
PolygonsByGroup polygonsByGroup(const Model& model);

// A mirrored group also shows its x-negated copy, wound the other way so that it faces out.
inline bool isMirrored(const ModelGroup& group) { return group.mirror() != 0; }

// The x-negated copy of a vertex (position and normal); its triangles take the corners in the
// order a, c, b.
template <class Vertex>
Vertex mirrored(Vertex v) {
    v.x = -v.x;
    v.nx = -v.nx;
    return v;
}

// A corner's colour on the scale 0..255: the model's tint / 255 times the corner's colour entry
// (vertexColorMode 1) or the group colour.
ModelColor tintedColour(const Model& model, const ModelGroup& group, const ModelCorner& corner);

// The texture number group g shows: its own, or its current key's while a motion with keys for
// it plays; numbers past the slot's table read as 0 (untextured).
int groupTextureNumber(const Model& model, const ModelPlayback& playback, std::size_t g);

// The fraction of group g's texture scroll (textures repeat; the fraction keeps float precision).
std::array<float, 2> groupScroll(const ModelGroup& group, const ModelPlayback& playback, std::size_t g);

// A texture number a group names for an effect (mapA, displacement, mapC): 0 unless it lies
// within the slot's texture table.
int effectTextureNumber(const Model& model, int number);

}  // namespace rv
