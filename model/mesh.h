// Mesh services over a Model: normals, welding, group render meshes, quad subdivision and the
// post-load derivations. All exact-equality searches hash, with results
// identical to a first-match linear search (+0.0 equals -0.0, NaN equals nothing).
#pragma once

#include "model/instance.h"
#include "model/model.h"

namespace rv {

// Face normals of every polygon of 3 or more corners, the per-position smoothed normals, and a
// rebuilt normal table (one entry per distinct smoothed normal, in first-use order) that every
// such corner points into. A vector shorter than 1e-7 normalises to (0, 0, 0); lines keep their
// normal indices; a position index outside the table reads as (0, 0, 0).
void computeNormals(Model& model);

// Merges exactly equal positions, colours and uvs (first occurrence wins, in corner order),
// re-points every corner and recomputes normals. A skin entry travels with its position. Entries
// that no corner uses are dropped; an index outside its table is left as it is.
void weldModel(Model& model);

// Rebuilds every group's render mesh: fan triangles (0, k+1, k+2), one mesh vertex per distinct
// (position, normal, colour, uv); a mirrored group gets an x-negated copy of every vertex and,
// while the group has fewer than 65000 triangles, a reversed copy of each triangle. An index
// outside its table reads as a zero entry.
void buildGroupMeshes(Model& model);

// Splits every 4-corner polygon into four (corner, edge midpoints, centre); one pass. The new
// polygons replace their quad at the end of the list; each pass appends 5 entries to every table
// per quad, so the caller bounds the number of passes.
void subdivideQuads(Model& model);

// Bounds, group bounds, render mode from groups, revision fix-up, bone centres and automatic bone
// binding; sizes the instance, gives it the bone matrices and starts texture scrolling.
void postLoad(Model& model, ModelInstance& instance);
// The same where nobody keeps the instance.
void postLoad(Model& model);

}  // namespace rv
