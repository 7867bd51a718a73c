// Models over the limits a model holds (kMaxPolygons polygons, kMaxTableEntries entries in each
// mesh table): the check, and a reduction with meshoptimizer that makes them fit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "model/model.h"

namespace rv {

// A count as the messages give it: "200,000".
std::string withThousands(std::size_t n);

// Why `model` does not fit the limits: "200,000 polygons; a model holds at most 65,000", or
// "300,000 positions; a model holds at most 260,000" (also normals, colours, uvs); nullopt when
// it fits.
std::optional<std::string> limitExcess(const Model& model);

struct SimplifyReport {
    std::int32_t polygonsBefore = 0;
    std::int32_t polygonsAfter = 0;
    float error = 0;  // the largest meshoptimizer reported, relative to the model's extent
    bool bordersMoved = false;  // group borders and seams had to give way to fit
    bool fits = false;  // the model now fits the limits
};

// Reduces `model` in place until it fits the limits. Polygons of 4 corners become two triangles
// (0, 1, 2) and (0, 2, 3), as they are drawn; the triangles of each group are simplified on their
// own with meshoptimizer, the group's border locked, and seams where uvs, colours or normals
// differ across an edge kept closed; lines, points and polygons that name positions outside the
// table stay as they are. Table entries no corner uses any more are dropped (a skin entry and a
// smoothed normal go with their position), and the new triangles get their face normals. A model
// whose polygons fit already loses only its unused entries. Only when locked borders stop the
// reduction short do borders move (bordersMoved).
SimplifyReport simplifyModel(Model& model);

}  // namespace rv
