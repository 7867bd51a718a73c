// A render device without any display: an EGL surfaceless context (Mesa's llvmpipe works with
// no GPU and no display server) drawing into its own framebuffer object.
#pragma once

#include <epoxy/gl.h>

#include "preview/offscreen_target.h"
#include "runtime/device.h"
#include "runtime/image.h"

namespace rv {

// The OpenGL limits nearest to the Direct3D 9 device capabilities the runtime reports. Needs a
// current context.
GpuInfo queryGpuInfo();
// Whether a GL_RENDERER string names a software rasterizer (llvmpipe and the like).
bool isSoftwareRenderer(const std::string& renderer);

class HeadlessDevice final : public RenderDevice {
public:
    HeadlessDevice() = default;
    ~HeadlessDevice() override;
    HeadlessDevice(const HeadlessDevice&) = delete;
    HeadlessDevice& operator=(const HeadlessDevice&) = delete;

    bool create(int width, int height) override;
    void release() override;

    int screenWidth() const override { return kMaxSide; }
    int screenHeight() const override { return kMaxSide; }
    int backBufferWidth() const override { return width_; }
    int backBufferHeight() const override { return height_; }
    int samples() const override { return target_.samples(); }
    int depthBits() const override { return 24; }
    int stencilBits() const override { return 8; }

    std::string adapterDescription() const override;
    bool software() const override;
    GpuInfo gpuInfo() const override;
    bool supportsSamples(int samples) const override;

    void setSamples(int samples) override { requestedSamples_ = samples; }
    void setSwapInterval(int) override {}  // nothing is shown, so nothing waits
    bool reset(int width, int height) override;

    DeviceStatus status() override;
    bool present() override;

    // The framebuffer that drawing goes to.
    GLuint framebuffer() const { return target_.framebuffer(); }
    // The last presented frame, rows top to bottom, RGBA.
    Image readBack() const;

    // Marks the context as lost once, so that tests can walk the recovery path.
    void simulateLoss() { simulatedLoss_ = true; }

    static constexpr int kMaxSide = 8192;

private:

    void* display_ = nullptr;
    void* context_ = nullptr;
    int width_ = 0, height_ = 0;
    int requestedSamples_ = 0;
    OffscreenTarget target_;
    bool simulatedLoss_ = false;
    bool lost_ = false;
};

}  // namespace rv
