// The per-frame model pass on the CPU: motion playback, bone matrices with the hierarchy walk and
// motion blending, and skinning of positions by the bone matrices.
#pragma once

#include <span>
#include <vector>

#include "model/bone_pose.h"
#include "model/instance.h"
#include "model/model.h"
#include "runtime/matrix.h"

namespace rv {

// The preview's pose state of one model beside its instance.
struct PoseState {
    std::vector<BoneLocalPose> current;  // sampled this frame, per bone
    std::vector<BoneLocalPose> previous;  // the pose a running blend starts from
    std::vector<Mat4> rest;  // global rest transforms
    std::vector<Mat4> global;  // global current transforms
    std::vector<Mat4> rotationOnly;  // global rotations
    std::vector<Quat> globalRotation;
    bool blendCaptured = false;  // `previous` holds the source of the running blend
};

// Bones the drawing uses: boneCount within 0..128.
int usableBones(const Model& model);

// Advances playback by one update step: the frame (wrapping when the motion loops, else going on
// to `nextMotion` or holding the last frame), the key search, the blend progress (a blend whose
// step is not a positive number ends at once) and texture scrolling.
void advancePlayback(const Model& model, ModelPlayback& playback);

// Samples the current motion's keys for every bone and computes the bone matrices into `pose` and
// `instance.bones`: local transforms S x R x T(rest position + key position), translation and
// rotation blended from the pose before a running blend, then made global parents first. Bone 0
// stays the identity.
void computeBoneMatrices(const Model& model, ModelInstance& instance, PoseState& pose);

// Skins `positions` into `out`: each point minus its bone's rest position, through the bone's
// global transform; with 0 < weight < 1 mixed with bone2 as w x first + (1 - w) x second. A bone
// number outside the usable bones reads as bone 0. out.size() must equal positions.size(), and
// skin entries beyond `skin` read as bone 0, weight 1.
void skinPositions(std::span<const ModelVertex> positions, std::span<const ModelSkinWeight> skin, const PoseState& pose,
                   std::span<ModelVertex> out);

// Whether skinning moves anything: some bone's global transform differs from its rest.
bool poseMoves(const PoseState& pose);

}  // namespace rv
