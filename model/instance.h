// What the preview keeps beside a model: bone matrices, decoded textures, playback, and the
// per-group and per-texture drawing state.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "model/model.h"
#include "runtime/image.h"

namespace rv {

// Where a key search stands in one key table: the key at or before the frame and how far it is
// towards the next.
struct KeyPosition {
    std::int32_t key = 0;
    float factor = 0;
};

struct MotionBlend {
    bool running = false;
    std::int32_t sourceMotion = 0, sourceFrame = 0;
    float sourceTime = 0;
    std::int32_t targetMotion = 0, targetFrame = 0;
    float progress = 0, step = 1;
};

// Motion playback and texture scrolling of one model.
struct ModelPlayback {
    bool animating = false;  // a motion was started or a group scrolls its texture
    std::int32_t motion = 0;
    std::int32_t frame = 0;
    float time = 0;
    MotionBlend blend;
    std::vector<KeyPosition> boneKeys;  // per bone, of the current motion
    std::vector<KeyPosition> groupKeys;  // per group, of the current motion
    std::vector<std::array<double, 2>> uvOffsets;  // per group: added to u and v when drawn
};

struct BoneRecord {
    std::array<float, 16> matrix{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};  // row-major, row vectors
};

struct ModelInstance {
    bool visible = true;  // the preview draws the model only while set
    std::vector<BoneRecord> bones;
    std::vector<int> groupState;
    std::vector<Image> textures;  // decoded images by texture entry, uploaded by the preview
    std::vector<int> textureState;
    ModelPlayback playback;
};

// Sizes every per-bone, per-group and per-texture table of the instance to the model.
void sizeInstance(ModelInstance& instance, const Model& model);

}  // namespace rv
