#include "preview/pose.h"

#include <algorithm>
#include <cmath>

#include "model/bone_pose.h"
#include "model/motion.h"

namespace rv {
namespace {

bool finite(float f) { return std::isfinite(f); }

Vec3 vecOf(const std::array<float, 3>& v) {
    return {finite(v[0]) ? v[0] : 0, finite(v[1]) ? v[1] : 0, finite(v[2]) ? v[2] : 0};
}

std::array<float, 3> lerp(const std::array<float, 3>& a, const std::array<float, 3>& b, float t) {
    return {(b[0] - a[0]) * t + a[0], (b[1] - a[1]) * t + a[1], (b[2] - a[2]) * t + a[2]};
}

Quat quatOf(const std::array<float, 4>& q) { return {q[0], q[1], q[2], q[3]}; }

Mat4 localTransform(const BoneLocalPose& pose) {
    const Vec3 s = vecOf(pose.scale), t = vecOf(pose.translation);
    Mat4 m = multiply(scaling(s.x, s.y, s.z), rotationOf(quatOf(pose.rotation)));
    m[12] = t.x;
    m[13] = t.y;
    m[14] = t.z;
    return m;
}

}  // namespace

int usableBones(const Model& model) { return std::clamp(model.boneCount, 0, kMaxBones); }

void advancePlayback(const Model& model, ModelPlayback& playback) {
    if (!playback.animating)
        return;
    if (playback.motion >= 0 && playback.motion < model.motionCount()) {
        const ModelMotion& motion = model.motions[std::size_t(playback.motion)];
        ++playback.frame;
        playback.time += 1.0f / 60.0f;
        if (playback.frame >= motion.frameCount) {
            if (motion.loop) {
                playback.frame = 0;
                playback.time = 0;
            } else if (motion.nextMotion >= 0 && motion.nextMotion < model.motionCount() &&
                       motion.nextMotion != playback.motion) {
                startMotion(model, playback, motion.nextMotion, 0);
            } else {
                playback.frame = std::max(motion.frameCount - 1, 0);
            }
        }
    }
    MotionBlend& blend = playback.blend;
    if (blend.running) {
        blend.progress += blend.step;
        // A step of 0, a negative or a NaN one would blend for ever.
        if (!(blend.step > 0) || !(blend.progress < 1)) {
            blend.progress = 1;
            blend.running = false;
        }
    }
    findKeys(model, playback);
    scrollTextures(model, playback);
}

void computeBoneMatrices(const Model& model, ModelInstance& instance, PoseState& pose) {
    const int bones = usableBones(model);
    const std::size_t n = std::size_t(bones);
    pose.current.resize(n);
    pose.previous.resize(n);
    pose.rest.assign(n, kIdentity);
    pose.global.assign(n, kIdentity);
    pose.rotationOnly.assign(n, kIdentity);
    pose.globalRotation.assign(n, Quat{});

    const MotionBlend& blend = instance.playback.blend;
    if (blend.running && !pose.blendCaptured) {
        pose.previous = pose.current;  // the pose of the frame before the switch
        pose.blendCaptured = true;
    } else if (!blend.running) {
        pose.blendCaptured = false;
    }
    const float factor = blend.running ? std::clamp(blend.progress, 0.0f, 1.0f) : 1.0f;

    for (int i = 0; i < bones; ++i) {
        const std::size_t b = std::size_t(i);
        if (i == 0) {
            pose.current[b] = {};
            continue;
        }
        BoneLocalPose sampled = boneLocalPose(model, i, instance.playback.motion, instance.playback);
        if (blend.running) {
            const BoneLocalPose& old = pose.previous[b];
            sampled.translation = lerp(old.translation, sampled.translation, factor);
            sampled.rotation = slerp(old.rotation, sampled.rotation, factor);
        }
        pose.current[b] = sampled;
        const Vec3 rest = vecOf(model.bones[b].position);
        pose.rest[b] = translation(rest.x, rest.y, rest.z);
        pose.global[b] = localTransform(sampled);
        pose.rotationOnly[b] = rotationOf(quatOf(sampled.rotation));
        pose.globalRotation[b] = quatOf(sampled.rotation);
    }
    // Parents come first, so one pass in index order makes every transform global.
    for (int i = 0; i < bones; ++i)
        for (int j = i + 1; j < bones; ++j)
            if (model.bones[std::size_t(j)].parent == i) {
                const std::size_t a = std::size_t(i), c = std::size_t(j);
                pose.rest[c] = multiply(pose.rest[c], pose.rest[a]);
                pose.global[c] = multiply(pose.global[c], pose.global[a]);
                pose.rotationOnly[c] = multiply(pose.rotationOnly[c], pose.rotationOnly[a]);
                pose.globalRotation[c] = multiply(pose.globalRotation[c], pose.globalRotation[a]);
            }

    instance.bones.resize(n);
    for (std::size_t b = 0; b < n; ++b)
        instance.bones[b].matrix = pose.global[b];
}

void skinPositions(std::span<const ModelVertex> positions, std::span<const ModelSkinWeight> skin, const PoseState& pose,
                   std::span<ModelVertex> out) {
    const std::size_t bones = pose.global.size();
    auto through = [&](const ModelVertex& p, std::size_t b) {
        const Mat4& rest = pose.rest[b];
        return transformPoint({p.x - rest[12], p.y - rest[13], p.z - rest[14]}, pose.global[b]);
    };
    for (std::size_t v = 0; v < positions.size(); ++v) {
        const ModelVertex& p = positions[v];
        if (bones == 0) {
            out[v] = p;
            continue;
        }
        const ModelSkinWeight w = v < skin.size() ? skin[v] : ModelSkinWeight{0, 0, 1.0f, 0};
        const std::size_t first = w.bone < bones ? w.bone : 0;
        const Vec3 a = through(p, first);
        if (w.weight > 0 && w.weight < 1) {
            const std::size_t second = w.bone2 < bones ? w.bone2 : 0;
            const Vec3 b = through(p, second);
            const float t = w.weight;
            out[v] = {a.x * t + b.x * (1 - t), a.y * t + b.y * (1 - t), a.z * t + b.z * (1 - t)};
        } else {
            out[v] = {a.x, a.y, a.z};
        }
    }
}

bool poseMoves(const PoseState& pose) {
    for (std::size_t b = 0; b < pose.global.size(); ++b) {
        const Mat4& g = pose.global[b];
        const Mat4& r = pose.rest[b];
        for (int i = 0; i < 16; ++i)
            if (g[std::size_t(i)] != r[std::size_t(i)])
                return true;
    }
    return false;
}

}  // namespace rv
