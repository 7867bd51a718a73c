#include "model/model.h"

#include <cstdio>

namespace rv {

ModelBone defaultBone(int index) {
    ModelBone bone;
    if (index == 0) {
        bone.name = "\x90\x65\x83\x7b\x81\x5b\x83\x93";  // "親ボーン"
    } else {
        char name[32];
        std::snprintf(name, sizeof name, "\x83\x7b\x81\x5b\x83\x93_%02d", index);  // "ボーン_%02d"
        bone.name = name;
    }
    bone.tracks.resize(1);
    bone.tracks[0].keys.resize(1);
    return bone;
}

std::array<ModelBone, kMaxBones> Model::defaultBones() {
    std::array<ModelBone, kMaxBones> bones;
    for (int i = 0; i < kMaxBones; ++i)
        bones[i] = defaultBone(i);
    return bones;
}

ModelGroup zeroGroup() {
    ModelGroup g;
    g.name.clear();
    g.color = {};
    g.shadeParam = 0;
    g.materialParams = {};
    g.lightFlag = 0;
    g.effectAValue = 0;
    g.effectBValue = 0;
    g.displacementValue = 0;
    g.effectDValue = 0;
    g.groupOptionValue = 0;
    return g;
}

}  // namespace rv
