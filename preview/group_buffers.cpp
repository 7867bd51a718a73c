#include "preview/group_buffers.h"

#include <cstdint>

#include "preview/gl_common.h"

namespace rv {
namespace {

// Render mode 5's per-vertex bones: two bone numbers (within the bone count) and the weight.
struct SkinVertex {
    std::uint8_t bones[4];
    float weight;
};
static_assert(sizeof(SkinVertex) == 8);

}  // namespace

void GroupBuffers::create() {
    glGenVertexArrays(1, &vao_);
    glGenBuffers(1, &vertexBuffer_);
    glGenBuffers(1, &indexBuffer_);
    glBindVertexArray(vao_);
    glBindBuffer(GL_ARRAY_BUFFER, vertexBuffer_);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, indexBuffer_);
    setVertexLayout(VertexLayout::Prepared);
    glGenBuffers(1, &skinBuffer_);
    glBindBuffer(GL_ARRAY_BUFFER, skinBuffer_);
    glEnableVertexAttribArray(kAttrBoneIndices);
    glVertexAttribIPointer(kAttrBoneIndices, 4, GL_UNSIGNED_BYTE, sizeof(SkinVertex), reinterpret_cast<void*>(0));
    glEnableVertexAttribArray(kAttrBoneWeight);
    glVertexAttribPointer(kAttrBoneWeight, 1, GL_FLOAT, GL_FALSE, sizeof(SkinVertex), reinterpret_cast<void*>(4));
    glVertexAttribI4ui(kAttrBoneIndices, 0, 0, 0, 0);
    glVertexAttrib1f(kAttrBoneWeight, 1);
    glBindVertexArray(0);
    buffersStale_ = true;
}

void GroupBuffers::release() {
    GLuint buffers[] = {vertexBuffer_, indexBuffer_, skinBuffer_};
    glDeleteBuffers(3, buffers);
    glDeleteVertexArrays(1, &vao_);
    vao_ = vertexBuffer_ = indexBuffer_ = skinBuffer_ = 0;
    buffersStale_ = true;
}

void GroupBuffers::sync(const PreparedModel& prepared, int bones) {
    if (buffersStale_)
        upload(prepared, bones);
    else if (positionsStale_)
        uploadPositions(prepared);
}

void GroupBuffers::bind() const { glBindVertexArray(vao_); }

int GroupBuffers::draw(std::size_t g) const {
    const Range& r = ranges_[g];
    glDrawElementsBaseVertex(GL_TRIANGLES, r.indexCount, r.wide ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT,
                             reinterpret_cast<void*>(r.indexOffset), r.baseVertex);
    return r.indexCount / 3;
}

// Places each group in the shared buffers (index runs 4-byte aligned); returns the vertex count.
std::size_t GroupBuffers::layOut(const PreparedModel& prepared, std::size_t& indexBytes) {
    ranges_.assign(prepared.groups.size(), {});
    std::size_t vertices = 0;
    indexBytes = 0;
    for (std::size_t g = 0; g < prepared.groups.size(); ++g) {
        const PreparedGroup& group = prepared.groups[g];
        Range& r = ranges_[g];
        r.baseVertex = GLint(vertices);
        r.indexOffset = indexBytes;
        r.indexCount = GLsizei(group.indices.size());
        r.wide = group.wideIndices;
        vertices += group.vertices.size();
        indexBytes += group.indices.size() * (r.wide ? 4 : 2);
        indexBytes = (indexBytes + 3) & ~std::size_t(3);
    }
    return vertices;
}

void GroupBuffers::uploadSkin(const PreparedModel& prepared, std::size_t vertices, int bones) {
    // Bone numbers come from the file: past the bone count they read as bone 0.
    std::vector<SkinVertex> skins;
    skins.reserve(vertices);
    for (const PreparedGroup& group : prepared.groups)
        for (std::size_t v = 0; v < group.vertices.size(); ++v) {
            const ModelSkinWeight w = v < group.skin.size() ? group.skin[v] : ModelSkinWeight{0, 0, 1.0f, 0};
            const int first = w.bone < bones ? w.bone : 0, second = w.bone2 < bones ? w.bone2 : 0;
            skins.push_back({{std::uint8_t(first), std::uint8_t(second), 0, 0}, w.weight});
        }
    glBindBuffer(GL_ARRAY_BUFFER, skinBuffer_);
    glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(skins.size() * sizeof(SkinVertex)), skins.data(), GL_STATIC_DRAW);
}

void GroupBuffers::upload(const PreparedModel& prepared, int bones) {
    std::size_t indexBytes = 0;
    const std::size_t vertices = layOut(prepared, indexBytes);
    glBindVertexArray(vao_);
    glBindBuffer(GL_ARRAY_BUFFER, vertexBuffer_);
    glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(vertices * sizeof(PreparedVertex)), nullptr, GL_DYNAMIC_DRAW);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, indexBuffer_);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, GLsizeiptr(indexBytes), nullptr, GL_STATIC_DRAW);
    uploadSkin(prepared, vertices, bones);
    glBindBuffer(GL_ARRAY_BUFFER, vertexBuffer_);
    std::vector<std::uint16_t> narrow;
    for (std::size_t g = 0; g < prepared.groups.size(); ++g) {
        const PreparedGroup& group = prepared.groups[g];
        const Range& r = ranges_[g];
        glBufferSubData(GL_ARRAY_BUFFER, GLintptr(std::size_t(r.baseVertex) * sizeof(PreparedVertex)),
                        GLsizeiptr(group.vertices.size() * sizeof(PreparedVertex)), group.vertices.data());
        if (r.wide) {
            glBufferSubData(GL_ELEMENT_ARRAY_BUFFER, GLintptr(r.indexOffset), GLsizeiptr(group.indices.size() * 4),
                            group.indices.data());
        } else {
            narrow.assign(group.indices.begin(), group.indices.end());
            glBufferSubData(GL_ELEMENT_ARRAY_BUFFER, GLintptr(r.indexOffset), GLsizeiptr(narrow.size() * 2),
                            narrow.data());
        }
    }
    glBindVertexArray(0);
    buffersStale_ = false;
    positionsStale_ = false;
}

void GroupBuffers::uploadPositions(const PreparedModel& prepared) {
    glBindBuffer(GL_ARRAY_BUFFER, vertexBuffer_);
    for (std::size_t g = 0; g < prepared.groups.size(); ++g) {
        const PreparedGroup& group = prepared.groups[g];
        glBufferSubData(GL_ARRAY_BUFFER, GLintptr(std::size_t(ranges_[g].baseVertex) * sizeof(PreparedVertex)),
                        GLsizeiptr(group.vertices.size() * sizeof(PreparedVertex)), group.vertices.data());
    }
    positionsStale_ = false;
}

}  // namespace rv
