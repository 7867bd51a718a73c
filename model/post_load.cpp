#include <algorithm>
#include <cmath>

#include "model/mesh.h"
#include "model/vertex_hash.h"
#include "runtime/matrix.h"

namespace rv {
namespace {

using Matrix = std::array<float, 16>;  // row-major, row vectors: translation in row 3

constexpr float kFar = 99999.0f;  // start of every bounds search

Matrix translation(const std::array<float, 3>& t) { return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, t[0], t[1], t[2], 1}; }

void widen(ModelVertex& min, ModelVertex& max, const ModelVertex& p) {
    min = {std::min(min.x, p.x), std::min(min.y, p.y), std::min(min.z, p.z)};
    max = {std::max(max.x, p.x), std::max(max.y, p.y), std::max(max.z, p.z)};
}

void computeBounds(Model& model) {
    model.boundsMin = {kFar, kFar, kFar};
    model.boundsMax = {-kFar, -kFar, -kFar};
    for (const ModelVertex& p : model.positions)
        widen(model.boundsMin, model.boundsMax, p);

    for (ModelGroup& group : model.groups) {
        group.boundsMin = {kFar, kFar, kFar};
        group.boundsMax = {-kFar, -kFar, -kFar};
    }
    for (const ModelPolygon& p : model.polygons) {
        if (p.group < 0 || std::size_t(p.group) >= model.groups.size())
            continue;
        ModelGroup& group = model.groups[std::size_t(p.group)];
        for (int c = 0; c < cornersOf(p); ++c) {
            const std::int32_t index = p.corners[c].position;
            if (index >= 0 && std::size_t(index) < model.positions.size())
                widen(group.boundsMin, group.boundsMax, model.positions[std::size_t(index)]);
        }
    }
    // A group without polygons keeps +-99999 and so a centre of 0.
    for (ModelGroup& group : model.groups)
        group.center = {(group.boundsMin.x + group.boundsMax.x) * 0.5f, (group.boundsMin.y + group.boundsMax.y) * 0.5f,
                        (group.boundsMin.z + group.boundsMax.z) * 0.5f};
}

// True when a group scrolls its texture.
bool applyGroupSwitches(Model& model) {
    bool keyed = false, mapA = false, displacement = false;
    for (const ModelGroup& group : model.groups) {
        keyed = keyed || group.keyed != 0;
        mapA = mapA || (group.mapA != 0 && group.mapATexture >= 1);
        displacement = displacement || (group.displacement != 0 && group.displacementTexture >= 1);
    }
    if (mapA) {
        model.renderMode = 6;
        model.renderModeDirty = 1;
    }
    if (displacement) {  // after mode 6, so displacement wins
        model.renderMode = 8;
        model.renderModeDirty = 1;
    }
    if (model.revision <= kCurrentRevision)
        for (ModelGroup& group : model.groups) {
            group.lightFlag = 1;
            group.lightMode = 0;
        }
    return keyed;
}

// Bone matrices from rest positions relative to the parent bone (parents before children).
std::vector<Matrix> boneMatricesOf(const Model& model, int bones) {
    std::vector<Matrix> matrices(static_cast<std::size_t>(bones));
    for (int i = 0; i < bones; ++i)
        matrices[std::size_t(i)] =
            translation(i == 0 ? std::array<float, 3>{0, 0, 0} : model.bones[std::size_t(i)].position);
    for (int i = 0; i < bones; ++i)
        for (int j = i + 1; j < bones; ++j)
            if (model.bones[std::size_t(j)].parent == i)
                matrices[std::size_t(j)] = multiply(matrices[std::size_t(j)], matrices[std::size_t(i)]);
    return matrices;
}

void bindToBones(Model& model, const std::vector<Matrix>& matrices, int bones) {
    for (int i = 0; i < bones; ++i) {
        const Matrix& m = matrices[std::size_t(i)];
        model.boneCenters[std::size_t(i)] = {m[12], m[13], m[14]};
        model.boneChildCounts[std::size_t(i)] = 1;
    }
    // A bone's centre is the mean of its own position and its children's.
    for (int i = 0; i < bones; ++i) {
        const std::int32_t parent = model.bones[std::size_t(i)].parent;
        if (parent <= 0 || parent >= bones)
            continue;
        const Matrix& m = matrices[std::size_t(i)];
        ModelVertex& centre = model.boneCenters[std::size_t(parent)];
        centre = {centre.x + m[12], centre.y + m[13], centre.z + m[14]};
        ++model.boneChildCounts[std::size_t(parent)];
    }
    for (int i = 0; i < bones; ++i) {
        ModelVertex& centre = model.boneCenters[std::size_t(i)];
        const float count = float(model.boneChildCounts[std::size_t(i)]);
        centre = {centre.x / count, centre.y / count, centre.z / count};
    }

    if (model.boneCount <= 1)
        return;
    const std::size_t n = std::min(model.positions.size(), model.skin.size());
    for (std::size_t v = 0; v < n; ++v) {
        ModelSkinWeight& weight = model.skin[v];
        if (weight.autoBind != 1)
            continue;
        const ModelVertex& p = model.positions[v];
        int best = 1;
        float bestDistance = 99999.9f;
        for (int b = 1; b < bones; ++b) {
            const ModelVertex& c = model.boneCenters[std::size_t(b)];
            const float distance = std::fabs(p.x - c.x) + std::fabs(p.y - c.y) + std::fabs(p.z - c.z);
            if (distance < bestDistance) {  // strictly: a tie stays with the lower bone
                best = b;
                bestDistance = distance;
            }
        }
        weight.bone = std::uint8_t(best);
        weight.bone2 = 0;
        weight.weight = 1.0f;
    }
}

}  // namespace

void postLoad(Model& model, ModelInstance& instance) {
    sizeInstance(instance, model);
    computeBounds(model);
    if (applyGroupSwitches(model))
        instance.playback.animating = true;

    const int bones = std::clamp(model.boneCount, 0, kMaxBones);
    const std::vector<Matrix> matrices = boneMatricesOf(model, bones);
    bindToBones(model, matrices, bones);
    for (int i = 0; i < bones; ++i)
        instance.bones[std::size_t(i)].matrix = matrices[std::size_t(i)];
}

void postLoad(Model& model) {
    ModelInstance instance;
    postLoad(model, instance);
}

}  // namespace rv
