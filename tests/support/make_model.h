// Model generators shared by tests and benchmarks.
#pragma once

#include <string>

#include "model/model.h"

namespace rv::test {

// A grid of `quads` quadrilaterals (about square), one corner entry per position, one colour and
// uv per position, spread over `groups` groups. 65,000 quads give 260,000 corners.
Model makeQuadGrid(int quads, int groups = 1);

// A welded height field of columns x rows cells in x and z (y a gentle wave), each cell two
// triangles or, with `quads`, one quad. Three regions by column: x below columns / 4, below
// columns / 2, the rest; the first two are group 0, the third group 1. u runs with x plus the
// region's number and v with z, so both region borders are uv seams (positions shared, uvs not).
// Normals computed as readers leave them, one skin entry per position.
Model makeSeamedGrid(int columns, int rows, bool quads = false);

// The text of a Wavefront OBJ of a welded grid of columns x rows cells, two triangles each, with
// uvs: 200,000 triangles for 500 x 200, over the polygon limit.
std::string gridObj(int columns, int rows);

// A small model with a triangle and a quad in two groups, distinct colours and uvs.
Model makeSmallModel();

// Adds the quad a, b, c, d (clockwise seen from its front) to group `group`: four new positions
// with skin entries, corners on uv 0 (made when the model has none), no normals or colours.
void addQuad(Model& m, int group, const ModelVertex& a, const ModelVertex& b, const ModelVertex& c,
             const ModelVertex& d);

}  // namespace rv::test
