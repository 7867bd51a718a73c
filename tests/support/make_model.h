// Model generators shared by tests and benchmarks.
#pragma once

#include "model/model.h"

namespace rv::test {

// A grid of `quads` quadrilaterals (about square), one corner entry per position, one colour and
// uv per position, spread over `groups` groups. 65,000 quads give 260,000 corners.
Model makeQuadGrid(int quads, int groups = 1);

// A small model with a triangle and a quad in two groups, distinct colours and uvs.
Model makeSmallModel();

}  // namespace rv::test
