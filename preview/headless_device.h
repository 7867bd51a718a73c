// A render device without any display: an EGL surfaceless context (Mesa's llvmpipe works with
// no GPU and no display server) drawing into its own framebuffer object.
#pragma once

#include <epoxy/gl.h>

#include "preview/offscreen_device.h"

namespace rv {

class HeadlessDevice final : public OffscreenDevice {
public:
    HeadlessDevice() = default;
    ~HeadlessDevice() override;
    HeadlessDevice(const HeadlessDevice&) = delete;
    HeadlessDevice& operator=(const HeadlessDevice&) = delete;

    bool create(int width, int height) override;
    void release() override;

    int screenWidth() const override { return kMaxSide; }
    int screenHeight() const override { return kMaxSide; }
    void setSwapInterval(int) override {}  // nothing is shown, so nothing waits
    bool reset(int width, int height) override;

    DeviceStatus status() override;
    bool present() override;

    // Marks the context as lost once, so that tests can walk the recovery path.
    void simulateLoss() { simulatedLoss_ = true; }

    static constexpr int kMaxSide = 8192;

private:
    bool hasContext() const override { return display_ != nullptr; }

    void* display_ = nullptr;
    void* context_ = nullptr;
    bool simulatedLoss_ = false;
    bool lost_ = false;
};

}  // namespace rv
