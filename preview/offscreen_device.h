// What a render device drawing into an offscreen target shares, whoever made its context (the
// window's widget or the headless EGL context): the back buffer's description, the GL queries
// for the adapter and its limits, the requested samples and the read-back.
#pragma once

#include <string>

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

class OffscreenDevice : public RenderDevice {
public:
    int backBufferWidth() const override { return target_.width(); }
    int backBufferHeight() const override { return target_.height(); }
    int samples() const override { return target_.samples(); }
    int depthBits() const override { return 24; }
    int stencilBits() const override { return 8; }

    std::string adapterDescription() const override;
    bool software() const override;
    GpuInfo gpuInfo() const override;
    bool supportsSamples(int samples) const override;
    // Taken by the next create() or reset().
    void setSamples(int samples) override { requestedSamples_ = samples; }

    // The framebuffer that drawing goes to.
    GLuint framebuffer() const { return target_.framebuffer(); }
    // The last frame drawn, rows top to bottom, RGBA; empty without a context.
    Image readBack() const;

protected:
    // Whether the context exists, so that GL may be asked; the host's context always does.
    virtual bool hasContext() const { return true; }

    OffscreenTarget target_;
    int requestedSamples_ = 0;
};

}  // namespace rv
