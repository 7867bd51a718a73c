// One pass of the frame loop, driven by the host: update steps, the model pass, the render and
// the present, with device loss handled as the context being lost and rebuilt.
#pragma once

#include <functional>
#include <string>

#include "runtime/device.h"

namespace rv {

// The application's parts of a pass. Any hook may be empty.
struct LoopHooks {
    std::function<void()> updateStep;  // one update step of the application (camera, ...)
    std::function<void()> registryStep;  // the model registry's per-step work, after the keys age
    std::function<void()> modelPass;  // per frame, after the steps: animation, bone matrices
    std::function<void()> render;  // draws the scene into the back buffer
    // Around a rebuild of a lost context: release what lived in it, then make it again. A
    // restore that fails returns false.
    std::function<void()> invalidateDeviceObjects;
    std::function<bool()> restoreDeviceObjects;
};

struct LoopPassResult {
    int steps = 0;  // update steps run
    bool rendered = false;  // the scene was drawn and presented
    // The host waits until this time (same clock as nowSeconds) before the next pass: 0.1 s
    // while the device is lost, the rest of the frame period when pacing is on; 0 for no wait.
    double waitUntil = 0;
};

// Runs one pass at time `nowSeconds` (a steady clock): one to five update steps by the
// accumulator, the model pass, the frame. Nothing runs while paused or before LibInit.
LoopPassResult runLoopPass(RenderDevice& device, const LoopHooks& hooks, double nowSeconds);

// One frame: recovery from a lost device, the render, the statistics, the present.
// Returns true when a frame was presented.
bool RenderFrame(RenderDevice& device, const LoopHooks& hooks, double nowSeconds);

// Counts a frame and refreshes fps and frameStats once more than a second has passed.
void updateFrameStats(const RenderDevice& device, double nowSeconds);
// The statistics line for `fps` and the device's back buffer, cut at 89 characters.
std::string frameStatsText(const RenderDevice& device, double fps);

// Setters for the loop's pacing; the defaults run one update step per pass.
void setTargetRate(int stepsPerSecond);
void setSpeed(double speed);
void setVariableStep(bool on);
void setPacing(bool on);

}  // namespace rv
