#include "runtime/loop.h"

#include <algorithm>
#include <cstdio>

#include "runtime/input.h"
#include "runtime/library.h"
#include "runtime/log.h"

namespace rv {
namespace {

constexpr double kLostDeviceWait = 0.1;

void stepFade(LibraryState& s) {
    s.fade += s.fadeSpeed;
    if (s.fade <= 0) {
        s.fade = 0;
        s.fadeSpeed = 0;
    } else if (s.fade >= 1) {
        s.fade = 1;
        s.fadeSpeed = 0;
    }
}

// The context was lost and can be rebuilt now: release, rebuild, restore.
void resetLostDevice(RenderDevice& device, const LoopHooks& hooks) {
    LibraryState& s = lib();
    if (hooks.invalidateDeviceObjects)
        hooks.invalidateDeviceObjects();
    s.deviceObjectsRestored = false;
    if (!device.reset(device.backBufferWidth(), device.backBufferHeight())) {
        ErrorMessage(0x8200000C, 1);
        return;
    }
    restoreLibraryDeviceObjects();
    if (hooks.restoreDeviceObjects && !hooks.restoreDeviceObjects()) {
        if (hooks.invalidateDeviceObjects)
            hooks.invalidateDeviceObjects();
        s.deviceObjectsRestored = false;
        ErrorMessage(0x8200000C, 1);
        return;
    }
    if (!s.frameMoving)
        s.singleStep = true;
}

// Format names of the GL back buffer in the Direct3D terms of the statistics line: the default
// framebuffer is taken as 32-bit colour without a used alpha (X8R8G8B8), the depth buffer by its
// depth and stencil bits.
const char* depthFormatName(int depthBits, int stencilBits) {
    if (depthBits >= 32)
        return "D32";
    if (depthBits >= 24)
        return stencilBits >= 8 ? "D24S8" : "D24X8";
    if (depthBits > 0)
        return "D16";
    return nullptr;
}

}  // namespace

std::string frameStatsText(const RenderDevice& device, double fps) {
    // Back buffer and desktop share one format here, so one name stands for both.
    const std::string colour = "X8R8G8B8";
    std::string depth;
    if (const char* name = depthFormatName(device.depthBits(), device.stencilBits()))
        depth = std::string(" (") + name + ")";
    std::string multisample;
    if (const int n = device.samples(); n >= 2 && n <= 16)
        multisample = " (" + std::to_string(n) + "x Multisample)";
    char text[256];
    std::snprintf(text, sizeof text, "%.02f fps (%dx%d), %s%s%s", fps, device.backBufferWidth(),
                  device.backBufferHeight(), colour.c_str(), depth.c_str(), multisample.c_str());
    std::string line = text;
    if (line.size() > 89)
        line.resize(89);
    return line;
}

void updateFrameStats(const RenderDevice& device, double nowSeconds) {
    LibraryState& s = lib();
    ++s.statsFrames;
    const double seconds = nowSeconds - s.statsTime;
    if (seconds > 1.0) {
        s.fps = s.statsFrames / seconds;
        s.statsTime = nowSeconds;
        s.statsFrames = 0;
        s.frameStats = frameStatsText(device, s.fps);
    }
}

bool RenderFrame(RenderDevice& device, const LoopHooks& hooks, double nowSeconds) {
    LibraryState& s = lib();
    if (s.deviceLost) {
        switch (device.status()) {
        case DeviceStatus::Lost: return false;
        case DeviceStatus::NotReset: resetLostDevice(device, hooks); return false;
        case DeviceStatus::Ready:
            s.deviceLost = false;
            LogLine("デバイスロストから復帰");
            break;
        }
    }
    if (hooks.render)
        hooks.render();
    updateFrameStats(device, nowSeconds);
    if (!device.present()) {
        s.deviceLost = true;
        LogLine("デバイスロスト発生");
        return false;
    }
    return true;
}

LoopPassResult runLoopPass(RenderDevice& device, const LoopHooks& hooks, double nowSeconds) {
    LibraryState& s = lib();
    LoopPassResult result;
    if (s.deviceLost)
        result.waitUntil = nowSeconds + kLostDeviceWait;
    if (!s.active || !s.device)
        return result;

    if (takeResyncRequest()) {
        s.lastFrameTime = nowSeconds;
        s.elapsed = 0;
    } else {
        s.elapsed = std::max(0.0, nowSeconds - s.lastFrameTime);
        s.lastFrameTime = nowSeconds;
    }

    const double stepAmount = s.targetRate * s.elapsed;
    s.accumulator += s.variableStep ? s.speed * stepAmount : s.speed;
    s.accumulator = std::clamp(s.accumulator, 1.0, 5.0);
    while (s.accumulator >= 1) {
        s.accumulator -= 1;
        if (hooks.updateStep)
            hooks.updateStep();
        stepFade(s);
        ageKeys();
        if (hooks.registryStep)
            hooks.registryStep();
        ++result.steps;
    }

    if (hooks.modelPass)
        hooks.modelPass();
    result.rendered = RenderFrame(device, hooks, nowSeconds);

    if (s.pacing && s.targetRate > 0)
        result.waitUntil = std::max(result.waitUntil, s.lastFrameTime + 1.0 / s.targetRate);
    return result;
}

void setTargetRate(int stepsPerSecond) { lib().targetRate = std::max(0, stepsPerSecond); }
void setSpeed(double speed) { lib().speed = speed; }
void setVariableStep(bool on) { lib().variableStep = on; }
void setPacing(bool on) { lib().pacing = on; }

}  // namespace rv
