#include <algorithm>
#include <cstdint>

#include "model/motion.h"

namespace rv {
namespace {

// Key index and factor at frame f for keys sorted by frame, in a motion of `length` frames.
// After the last key (or before the first) the pose runs from the last key round the loop to
// the first. `frameOf(i)` gives the frame of key i.
template <class FrameOf>
KeyPosition keyAt(int count, std::int64_t f, std::int64_t length, FrameOf frameOf) {
    if (count <= 1)
        return {};
    int k = -1;
    for (int i = 0; i < count; ++i)
        if (frameOf(i) <= f)
            k = i;
    // 64-bit: frames come from files and may be anything.
    const std::int64_t first = frameOf(0);
    if (k < 0 || k == count - 1) {
        const std::int64_t last = frameOf(count - 1);
        const std::int64_t span = length - last + first;
        const std::int64_t into = k < 0 ? length - last + f : f - last;
        return {count - 1, span != 0 ? float(double(into) / double(span)) : 0.0f};
    }
    const std::int64_t from = frameOf(k), to = frameOf(k + 1);
    return {k, to != from ? float(double(f - from) / double(to - from)) : 0.0f};
}

}  // namespace

bool startMotion(const Model& model, ModelPlayback& playback, int motion, float blendSeconds) {
    if (motion < 0 || motion >= model.motionCount())
        return false;
    MotionBlend& blend = playback.blend;
    if (motion == playback.motion && blend.running)
        return false;
    playback.animating = true;
    // A blend that is still running keeps its source.
    if (!blend.running) {
        blend.sourceMotion = playback.motion;
        blend.sourceFrame = playback.frame;
        blend.sourceTime = playback.time;
    }
    playback.motion = motion;
    playback.frame = 0;
    playback.time = 0;
    blend.targetMotion = motion;
    blend.targetFrame = 0;
    blend.progress = 0;
    blend.step = blendSeconds > 0 ? 1.0f / blendSeconds / 60.0f : 1.0f;
    // A step of 1 switches at once: nothing left to blend.
    blend.running = blend.step < 1.0f;
    return true;
}

void findKeys(const Model& model, ModelPlayback& playback) {
    if (!playback.animating)
        return;
    const int motion = playback.motion;
    if (motion < 0 || motion >= model.motionCount())
        return;
    const std::int64_t f = playback.frame;
    const ModelMotion& current = model.motions[std::size_t(motion)];
    const std::int64_t length = current.frameCount;

    const int bones = std::clamp(model.boneCount, 0, kMaxBones);
    playback.boneKeys.resize(std::size_t(bones));
    for (int b = 0; b < bones; ++b) {
        const ModelBone& bone = model.bones[std::size_t(b)];
        KeyPosition at;
        if (std::size_t(motion) < bone.tracks.size()) {
            const std::vector<ModelBoneKey>& keys = bone.tracks[std::size_t(motion)].keys;
            at = keyAt(int(keys.size()), f, length, [&](int i) { return std::int64_t(keys[std::size_t(i)].frame); });
        }
        playback.boneKeys[std::size_t(b)] = at;
    }

    playback.groupKeys.assign(model.groups.size(), KeyPosition{});
    const std::size_t groups = std::min(model.groups.size(), current.groupKeys.size());
    for (std::size_t g = 0; g < groups; ++g) {
        const ModelGroupKeyTable& table = current.groupKeys[g];
        const int count = std::clamp(table.keyCount, 0, kMaxGroupKeys);
        playback.groupKeys[g] =
            keyAt(count, f, length, [&](int i) { return std::int64_t(table.keys[std::size_t(i)].frame); });
    }
}

void scrollTextures(const Model& model, ModelPlayback& playback) {
    playback.uvOffsets.resize(model.groups.size());
    for (std::size_t g = 0; g < model.groups.size(); ++g) {
        const ModelGroup& group = model.groups[g];
        if (group.keyed != 1)
            continue;
        playback.uvOffsets[g][0] += double(group.keyedA) * 0.001;
        playback.uvOffsets[g][1] += double(group.keyedB) * 0.001;
    }
}

bool playbackMoves(const Model& model, const ModelPlayback& playback) {
    if (!playback.animating)
        return false;
    if (playback.blend.running)
        return true;
    for (const ModelGroup& group : model.groups)
        if (group.keyed == 1 && (group.keyedA != 0 || group.keyedB != 0))
            return true;
    const int motion = playback.motion;
    if (motion < 0 || motion >= model.motionCount())
        return false;
    const ModelMotion& current = model.motions[std::size_t(motion)];
    if (!current.loop && current.nextMotion >= 0 && current.nextMotion != motion)
        return true;
    for (const ModelBone& bone : model.bones)
        if (std::size_t(motion) < bone.tracks.size() && bone.tracks[std::size_t(motion)].keys.size() > 1)
            return true;
    for (const ModelGroupKeyTable& table : current.groupKeys)
        if (table.keyCount > 1)
            return true;
    return false;
}

}  // namespace rv
