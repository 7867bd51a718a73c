#include "preview/session.h"

#include <cmath>
#include <vector>

#include "runtime/library.h"
#include "runtime/log.h"

namespace rv {

SceneView sceneViewOf(const CameraView& camera, const PreviewSettings& settings) {
    const LibraryState& l = lib();
    SceneView view;
    view.view = camera.view;
    view.projection = l.projection;
    view.lightPosition = camera.lightPosition;
    view.lightColour = camera.lightColour;
    view.ambient = camera.ambient;
    view.clearColour = l.clearColour;
    view.grid = settings.grid;
    view.lighting = l.lightOn;
    view.transparentClear = settings.transparentClear;
    view.shaderMode = l.shaderMode;
    view.lightTarget = camera.aim;
    view.bloomOn = l.bloomOn;
    view.bloomPower = l.bloomPower;
    view.postEffect = l.postEffect;
    view.effect2D = l.effect2D;
    view.appTime = l.lastFrameTime;
    return view;
}

PreviewSession::PreviewSession(RenderDevice& device) : device_(device) {
    std::string error;
    if (!renderer_.init(&error))
        LogLine("*** ERROR *** preview: %s", error.c_str());
    renderer_.setNullTexture(lib().nullTexture);
    renderer_.setEffectFolder(lib().dataFolder);
}

void PreviewSession::show(Model* model, ModelInstance* instance, std::shared_ptr<ModelPreparation> preparation) {
    if (model != model_)
        renderer_.forgetModel();
    model_ = model && instance ? model : nullptr;
    instance_ = model_ ? instance : nullptr;
    if (model_ && preparation)
        renderer_.offerPreparation(std::move(preparation));
}

void PreviewSession::fit() {
    if (!model_)
        return;
    const float aspect = float(lib().windowWidth) / float(std::max(lib().windowHeight, 1));
    std::vector<Vec3> points;
    points.reserve(model_->positions.size());
    for (const ModelVertex& p : model_->positions)
        points.push_back({p.x, p.y, p.z});
    if (!points.empty())
        return fitCamera(camera, points, aspect);
    const ModelVertex& lo = model_->boundsMin;
    const ModelVertex& hi = model_->boundsMax;
    fitCamera(camera, {lo.x, lo.y, lo.z}, {hi.x, hi.y, hi.z}, aspect);
}

LoopPassResult PreviewSession::pass(double now, GLuint framebuffer, const std::function<void()>& overlay) {
    LoopHooks hooks;
    hooks.updateStep = [this] {
        const CameraStep step = stepCamera(camera);
        cameraView_ = step.view;
        if (step.captionDue)
            captionDue = true;
    };
    hooks.registryStep = registryStep;
    hooks.modelPass = [this] {
        if (model_)
            renderer_.modelPass(*model_, *instance_);
    };
    hooks.render = [this, framebuffer, &overlay] {
        counts_ = renderer_.drawScene(framebuffer, lib().windowWidth, lib().windowHeight, model_, instance_,
                                      sceneViewOf(cameraView_, settings), overlay);
        // No shadow map: the effect path is gone for good.
        if (renderer_.shaderModeRefused())
            lib().shaderMode = false;
    };
    hooks.invalidateDeviceObjects = [this] { renderer_.release(); };
    hooks.restoreDeviceObjects = [this] {
        std::string error;
        if (!renderer_.init(&error)) {
            LogLine("*** ERROR *** preview: %s", error.c_str());
            return false;
        }
        renderer_.setNullTexture(lib().nullTexture);
        return true;
    };
    return runLoopPass(device_, hooks, now);
}

}  // namespace rv
