// The prepared render modes (3 and 8) on the GPU: every group's vertices, 16- or 32-bit indices
// and per-vertex bones in three shared buffers under one vertex array, each group drawn from its
// own range.
#pragma once

#include <cstddef>
#include <vector>

#include <epoxy/gl.h>

#include "preview/prepare.h"

namespace rv {

class GroupBuffers {
public:
    // Makes / deletes the vertex array and its buffers (context current).
    void create();
    void release();

    // The prepared data changed as a whole / only its positions (skinning).
    void markStale() { buffersStale_ = true; }
    void markPositionsStale() { positionsStale_ = true; }
    // Brings the buffers up to date with `prepared` (bone numbers at or past `bones` read as 0).
    void sync(const PreparedModel& prepared, int bones);

    // Binds the vertex array.
    void bind() const;
    // Whether group g has triangles to draw; draw() issues them (vertex array bound) and returns
    // how many.
    bool hasTriangles(std::size_t g) const { return g < ranges_.size() && ranges_[g].indexCount > 0; }
    int draw(std::size_t g) const;
    int triangles(std::size_t g) const { return ranges_[g].indexCount / 3; }

private:
    struct Range {
        GLint baseVertex = 0;
        std::size_t indexOffset = 0;  // bytes
        GLsizei indexCount = 0;
        bool wide = false;
    };
    std::size_t layOut(const PreparedModel& prepared, std::size_t& indexBytes);
    void uploadSkin(const PreparedModel& prepared, std::size_t vertices, int bones);
    void upload(const PreparedModel& prepared, int bones);
    void uploadPositions(const PreparedModel& prepared);

    GLuint vao_ = 0, vertexBuffer_ = 0, indexBuffer_ = 0, skinBuffer_ = 0;
    std::vector<Range> ranges_;
    bool buffersStale_ = true;  // prepared data not yet in the buffers
    bool positionsStale_ = false;  // skinned positions not yet in the buffers
};

}  // namespace rv
