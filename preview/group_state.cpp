#include "preview/group_state.h"

#include <algorithm>
#include <cmath>

#include "model/vertex_hash.h"

namespace rv {

PolygonsByGroup polygonsByGroup(const Model& model) {
    const std::size_t groups = model.groups.size();
    auto drawn = [groups](const ModelPolygon& p) {
        return p.group >= 0 && std::size_t(p.group) < groups && p.cornerCount > 2;
    };
    // A counting sort keeps list order within each group.
    PolygonsByGroup out;
    out.start.assign(groups + 1, 0);
    for (const ModelPolygon& p : model.polygons)
        if (drawn(p))
            ++out.start[std::size_t(p.group) + 1];
    for (std::size_t g = 0; g < groups; ++g)
        out.start[g + 1] += out.start[g];
    out.polygons.resize(out.start[groups]);
    std::vector<std::size_t> next(out.start.begin(), out.start.end() - 1);
    for (std::size_t i = 0; i < model.polygons.size(); ++i) {
        const ModelPolygon& p = model.polygons[i];
        if (drawn(p))
            out.polygons[next[std::size_t(p.group)]++] = std::int32_t(i);
    }
    return out;
}

ModelColor tintedColour(const Model& model, const ModelGroup& group, const ModelCorner& corner) {
    const float tr = model.tint.red / 255.0f, tg = model.tint.green / 255.0f;
    const float tb = model.tint.blue / 255.0f, ta = model.tint.alpha / 255.0f;
    const ModelColor source = model.vertexColorMode == 1 ? entryOr0(model.colors, corner.color) : group.color;
    return {tr * source.red, tg * source.green, tb * source.blue, ta * source.alpha};
}

int groupTextureNumber(const Model& model, const ModelPlayback& playback, std::size_t g) {
    const ModelGroup& group = model.groups[g];
    const ModelMotion* motion = playback.motion >= 0 && playback.motion < model.motionCount()
                                    ? &model.motions[std::size_t(playback.motion)]
                                    : nullptr;
    int texture = group.textured != 0 ? group.textureIndex : 0;
    if (motion && playback.animating && g < motion->groupKeys.size()) {
        const ModelGroupKeyTable& table = motion->groupKeys[g];
        const int keys = std::clamp(table.keyCount, 0, kMaxGroupKeys);
        if (keys > 0 && group.textured != 0) {
            int key = g < playback.groupKeys.size() ? playback.groupKeys[g].key : 0;
            key = std::clamp(key, 0, keys - 1);
            texture = table.keys[std::size_t(key)].keyTexture;
        }
    }
    if (texture < 0 || texture > kMaxTextureNumber || std::size_t(texture) >= model.textures.size())
        texture = 0;
    return texture;
}

std::array<float, 2> groupScroll(const ModelGroup& group, const ModelPlayback& playback, std::size_t g) {
    if (group.keyed != 1 || g >= playback.uvOffsets.size())
        return {0, 0};
    return {float(std::fmod(playback.uvOffsets[g][0], 1.0)), float(std::fmod(playback.uvOffsets[g][1], 1.0))};
}

int effectTextureNumber(const Model& model, int number) {
    return number >= 1 && number <= kMaxTextureNumber && std::size_t(number) < model.textures.size() ? number : 0;
}

}  // namespace rv
