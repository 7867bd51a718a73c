// Splitting a flat polygon of any number of corners into triangles that keep its outline.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "model/model.h"

namespace rv {

// Ear clipping in the plane of the polygon (its Newell normal): a concave outline gives triangles
// inside it, never across a notch. Appends corners.size() - 2 triangles to `out`, each as three
// indices into `corners`, wound as the polygon is. A polygon with no area (all corners on a line,
// repeated corners) still gives that many triangles, clipped where the outline allows none.
// corners.size() must be at least 3.
void triangulatePolygon(std::span<const ModelVertex> corners, std::vector<std::array<std::int32_t, 3>>& out);

}  // namespace rv
