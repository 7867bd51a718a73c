// The preview drawn without a window: a headless context, the default camera (or the one asked
// for) and a number of frame-loop passes, the last frame read back.
#pragma once

#include <optional>

#include "model/instance.h"
#include "model/model.h"
#include "runtime/image.h"

namespace rv {

struct HeadlessRenderOptions {
    int width = 1280, height = 720;
    std::optional<float> yaw, pitch, zoom;  // the camera's defaults where not given
    bool fit = false;  // frame the model's bounds (after yaw and pitch)
    int frames = 1;  // loop passes; the last frame is returned
    bool grid = true;
    bool transparentClear = false;  // background alpha 0; the picture's colours are straight alpha
    std::array<int, 3> clearColour{128, 128, 128};  // unused with transparentClear
    bool shaderMode = false;  // the effect path (shadow map, post effects)
    int postEffect = 0;  // 0..6
    bool bloom = false;
};

// Draws `model` (null: the empty scene) as the preview shows it. nullopt when no context can be
// created; the "could not initialise" message has then been shown.
std::optional<Image> renderHeadless(Model* model, ModelInstance* instance, const HeadlessRenderOptions& options);

}  // namespace rv
