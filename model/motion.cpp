#include <algorithm>
#include <cstdint>

#include "model/mesh.h"

namespace rv {
namespace {

struct KeyAt {
    std::int32_t key = 0;
    float factor = 0;
};

// Key index and factor at frame f for keys sorted by frame, in a motion of `length` frames.
// After the last key (or before the first) the pose runs from the last key round the loop to
// the first. `frameOf(i)` gives the frame of key i.
template <class FrameOf>
KeyAt keyAt(int count, std::int64_t f, std::int64_t length, FrameOf frameOf) {
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

bool startMotion(Model& model, int motion, float blendSeconds) {
    if (motion < 0 || motion >= model.motionCount())
        return false;
    ModelMotionBlend& blend = model.blend;
    if (motion == model.playMotion && blend.running)
        return false;
    model.animating = 1;
    // A blend that is still running keeps its source.
    if (!blend.running) {
        blend.sourceMotion = model.playMotion;
        blend.sourceFrame = model.playFrame;
        blend.sourceTime = model.playTime;
    }
    model.playMotion = motion;
    model.playFrame = 0;
    model.playTime = 0;
    blend.targetMotion = motion;
    blend.targetFrame = 0;
    blend.progress = 0;
    blend.step = blendSeconds > 0 ? 1.0f / blendSeconds / 60.0f : 1.0f;
    // A step of 1 switches at once: nothing left to blend.
    blend.running = blend.step < 1.0f;
    return true;
}

void findKeys(Model& model) {
    if (model.animating != 1)
        return;
    const int motion = model.playMotion;
    if (motion < 0 || motion >= model.motionCount())
        return;
    const std::int64_t f = model.playFrame;
    ModelMotion& current = model.motions[std::size_t(motion)];
    const std::int64_t length = current.frameCount;

    const int bones = model.boneCount < 0 ? 0 : model.boneCount < kMaxBones ? model.boneCount : kMaxBones;
    for (int b = 0; b < bones; ++b) {
        ModelBone& bone = model.bones[std::size_t(b)];
        KeyAt at;
        if (std::size_t(motion) < bone.tracks.size()) {
            const std::vector<ModelBoneKey>& keys = bone.tracks[std::size_t(motion)].keys;
            at = keyAt(int(keys.size()), f, length, [&](int i) { return std::int64_t(keys[std::size_t(i)].frame); });
        }
        bone.currentKey = at.key;
        bone.keyFactor = at.factor;
    }

    const std::size_t groups = std::min(model.groups.size(), current.groupKeys.size());
    for (std::size_t g = 0; g < groups; ++g) {
        ModelGroupKeyTable& table = current.groupKeys[g];
        const int count = table.keyCount < 0 ? 0 : table.keyCount < kMaxGroupKeys ? table.keyCount : kMaxGroupKeys;
        const KeyAt at = keyAt(count, f, length, [&](int i) { return std::int64_t(table.keys[std::size_t(i)].frame); });
        table.currentKey = at.key;
        table.keyFactor = at.factor;
    }
}

void scrollTextures(Model& model) {
    for (ModelGroup& group : model.groups) {
        if (group.keyed != 1)
            continue;
        group.uvOffsetU += double(group.keyedA) * 0.001;
        group.uvOffsetV += double(group.keyedB) * 0.001;
    }
}

}  // namespace rv
