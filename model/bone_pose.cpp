#include "model/bone_pose.h"

#include <algorithm>
#include <cmath>

#include "model/motion.h"
#include "runtime/matrix.h"

namespace rv {
namespace {

std::array<float, 3> lerp(const std::array<float, 3>& a, const std::array<float, 3>& b, float t) {
    return {a[0] + (b[0] - a[0]) * t, a[1] + (b[1] - a[1]) * t, a[2] + (b[2] - a[2]) * t};
}

int bonesOf(const Model& model) { return std::clamp(model.boneCount, 0, kMaxBones); }

}  // namespace

ModelPlayback boneKeysAt(const Model& model, int motion, int frame) {
    ModelPlayback playback;
    playback.animating = true;
    playback.motion = motion;
    playback.frame = frame;
    findKeys(model, playback);
    return playback;
}

BoneLocalPose boneLocalPose(const Model& model, int bone, int motion, const ModelPlayback& keysFound) {
    BoneLocalPose pose;
    if (bone <= 0 || bone >= bonesOf(model))
        return pose;
    const ModelBone& b = model.bones[std::size_t(bone)];
    pose.translation = b.position;
    if (motion < 0 || std::size_t(motion) >= b.tracks.size() || std::size_t(bone) >= keysFound.boneKeys.size())
        return pose;
    const std::vector<ModelBoneKey>& keys = b.tracks[std::size_t(motion)].keys;
    if (keys.empty())
        return pose;
    const KeyPosition at = keysFound.boneKeys[std::size_t(bone)];
    const std::size_t k = std::size_t(at.key);
    const ModelBoneKey& from = keys[k];
    const ModelBoneKey& to = keys[(k + 1) % keys.size()];
    const std::array<float, 3> offset = lerp(from.position, to.position, at.factor);
    pose.translation = {b.position[0] + offset[0], b.position[1] + offset[1], b.position[2] + offset[2]};
    pose.rotation = slerp(unitQuaternion(from.rotation), unitQuaternion(to.rotation), at.factor);
    pose.scale = lerp(from.scale, to.scale, at.factor);
    return pose;
}

std::array<float, 4> unitQuaternion(const std::array<float, 4>& q) {
    const double length =
        std::sqrt(double(q[0]) * q[0] + double(q[1]) * q[1] + double(q[2]) * q[2] + double(q[3]) * q[3]);
    if (!(length > 1e-12) || !std::isfinite(length))
        return {0, 0, 0, 1};
    return {float(q[0] / length), float(q[1] / length), float(q[2] / length), float(q[3] / length)};
}

std::array<float, 4> slerp(std::array<float, 4> a, const std::array<float, 4>& b, float t) {
    double dot = double(a[0]) * b[0] + double(a[1]) * b[1] + double(a[2]) * b[2] + double(a[3]) * b[3];
    if (dot < 0) {
        for (float& v : a)
            v = -v;
        dot = -dot;
    }
    double wa = 1 - t, wb = t;
    if (dot < 0.9995) {
        const double angle = std::acos(std::min(dot, 1.0));
        const double s = std::sin(angle);
        wa = std::sin((1 - t) * angle) / s;
        wb = std::sin(t * angle) / s;
    }
    return unitQuaternion({float(wa * a[0] + wb * b[0]), float(wa * a[1] + wb * b[1]), float(wa * a[2] + wb * b[2]),
                           float(wa * a[3] + wb * b[3])});
}

BoneLocalPose boneLocalPose(const Model& model, int bone, int motion, int frame) {
    return boneLocalPose(model, bone, motion, boneKeysAt(model, motion, frame));
}

BoneMatrix boneMatrix(const BoneLocalPose& pose) {
    const auto [x, y, z, w] = pose.rotation;
    const auto [sx, sy, sz] = pose.scale;
    const auto [tx, ty, tz] = pose.translation;
    // The rotation matrix of a unit quaternion for row vectors, each row scaled.
    return {sx * (1 - 2 * (y * y + z * z)),
            sx * 2 * (x * y + z * w),
            sx * 2 * (x * z - y * w),
            0,
            sy * 2 * (x * y - z * w),
            sy * (1 - 2 * (x * x + z * z)),
            sy * 2 * (y * z + x * w),
            0,
            sz * 2 * (x * z + y * w),
            sz * 2 * (y * z - x * w),
            sz * (1 - 2 * (x * x + y * y)),
            0,
            tx,
            ty,
            tz,
            1};
}

std::vector<BoneMatrix> poseBones(const Model& model, int motion, int frame) {
    const int bones = bonesOf(model);
    const ModelPlayback keysFound = boneKeysAt(model, motion, frame);
    std::vector<BoneMatrix> matrices(static_cast<std::size_t>(bones));
    for (int i = 0; i < bones; ++i)
        matrices[std::size_t(i)] = boneMatrix(boneLocalPose(model, i, motion, keysFound));
    for (int i = 0; i < bones; ++i)
        for (int j = i + 1; j < bones; ++j)
            if (model.bones[std::size_t(j)].parent == i)
                matrices[std::size_t(j)] = multiply(matrices[std::size_t(j)], matrices[std::size_t(i)]);
    return matrices;
}

std::vector<std::array<float, 3>> restPositions(const Model& model) {
    const int bones = bonesOf(model);
    std::vector<std::array<float, 3>> rest(static_cast<std::size_t>(bones), {0, 0, 0});
    for (int i = 1; i < bones; ++i)
        rest[std::size_t(i)] = model.bones[std::size_t(i)].position;
    // Parents first: one pass in index order makes them global.
    for (int i = 0; i < bones; ++i)
        for (int j = i + 1; j < bones; ++j)
            if (model.bones[std::size_t(j)].parent == i)
                for (int a = 0; a < 3; ++a)
                    rest[std::size_t(j)][std::size_t(a)] += rest[std::size_t(i)][std::size_t(a)];
    return rest;
}

}  // namespace rv
