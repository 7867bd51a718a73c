#include "preview/group_buffers.h"

#include <algorithm>
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

std::vector<IndexRun> narrowIndexRuns(std::span<const std::uint32_t> indices) {
    constexpr std::uint32_t kSpan = 65535;
    std::vector<IndexRun> runs;
    std::uint32_t lo = 0, hi = 0;
    for (std::size_t t = 0; t + 2 < indices.size(); t += 3) {
        const std::uint32_t a = indices[t], b = indices[t + 1], c = indices[t + 2];
        const std::uint32_t tlo = std::min({a, b, c}), thi = std::max({a, b, c});
        if (thi - tlo > kSpan)
            return {};
        if (!runs.empty() && std::max(hi, thi) - std::min(lo, tlo) <= kSpan) {
            lo = std::min(lo, tlo);
            hi = std::max(hi, thi);
            runs.back().count += 3;
            continue;
        }
        if (!runs.empty())
            runs.back().base = lo;
        runs.push_back({t, 3, 0});
        lo = tlo;
        hi = thi;
    }
    if (!runs.empty())
        runs.back().base = lo;
    return runs;
}

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
    for (std::size_t k = r.firstDraw; k < r.firstDraw + r.drawCount; ++k) {
        const Draw& d = draws_[k];
        glDrawElementsBaseVertex(GL_TRIANGLES, d.indexCount, d.wide ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT,
                                 reinterpret_cast<void*>(d.indexOffset), d.baseVertex);
    }
    return r.indexCount / 3;
}

// Places each group in the shared buffers (index runs 4-byte aligned); returns the vertex count.
std::size_t GroupBuffers::layOut(const PreparedModel& prepared, std::size_t& indexBytes) {
    ranges_.assign(prepared.groups.size(), {});
    draws_.clear();
    std::size_t vertices = 0;
    indexBytes = 0;
    for (std::size_t g = 0; g < prepared.groups.size(); ++g) {
        const PreparedGroup& group = prepared.groups[g];
        Range& r = ranges_[g];
        r.firstVertex = vertices;
        r.firstDraw = draws_.size();
        r.indexCount = GLsizei(group.indices.size());
        if (group.wideIndices)
            r.runs = narrowIndexRuns(group.indices);
        else if (!group.indices.empty())
            r.runs.push_back({0, group.indices.size(), 0});
        const bool wide = r.runs.empty() && !group.indices.empty();
        if (wide)
            draws_.push_back({GLint(vertices), indexBytes, r.indexCount, true});
        for (const IndexRun& run : r.runs)
            draws_.push_back({GLint(vertices + run.base), indexBytes + run.first * 2, GLsizei(run.count), false});
        r.drawCount = draws_.size() - r.firstDraw;
        vertices += group.vertices.size();
        indexBytes += group.indices.size() * (wide ? 4 : 2);
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
        if (r.drawCount == 0 && group.vertices.empty())
            continue;
        const std::size_t first = r.drawCount > 0 ? draws_[r.firstDraw].indexOffset : 0;
        glBufferSubData(GL_ARRAY_BUFFER, GLintptr(ranges_[g].firstVertex * sizeof(PreparedVertex)),
                        GLsizeiptr(group.vertices.size() * sizeof(PreparedVertex)), group.vertices.data());
        if (r.drawCount == 0)
            continue;
        if (r.runs.empty()) {
            glBufferSubData(GL_ELEMENT_ARRAY_BUFFER, GLintptr(first), GLsizeiptr(group.indices.size() * 4),
                            group.indices.data());
            continue;
        }
        // Each run's indices count from its own base vertex.
        narrow.resize(group.indices.size());
        for (const IndexRun& run : r.runs)
            for (std::size_t i = run.first; i < run.first + run.count; ++i)
                narrow[i] = std::uint16_t(group.indices[i] - run.base);
        glBufferSubData(GL_ELEMENT_ARRAY_BUFFER, GLintptr(first), GLsizeiptr(narrow.size() * 2), narrow.data());
    }
    glBindVertexArray(0);
    buffersStale_ = false;
    positionsStale_ = false;
}

void GroupBuffers::uploadPositions(const PreparedModel& prepared) {
    glBindBuffer(GL_ARRAY_BUFFER, vertexBuffer_);
    for (std::size_t g = 0; g < prepared.groups.size(); ++g) {
        const PreparedGroup& group = prepared.groups[g];
        glBufferSubData(GL_ARRAY_BUFFER, GLintptr(ranges_[g].firstVertex * sizeof(PreparedVertex)),
                        GLsizeiptr(group.vertices.size() * sizeof(PreparedVertex)), group.vertices.data());
    }
    positionsStale_ = false;
}

}  // namespace rv
