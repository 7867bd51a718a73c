// Draws the current model, the reference grid and the host's overlay into the bound OpenGL
// framebuffer, as the fixed-function preview drew them. Knows no host: the caller makes a 3.3
// core context current (epoxy resolves the entry points from it) and names the framebuffer.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <epoxy/gl.h>

#include "model/instance.h"
#include "model/model.h"
#include "preview/pose.h"
#include "preview/prepare.h"
#include "preview/shaders.h"
#include "runtime/image.h"
#include "runtime/matrix.h"

namespace rv {

// The camera, light and frame settings of one frame.
struct SceneView {
    Mat4 view = kIdentity;
    Mat4 projection = kIdentity;  // left-handed, depth 0..1 as Direct3D sets it
    Vec3 lightPosition{0, 0, -15};  // world space: the eye
    Vec3 lightColour{1, 1, 1};
    Vec3 ambient{0.15f, 0.15f, 0.15f};
    std::array<int, 3> clearColour{128, 128, 128};
    bool transparentClear = false;  // clear to black at alpha 0 (thumbnails); colours come out premultiplied
    bool grid = true;
    bool lighting = true;  // the global light switch: off draws the vertex colours unlit
    int selectedBone = -1;  // weight display of render mode 0

    // The effect path.
    bool shaderMode = false;
    Vec3 lightTarget{0, 0, 0};  // where the light aims: the camera's look-at point
    bool bloomOn = false;
    float bloomPower = 0.5f;
    int postEffect = 0;  // 0..6
    std::array<float, 3> effect2D{0, 0, 0};
    double appTime = 0;
};

struct FrameCounts {
    int triangles = 0;
    int drawCalls = 0;
};

class PreviewRenderer {
public:
    PreviewRenderer();
    ~PreviewRenderer();
    PreviewRenderer(const PreviewRenderer&) = delete;
    PreviewRenderer& operator=(const PreviewRenderer&) = delete;

    // Creates the program and buffers in the current context; false with the reason in `error`.
    bool init(std::string* error = nullptr);
    // Deletes every GL object (the context goes or was lost); CPU-side preparation stays, so
    // init() after a new context rebuilds the same picture.
    void release();
    bool ready() const;

    // The texture drawn for a missing image.
    void setNullTexture(const Image& image);

    // The data folder whose System/HLSL holds the effect files; empty (the default) leaves
    // every effect unavailable without a word.
    void setEffectFolder(const std::string& dataFolder);
    // Which floating-point shadow-map formats the context may use (a seam for tests).
    void setShadowFormats(bool r32f, bool r16f);
    // Set once the effect path found no shadow map format: shader mode stays off from then on.
    bool shaderModeRefused() const;
    // Whether the effect's files were opened (EffectKind as int: 0 2-D, 1 3-D, 2 bone, 3 ground).
    bool effectTried(int kind) const;
    // Whether the last model pass left render mode 5's skinning to the GPU.
    bool gpuSkinning() const;

    // The per-frame model pass: playback, bone matrices, skinning and, when the model's
    // renderModeDirty is set (or the model changed), the preparation of its render mode.
    void modelPass(Model& model, ModelInstance& instance);
    // Whether the current model's vertex-cache order is still being worked out on another thread
    // (frames meanwhile draw the polygon order, the same picture).
    bool ordering() const;
    // Forgets the prepared model (before the host frees it).
    void forgetModel();
    // A preparation made elsewhere (prepareForDrawing), taken by the next preparation when it
    // was made from that model as it is then; forgetModel() drops it.
    void offerPreparation(std::shared_ptr<ModelPreparation> preparation);

    // Draws one frame into `framebuffer` (0 for the default one) of width x height. `model` may be
    // null (nothing current). `overlay` runs last, with the context current.
    FrameCounts drawScene(GLuint framebuffer, int width, int height, const Model* model, ModelInstance* instance,
                          const SceneView& view, const std::function<void()>& overlay = {});

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace rv
