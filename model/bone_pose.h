// The pose of a model's skeleton at a frame of a motion: what the preview draws and what an
// exporter carries as joints.
#pragma once

#include <array>
#include <vector>

#include "model/instance.h"
#include "model/model.h"

namespace rv {

using BoneMatrix = std::array<float, 16>;  // row-major, row vectors: translation in row 3

struct BoneLocalPose {
    std::array<float, 3> translation{0, 0, 0};  // relative to the parent
    std::array<float, 4> rotation{0, 0, 0, 1};  // unit quaternion x, y, z, w
    std::array<float, 3> scale{1, 1, 1};
};

// A key's rotation as a unit quaternion; a zero or non-finite one is the identity.
std::array<float, 4> unitQuaternion(const std::array<float, 4>& q);
// Spherical interpolation from a to b (unit quaternions) along the shorter arc.
std::array<float, 4> slerp(std::array<float, 4> a, const std::array<float, 4>& b, float t);

// The keys every bone's track of `motion` is at on `frame`, as the per-frame key search finds them.
ModelPlayback boneKeysAt(const Model& model, int motion, int frame);

// Bone `bone` at frame `frame` of motion `motion`: the rest position relative to the parent moved
// by the track's interpolated key position, with its rotation and scale. The key is found as the
// per-frame key search finds it (the pose runs from the last key round the loop to the first).
// Bone 0 always sits at the origin unrotated; a bone without keys for the motion rests.
BoneLocalPose boneLocalPose(const Model& model, int bone, int motion, int frame);
// The same from the keys found for that frame by boneKeysAt.
BoneLocalPose boneLocalPose(const Model& model, int bone, int motion, const ModelPlayback& keysFound);

// Scale, then rotation, then translation, as a row-vector matrix.
BoneMatrix boneMatrix(const BoneLocalPose& pose);

// The global matrices of bones 0 .. boneCount - 1 at a frame: each local matrix times its parent's,
// for parents stored before their children (a bone whose parent comes later hangs from nothing).
std::vector<BoneMatrix> poseBones(const Model& model, int motion, int frame);

// The global rest positions of bones 0 .. boneCount - 1 (bone 0 at the origin).
std::vector<std::array<float, 3>> restPositions(const Model& model);

}  // namespace rv
