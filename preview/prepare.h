// What the buffered render modes draw: per group, the vertices matched on position and uv and
// the fan triangles over them, built once when the model's render mode is set up.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "model/instance.h"
#include "model/model.h"
#include "runtime/image.h"

namespace rv {

// One vertex as the buffered modes upload it: 36 bytes, the diffuse colour packed as
// alpha << 24 | red << 16 | green << 8 | blue.
struct PreparedVertex {
    float x = 0, y = 0, z = 0;
    float nx = 0, ny = 0, nz = 0;
    std::uint32_t diffuse = 0;
    float u = 0, v = 0;
};
static_assert(sizeof(PreparedVertex) == 36);

struct PreparedGroup {
    HugePageVector<PreparedVertex> vertices;
    HugePageVector<ModelVertex> sourcePositions;  // as prepared, before skinning
    HugePageVector<ModelUV> sourceUVs;  // as prepared, before scrolling
    HugePageVector<ModelSkinWeight> skin;  // per vertex, from its position
    HugePageVector<std::uint32_t> indices;  // fan triangles, 3 per triangle
    std::int32_t triangleCount = 0;
    bool wideIndices = false;  // more vertices than 16-bit indices address
};

struct PreparedModel {
    std::vector<PreparedGroup> groups;  // one per model group
};

// Mode 3 preparation: for each group, its polygons of 3 or more corners in list order; each corner
// reuses the first earlier vertex of the group with exactly the same position and uv (normal and
// colour are not compared) or appends one. The colour is tint / 255 x the corner's colour entry
// (vertexColorMode 1) or the group colour, each component truncated to its low 8 bits. Indices
// outside their tables read as zero entries.
PreparedModel prepareMode3(const Model& model);

// Which groups of the prepared `model` may have their triangles drawn in any order, as far as fill
// and colour tell: filled, and every fragment opaque (vertex alpha 255 and, for each texture the
// group may show, an image of alpha 255 in `images`). Blending, or lines and points drawn twice,
// would show a change of order.
std::vector<bool> orderFreeGroups(const PreparedModel& prepared, const Model& model, const std::vector<Image>& images);

// Reorders the triangles of each listed group so that the rasteriser's vertex cache reuses
// vertices, keeping each triangle's corners in order, and numbers the group's vertices in order of
// first use; a group with two triangles in one plane whose interiors overlap (a decal) keeps its
// order, since the last of equal depths shows. Reads nothing but its arguments, so it may run on
// another thread; stops between groups once `cancel` is set.
void orderForVertexCache(PreparedModel& prepared, const std::vector<bool>& groups,
                         const std::atomic<bool>* cancel = nullptr);

// Whether each group of `model` is mirrored (its mirror word non-zero).
std::vector<bool> mirroredGroups(const Model& model);
// Appends to each mirrored group the x-negated copy of its vertices and triangles, wound the
// other way so that it faces out.
void addMirroredCopies(PreparedModel& prepared, const std::vector<bool>& mirroredGroups);

// The render path a model's renderMode comes to here: 0 fans on the CPU each frame, 3 the
// prepared buffers, 8 the prepared buffers of the quad-subdivided copy. Modes 5 to 7 draw the
// prepared buffers through their effects (the bone and the ground effect) when those load, and
// as mode 3 when they do not.
int drawPathOf(const Model& model);

// What the buffered render modes work out from a model before drawing it, made on any thread (the
// window makes it on the loader, beside loading, so that the first frame only uploads it).
struct ModelPreparation {
    const Model* model = nullptr;  // what it was made from, with the render mode and subdivision it had
    std::uint32_t renderMode = 0;
    std::uint16_t subdivisionLevel = 0;
    int path = -1;  // drawPathOf; 0 leaves the fans to the renderer
    PreparedModel prepared;  // mirrored copies included
    std::unique_ptr<Model> subdivided;  // path 8's copy
    // The vertex-cache order to work out after the first frame: the groups it may reorder, the
    // mirrored groups, and the preparation before the mirrored copies (empty when none is).
    std::vector<bool> orderGroups, orderMirrored;
    PreparedModel unmirrored;
};
ModelPreparation prepareForDrawing(const Model& model, const ModelInstance& instance);
// Whether `preparation` was made from `model` as it is now.
bool preparedFrom(const ModelPreparation& preparation, const Model& model);

// Packs a colour whose components are on the scale 0..255 as the buffered modes do.
std::uint32_t packDiffuse(const ModelColor& c);

// How many times the displacement preview may subdivide the model's quads: the model's
// subdivisionLevel, capped so that the copy stays within the polygon and table limits.
int subdivisionPasses(const Model& model);

}  // namespace rv
