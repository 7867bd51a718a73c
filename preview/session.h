// The preview as a host runs it: camera, renderer and the frame-loop hooks over the model shown.
// The host (the window's GL widget, or the headless renderer) makes the context current,
// forwards input, and calls pass() whenever a frame may be drawn.
#pragma once

#include <functional>
#include <memory>

#include <epoxy/gl.h>

#include "model/instance.h"
#include "model/model.h"
#include "preview/camera.h"
#include "preview/renderer.h"
#include "runtime/device.h"
#include "runtime/loop.h"

namespace rv {

struct PreviewSettings {
    bool grid = true;  // the reference grid (the settings file's referenceGeometry)
    bool transparentClear = false;  // clear to alpha 0 (thumbnails)
};

class PreviewSession {
public:
    // Needs LibInit to have succeeded on `device`, with its context current.
    explicit PreviewSession(RenderDevice& device);

    PreviewCamera camera;
    PreviewSettings settings;
    // Runs in each update step after the camera (the registry's collection, in the window).
    std::function<void()> registryStep;

    bool ready() const { return renderer_.ready(); }

    // The model drawn from now on; null shows the empty scene. Not owned: the caller keeps it
    // alive, and calls show(nullptr, nullptr) before freeing it. A preparation made from the
    // model beforehand spares the first frame that work.
    void show(Model* model, ModelInstance* instance, std::shared_ptr<ModelPreparation> preparation = {});

    // One frame-loop pass at `now` (seconds of a steady clock), drawing into `framebuffer`;
    // `overlay` draws after the scene with the context current.
    LoopPassResult pass(double now, GLuint framebuffer, const std::function<void()>& overlay = {});

    // Applies an input event to the camera; returns the InputAction flags for the host.
    unsigned input(const InputEvent& event) { return applyInputEvent(camera, event); }
    // Frames the shown model's positions at the camera's angles (nothing without a model).
    void fit();

    // Set when an update step found the caption due; the host clears it.
    bool captionDue = false;
    const FrameCounts& lastCounts() const { return counts_; }
    PreviewRenderer& renderer() { return renderer_; }

private:
    RenderDevice& device_;
    PreviewRenderer renderer_;
    Model* model_ = nullptr;
    ModelInstance* instance_ = nullptr;
    FrameCounts counts_;
    CameraView cameraView_;  // from the last update step
};

// The scene of one frame: the camera's view and light, and from the library's state the
// projection, clear colour, light switch and effect settings.
SceneView sceneViewOf(const CameraView& camera, const PreviewSettings& settings);

}  // namespace rv
