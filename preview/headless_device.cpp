#include "preview/headless_device.h"

#include <epoxy/egl.h>

#include <algorithm>

namespace rv {
namespace {

EGLDisplay openDisplay() {
    // The surfaceless platform needs no display server; the default display is the fallback.
    if (epoxy_has_egl_extension(EGL_NO_DISPLAY, "EGL_MESA_platform_surfaceless") &&
        epoxy_has_egl_extension(EGL_NO_DISPLAY, "EGL_EXT_platform_base")) {
        EGLDisplay d = eglGetPlatformDisplayEXT(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        if (d != EGL_NO_DISPLAY)
            return d;
    }
    return eglGetDisplay(EGL_DEFAULT_DISPLAY);
}

}  // namespace

GpuInfo queryGpuInfo() {
    GpuInfo info;
    GLint value = 0;
    // Vertex blending becomes uniform matrices: how many 4x4 matrices the vertex stage can hold.
    glGetIntegerv(GL_MAX_VERTEX_UNIFORM_COMPONENTS, &value);
    info.vertexBlendMatrices = std::min(value / 16, 4);
    info.vertexBlendMatrixIndex = std::max(value / 16 - 1, 0);
    value = 0;
    glGetIntegerv(GL_MAX_ELEMENTS_VERTICES, &value);
    info.primitiveCount = value;
    value = 0;
    glGetIntegerv(GL_MAX_ELEMENTS_INDICES, &value);
    info.vertexIndex = value;
    GLint major = 0, minor = 0;
    glGetIntegerv(GL_MAJOR_VERSION, &major);
    glGetIntegerv(GL_MINOR_VERSION, &minor);
    // GLSL 3.30 does what shader model 3 did, GL 4 what shader model 4 and later do.
    const int level = major >= 4 ? 4 : (major == 3 && minor >= 3) ? 3 : major >= 2 ? 2 : 0;
    info.vertexShaderLevel = level;
    info.pixelShaderLevel = level;
    return info;
}

HeadlessDevice::~HeadlessDevice() { release(); }

bool HeadlessDevice::create(int width, int height) {
    release();
    EGLDisplay display = openDisplay();
    if (display == EGL_NO_DISPLAY)
        return false;
    EGLint major = 0, minor = 0;
    if (!eglInitialize(display, &major, &minor))
        return false;
    if (!eglBindAPI(EGL_OPENGL_API)) {
        eglTerminate(display);
        return false;
    }
    const EGLint configAttributes[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_NONE};
    EGLConfig config = nullptr;
    EGLint configs = 0;
    const bool noConfig = epoxy_has_egl_extension(display, "EGL_KHR_no_config_context");
    if (!noConfig && (!eglChooseConfig(display, configAttributes, &config, 1, &configs) || configs < 1)) {
        eglTerminate(display);
        return false;
    }
    const EGLint contextAttributes[] = {EGL_CONTEXT_MAJOR_VERSION, 3, EGL_CONTEXT_MINOR_VERSION, 3,
                                        EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                                        EGL_NONE};
    EGLContext context = eglCreateContext(display, noConfig ? EGL_NO_CONFIG_KHR : config, EGL_NO_CONTEXT,
                                          contextAttributes);
    if (context == EGL_NO_CONTEXT) {
        eglTerminate(display);
        return false;
    }
    if (!eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context)) {
        eglDestroyContext(display, context);
        eglTerminate(display);
        return false;
    }
    display_ = display;
    context_ = context;
    width_ = std::clamp(width, 1, kMaxSide);
    height_ = std::clamp(height, 1, kMaxSide);
    lost_ = false;
    if (!target_.create(width_, height_, requestedSamples_)) {
        release();
        return false;
    }
    return true;
}

void HeadlessDevice::release() {
    if (!display_)
        return;
    target_.destroy();
    eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroyContext(display_, context_);
    eglTerminate(display_);
    display_ = context_ = nullptr;
}

std::string HeadlessDevice::adapterDescription() const {
    if (!display_)
        return {};
    const GLubyte* renderer = glGetString(GL_RENDERER);
    return renderer ? reinterpret_cast<const char*>(renderer) : "";
}

bool isSoftwareRenderer(const std::string& renderer) {
    for (const char* name : {"llvmpipe", "softpipe", "swrast", "SwiftShader"})
        if (renderer.find(name) != std::string::npos)
            return true;
    return false;
}

bool HeadlessDevice::software() const { return isSoftwareRenderer(adapterDescription()); }

GpuInfo HeadlessDevice::gpuInfo() const { return display_ ? queryGpuInfo() : GpuInfo{}; }

bool HeadlessDevice::supportsSamples(int samples) const {
    if (!display_)
        return false;
    return samples <= maxSamples();
}

bool HeadlessDevice::reset(int width, int height) {
    if (!display_)
        return false;
    width_ = std::clamp(width, 1, kMaxSide);
    height_ = std::clamp(height, 1, kMaxSide);
    lost_ = false;
    return target_.create(width_, height_, requestedSamples_);
}

DeviceStatus HeadlessDevice::status() {
    if (!display_)
        return DeviceStatus::Lost;
    return lost_ ? DeviceStatus::NotReset : DeviceStatus::Ready;
}

bool HeadlessDevice::present() {
    if (!display_)
        return false;
    if (simulatedLoss_) {
        simulatedLoss_ = false;
        lost_ = true;
        return false;
    }
    glFinish();
    return true;
}

Image HeadlessDevice::readBack() const { return display_ ? target_.readBack() : Image{}; }

}  // namespace rv
