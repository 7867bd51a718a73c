// Render modes 5 to 7 in the fixed-function frame: the bone effect skins mode 5 on the GPU, the
// ground effect draws modes 6 and 7 with their bump and displacement maps.
#pragma once

#include <array>
#include <vector>

#include <epoxy/gl.h>

#include "model/instance.h"
#include "model/model.h"
#include "preview/effects.h"
#include "preview/renderer.h"
#include "preview/texture_cache.h"

namespace rv {

// The effect that draws the model on the prepared path: the bone effect for mode 5 skinned on
// the GPU, the ground effect for modes 6 and 7; null for the fixed-function draw.
Effect* groupEffectOf(EffectLibrary& effects, const Model& model, bool gpuSkin);

// What one group's effect draw reads.
struct GroupEffectInput {
    const Model* model = nullptr;
    const ModelInstance* instance = nullptr;
    const ModelGroup* group = nullptr;
    GLuint texture = 0;  // the group's texture, 0 for none
    std::array<float, 2> scroll{0, 0};
    const std::vector<Mat4>* skinMatrices = nullptr;  // mode 5: per bone
};

// Selects the effect's technique and sets its parameters for one group.
void setGroupEffect(Effect& e, const GroupEffectInput& in, const SceneView& view, TextureCache& textures);

}  // namespace rv
