// Mesh services over a Model: normals, welding, group render meshes, quad subdivision, motion
// playback and the post-load derivations. All exact-equality searches hash, with results
// identical to a first-match linear search (+0.0 equals -0.0, NaN equals nothing).
#pragma once

#include "model/model.h"

namespace rv {

// Face normals of every polygon of 3 or more corners, the per-position smoothed normals, and a
// rebuilt normal table (one entry per distinct smoothed normal, in first-use order) that every
// such corner points into.
void computeNormals(Model& model);

// Merges exactly equal positions, colours and uvs (first occurrence wins, in corner order),
// re-points every corner and recomputes normals. A skin entry travels with its position.
void weldModel(Model& model);

// Rebuilds every group's render mesh: fan triangles (0, k+1, k+2), one mesh vertex per distinct
// (position, normal, colour, uv); a mirrored group gets an x-negated copy with reversed winding.
void buildGroupMeshes(Model& model);

// Splits every 4-corner polygon into four (corner, edge midpoints, centre); one pass.
void subdivideQuads(Model& model);

// Starts motion m with a blend of `blendSeconds`; false when m is out of range or already
// blending into.
bool startMotion(Model& model, int motion, float blendSeconds);

// Per-frame key search of the current motion for every bone and group key table.
void findKeys(Model& model);

// Per-frame texture scrolling of every keyed group.
void scrollTextures(Model& model);

// Bounds, group bounds, animating, render mode from groups, revision fix-up, bone centres and
// automatic bone binding; sets loaded. `boneMatrices` receives one row-major 4x4 matrix per bone
// (may be null).
void postLoad(Model& model, std::vector<std::array<float, 16>>* boneMatrices = nullptr);

}  // namespace rv
