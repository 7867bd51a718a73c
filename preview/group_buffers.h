// The prepared render modes (3 and 8) on the GPU: every group's vertices, 16-bit indices (32-bit
// only where a triangle spans more than 16 bits address) and per-vertex bones in three shared
// buffers under one vertex array, each group drawn from its own range.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include <epoxy/gl.h>

#include "preview/prepare.h"

namespace rv {

// A run of whole triangles whose vertices all lie within 65,535 of `base`, so that it draws with
// 16-bit indices from its own base vertex.
struct IndexRun {
    std::size_t first = 0, count = 0;  // indices
    std::uint32_t base = 0;
};
// Splits a triangle list into such runs, in order, each as long as it can be; empty when some
// triangle alone spans more than 16-bit indices reach (the list then draws with 32-bit indices).
std::vector<IndexRun> narrowIndexRuns(std::span<const std::uint32_t> indices);

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
    struct Draw {
        GLint baseVertex = 0;
        std::size_t indexOffset = 0;  // bytes
        GLsizei indexCount = 0;
        bool wide = false;
    };
    struct Range {
        std::size_t firstVertex = 0;
        std::size_t firstDraw = 0, drawCount = 0;
        GLsizei indexCount = 0;
        std::vector<IndexRun> runs;  // the 16-bit runs; empty for 32-bit indices
    };
    std::size_t layOut(const PreparedModel& prepared, std::size_t& indexBytes);
    void uploadSkin(const PreparedModel& prepared, std::size_t vertices, int bones);
    void upload(const PreparedModel& prepared, int bones);
    void uploadPositions(const PreparedModel& prepared);

    GLuint vao_ = 0, vertexBuffer_ = 0, indexBuffer_ = 0, skinBuffer_ = 0;
    std::vector<Range> ranges_;
    std::vector<Draw> draws_;
    bool buffersStale_ = true;  // prepared data not yet in the buffers
    bool positionsStale_ = false;  // skinned positions not yet in the buffers
};

}  // namespace rv
