// Render mode 0: each frame a group's polygons are fanned on the CPU into 40-byte vertices with
// a specular colour (skinned positions and rotated normals while a pose moves the model) and
// drawn as one triangle list.
#pragma once

#include <cstddef>
#include <vector>

#include <epoxy/gl.h>

#include "model/model.h"
#include "preview/gl_common.h"
#include "preview/group_state.h"
#include "preview/pose.h"

namespace rv {

class FanDraw {
public:
    // Makes / deletes the vertex array and its streaming buffer (context current).
    void create();
    void release();

    // Sorts the model's polygons by group; forget() drops them and the skinned positions.
    void prepare(const Model& model) { byGroup_ = polygonsByGroup(model); }
    void forget();

    // Skins the model's shared positions by the pose, for the frames that follow.
    void skin(const Model& model, const PoseState& pose);

    // Binds the vertex array and its buffer.
    void bind() const;
    // Fans group g into the bound buffer and draws it; returns the triangles drawn. `animated`
    // draws the skinned positions (when they match the model) with the pose's rotations;
    // `selectedBone` colours the weight display (fill mode 3).
    int draw(const Model& model, std::size_t g, const PoseState& pose, bool animated, int selectedBone);

private:
    struct Corners;
    void appendPolygon(const Model& model, const ModelPolygon& polygon, const Corners& c);

    GLuint vao_ = 0, buffer_ = 0;
    PolygonsByGroup byGroup_;
    HugePageVector<ModelVertex> deformed_;  // skinned shared positions
    std::vector<FanVertex> fan_;
};

}  // namespace rv
