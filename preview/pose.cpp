#include "preview/pose.h"

#include <algorithm>
#include <cmath>

#include "model/motion.h"

namespace rv {
namespace {

bool finite(float f) { return std::isfinite(f); }

// A unit quaternion; what a file gives that is not one (zero, NaN) turns into no rotation.
Quat unitOf(const std::array<float, 4>& q) {
    const float length = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    if (!finite(length) || length < 1e-12f)
        return {};
    return {q[0] / length, q[1] / length, q[2] / length, q[3] / length};
}

Vec3 vecOf(const std::array<float, 3>& v) {
    return {finite(v[0]) ? v[0] : 0, finite(v[1]) ? v[1] : 0, finite(v[2]) ? v[2] : 0};
}

Vec3 lerp(const Vec3& a, const Vec3& b, float t) {
    return {(b.x - a.x) * t + a.x, (b.y - a.y) * t + a.y, (b.z - a.z) * t + a.z};
}

const ModelBoneKey kDefaultKey{};

BonePose sampleBone(const Model& model, int b, const ModelPlayback& playback) {
    const ModelBone& bone = model.bones[std::size_t(b)];
    const ModelBoneKey* from = &kDefaultKey;
    const ModelBoneKey* to = &kDefaultKey;
    float factor = 0;
    const int motion = playback.motion;
    if (motion >= 0 && std::size_t(motion) < bone.tracks.size()) {
        const std::vector<ModelBoneKey>& keys = bone.tracks[std::size_t(motion)].keys;
        if (!keys.empty()) {
            KeyPosition at;
            if (std::size_t(b) < playback.boneKeys.size())
                at = playback.boneKeys[std::size_t(b)];
            const std::size_t k = std::size_t(std::clamp<std::int32_t>(at.key, 0, std::int32_t(keys.size()) - 1));
            from = &keys[k];
            to = &keys[(k + 1) % keys.size()];
            factor = finite(at.factor) ? std::clamp(at.factor, 0.0f, 1.0f) : 0.0f;
        }
    }
    BonePose pose;
    pose.translation = lerp(vecOf(from->position), vecOf(to->position), factor);
    pose.rotation = slerp(unitOf(from->rotation), unitOf(to->rotation), factor);
    pose.scale = lerp(vecOf(from->scale), vecOf(to->scale), factor);
    return pose;
}

Mat4 localTransform(const BonePose& pose, const Vec3& rest) {
    Mat4 m = multiply(scaling(pose.scale.x, pose.scale.y, pose.scale.z), rotationOf(pose.rotation));
    m[12] = rest.x + pose.translation.x;
    m[13] = rest.y + pose.translation.y;
    m[14] = rest.z + pose.translation.z;
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
        BonePose sampled = sampleBone(model, i, instance.playback);
        if (blend.running) {
            const BonePose& old = pose.previous[b];
            sampled.translation = lerp(old.translation, sampled.translation, factor);
            sampled.rotation = slerp(old.rotation, sampled.rotation, factor);
        }
        pose.current[b] = sampled;
        const Vec3 rest = vecOf(model.bones[b].position);
        pose.rest[b] = translation(rest.x, rest.y, rest.z);
        pose.global[b] = localTransform(sampled, rest);
        pose.rotationOnly[b] = rotationOf(sampled.rotation);
        pose.globalRotation[b] = sampled.rotation;
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

void skinPositions(std::span<const ModelVertex> positions, std::span<const ModelSkinWeight> skin,
                   const PoseState& pose, std::span<ModelVertex> out) {
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
