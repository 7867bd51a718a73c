#include "model/instance.h"

#include <algorithm>

namespace rv {

void sizeInstance(ModelInstance& instance, const Model& model) {
    instance.bones.resize(std::size_t(std::clamp(model.boneCount, 0, kMaxBones)));
    instance.groupState.resize(model.groups.size());
    instance.textures.resize(model.textures.size());
    instance.textureState.resize(model.textures.size());
    instance.playback.boneKeys.resize(instance.bones.size());
    instance.playback.groupKeys.resize(model.groups.size());
    instance.playback.uvOffsets.resize(model.groups.size());
}

}  // namespace rv
