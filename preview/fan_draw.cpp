#include "preview/fan_draw.h"

#include "model/vertex_hash.h"
#include "preview/prepare.h"

namespace rv {

// What every corner of one group's fans shares.
struct FanDraw::Corners {
    const ModelGroup* group = nullptr;
    const HugePageVector<ModelVertex>* positions = nullptr;
    const PoseState* pose = nullptr;
    bool animated = false, flat = false, weightDisplay = false;
    int bones = 0, selectedBone = -1;
    std::uint32_t specular = 0;
};

namespace {

Vec3 faceNormalOf(const Vec3& a, const Vec3& b, const Vec3& c) { return normalize(cross(b - a, c - a)); }

// The weight display's colour of a corner: red without bones to show, blue to red by the weight
// of the selected bone, grey for corners it does not move.
std::uint32_t weightColour(const Model& m, const ModelSkinWeight& w, int bones, int selectedBone) {
    const int first = w.bone < bones ? w.bone : 0, second = w.bone2 < bones ? w.bone2 : 0;
    if (m.boneCount < 2)
        return 0xFFC40000u;
    if (selectedBone >= 0 && (first == selectedBone || second == selectedBone))
        return argb(255, int(w.weight * 196), 0, int((1 - w.weight) * 196));
    return 0xFFC4C4C4u;
}

}  // namespace

void FanDraw::create() {
    glGenVertexArrays(1, &vao_);
    glGenBuffers(1, &buffer_);
    glBindVertexArray(vao_);
    glBindBuffer(GL_ARRAY_BUFFER, buffer_);
    setVertexLayout(VertexLayout::Fan);
    glBindVertexArray(0);
}

void FanDraw::release() {
    glDeleteBuffers(1, &buffer_);
    glDeleteVertexArrays(1, &vao_);
    vao_ = buffer_ = 0;
}

void FanDraw::forget() {
    byGroup_ = {};
    deformed_.clear();
}

void FanDraw::skin(const Model& model, const PoseState& pose) {
    deformed_.resize(model.positions.size());
    skinPositions(model.positions, model.skin, pose, deformed_);
}

void FanDraw::bind() const {
    glBindVertexArray(vao_);
    glBindBuffer(GL_ARRAY_BUFFER, buffer_);
}

void FanDraw::appendPolygon(const Model& m, const ModelPolygon& polygon, const Corners& c) {
    const int n = cornersOf(polygon);
    FanVertex corner[4];
    Vec3 at[4];
    for (int k = 0; k < n; ++k) {
        const ModelVertex p = entryOr0(*c.positions, polygon.corners[std::size_t(k)].position);
        at[k] = {p.x, p.y, p.z};
    }
    Vec3 face{polygon.faceNormal.x, polygon.faceNormal.y, polygon.faceNormal.z};
    if (c.animated)
        face = faceNormalOf(at[0], at[1], at[2]);
    for (int k = 0; k < n; ++k) {
        const ModelCorner& mc = polygon.corners[std::size_t(k)];
        Vec3 normal = face;
        if (!c.flat && c.animated) {
            const ModelVertex sn = entryOr0(m.smoothNormals, mc.position);
            const ModelSkinWeight w = entryOr0(m.skin, mc.position);
            const std::vector<Mat4>& rotations = c.pose->rotationOnly;
            const std::size_t b = w.bone < rotations.size() ? w.bone : 0;
            normal = rotations.empty() ? Vec3{sn.x, sn.y, sn.z} : transformNormal({sn.x, sn.y, sn.z}, rotations[b]);
        } else if (!c.flat && !m.normals.empty()) {
            const ModelVertex mn = entryOr0(m.normals, mc.normal);
            normal = {mn.x, mn.y, mn.z};
        }
        const std::uint32_t diffuse = c.weightDisplay
                                          ? weightColour(m, entryOr0(m.skin, mc.position), c.bones, c.selectedBone)
                                          : packDiffuse(tintedColour(m, *c.group, mc));
        const ModelUV uv = entryOr0(m.uvs, mc.uv);
        corner[k] = {at[k].x, at[k].y, at[k].z, normal.x, normal.y, normal.z, diffuse, c.specular, uv.u, uv.v};
    }
    for (int t = 0; t + 2 < n; ++t) {
        fan_.push_back(corner[0]);
        fan_.push_back(corner[t + 1]);
        fan_.push_back(corner[t + 2]);
    }
}

int FanDraw::draw(const Model& m, std::size_t g, const PoseState& pose, bool animated, int selectedBone) {
    const ModelGroup& group = m.groups[g];
    Corners c;
    c.group = &group;
    c.pose = &pose;
    c.animated = animated && deformed_.size() == m.positions.size();
    c.positions = c.animated ? &deformed_ : &m.positions;
    c.flat = group.shadeParam == kStyleFlat;
    c.weightDisplay = m.fillMode == 3;
    c.bones = usableBones(m);
    c.selectedBone = selectedBone;
    c.specular = argb(255, int(group.materialParams[8]), int(group.materialParams[9]), int(group.materialParams[10]));
    fan_.clear();
    for (const std::int32_t index : byGroup_.of(g))
        appendPolygon(m, m.polygons[std::size_t(index)], c);
    if (isMirrored(group)) {
        const std::size_t count = fan_.size();
        for (std::size_t v = 0; v < count; v += 3) {
            const FanVertex a = mirrored(fan_[v]), b = mirrored(fan_[v + 1]), cc = mirrored(fan_[v + 2]);
            fan_.push_back(a);
            fan_.push_back(cc);
            fan_.push_back(b);
        }
    }
    if (fan_.empty())
        return 0;
    glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(fan_.size() * sizeof(FanVertex)), fan_.data(), GL_STREAM_DRAW);
    glDrawArrays(GL_TRIANGLES, 0, GLsizei(fan_.size()));
    return int(fan_.size() / 3);
}

}  // namespace rv
