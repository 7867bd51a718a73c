// The drawing surface the runtime drives: an OpenGL context with its back buffer, offered by the
// host (the window's GL widget, or a headless EGL context). The runtime decides when to create,
// reset and present; the host knows how.
#pragma once

#include <string>

namespace rv {

// The nearest OpenGL limits to the Direct3D 9 device capabilities the runtime reports.
struct GpuInfo {
    int vertexBlendMatrices = 0;
    int vertexBlendMatrixIndex = 0;
    int primitiveCount = 0;
    int vertexIndex = 0;
    int vertexShaderLevel = 0;  // 0..4
    int pixelShaderLevel = 0;  // 0..4
};

enum class DeviceStatus { Ready, Lost, NotReset };

class RenderDevice {
public:
    virtual ~RenderDevice() = default;

    // Creates the context for a back buffer of width x height and makes it current; false when
    // none can be created.
    virtual bool create(int width, int height) = 0;
    virtual void release() = 0;

    // The screen the window lives on (for a headless device, the largest buffer it renders).
    virtual int screenWidth() const = 0;
    virtual int screenHeight() const = 0;
    virtual int backBufferWidth() const = 0;
    virtual int backBufferHeight() const = 0;
    virtual int samples() const = 0;  // multisampling of the back buffer, 0 for none
    virtual int depthBits() const = 0;
    virtual int stencilBits() const = 0;

    virtual std::string adapterDescription() const = 0;  // GL_RENDERER
    // A software rasterizer (llvmpipe and the like): the reference device of old, on which
    // anti-aliasing starts off.
    virtual bool software() const { return false; }
    virtual GpuInfo gpuInfo() const = 0;
    virtual bool supportsSamples(int samples) const = 0;

    // Asks for a new multisample count or swap interval; they take effect at the next reset.
    virtual void setSamples(int samples) = 0;
    virtual void setSwapInterval(int interval) = 0;
    // Rebuilds the back buffer at the given size with the current settings.
    virtual bool reset(int width, int height) = 0;

    // Whether the context was lost (a GPU reset) and whether it can be rebuilt now.
    virtual DeviceStatus status() = 0;
    // Shows the back buffer; false when the context was lost.
    virtual bool present() = 0;
};

}  // namespace rv
