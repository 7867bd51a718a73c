#include "preview/headless_device.h"

#include <epoxy/egl.h>

#include <algorithm>
#include <cstring>

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
    samples_ = requestedSamples_;
    lost_ = false;
    if (!makeBuffers()) {
        release();
        return false;
    }
    return true;
}

void HeadlessDevice::release() {
    if (!display_)
        return;
    deleteBuffers();
    eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroyContext(display_, context_);
    eglTerminate(display_);
    display_ = context_ = nullptr;
}

bool HeadlessDevice::makeBuffers() {
    if (samples_ > 0 && !supportsSamples(samples_))
        samples_ = 0;
    glGenFramebuffers(1, &drawFramebuffer_);
    glGenRenderbuffers(1, &colour_);
    glGenRenderbuffers(1, &depth_);
    glBindFramebuffer(GL_FRAMEBUFFER, drawFramebuffer_);
    glBindRenderbuffer(GL_RENDERBUFFER, colour_);
    glRenderbufferStorageMultisample(GL_RENDERBUFFER, samples_, GL_RGBA8, width_, height_);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colour_);
    glBindRenderbuffer(GL_RENDERBUFFER, depth_);
    glRenderbufferStorageMultisample(GL_RENDERBUFFER, samples_, GL_DEPTH24_STENCIL8, width_, height_);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, depth_);
    bool ok = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    if (ok && samples_ > 0) {
        glGenFramebuffers(1, &resolveFramebuffer_);
        glGenRenderbuffers(1, &resolveColour_);
        glBindFramebuffer(GL_FRAMEBUFFER, resolveFramebuffer_);
        glBindRenderbuffer(GL_RENDERBUFFER, resolveColour_);
        glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width_, height_);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, resolveColour_);
        ok = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    }
    glBindFramebuffer(GL_FRAMEBUFFER, drawFramebuffer_);
    return ok;
}

void HeadlessDevice::deleteBuffers() {
    GLuint framebuffers[] = {drawFramebuffer_, resolveFramebuffer_};
    GLuint renderbuffers[] = {colour_, depth_, resolveColour_};
    glDeleteFramebuffers(2, framebuffers);
    glDeleteRenderbuffers(3, renderbuffers);
    drawFramebuffer_ = resolveFramebuffer_ = colour_ = depth_ = resolveColour_ = 0;
}

std::string HeadlessDevice::adapterDescription() const {
    if (!display_)
        return {};
    const GLubyte* renderer = glGetString(GL_RENDERER);
    return renderer ? reinterpret_cast<const char*>(renderer) : "";
}

bool HeadlessDevice::software() const {
    const std::string renderer = adapterDescription();
    for (const char* name : {"llvmpipe", "softpipe", "swrast", "SwiftShader"})
        if (renderer.find(name) != std::string::npos)
            return true;
    return false;
}

GpuInfo HeadlessDevice::gpuInfo() const { return display_ ? queryGpuInfo() : GpuInfo{}; }

bool HeadlessDevice::supportsSamples(int samples) const {
    if (!display_)
        return false;
    GLint most = 0;
    glGetIntegerv(GL_MAX_SAMPLES, &most);
    return samples <= most;
}

bool HeadlessDevice::reset(int width, int height) {
    if (!display_)
        return false;
    deleteBuffers();
    width_ = std::clamp(width, 1, kMaxSide);
    height_ = std::clamp(height, 1, kMaxSide);
    samples_ = requestedSamples_;
    lost_ = false;
    return makeBuffers();
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
    if (samples_ > 0) {
        glBindFramebuffer(GL_READ_FRAMEBUFFER, drawFramebuffer_);
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, resolveFramebuffer_);
        glBlitFramebuffer(0, 0, width_, height_, 0, 0, width_, height_, GL_COLOR_BUFFER_BIT, GL_NEAREST);
    }
    glFinish();
    return true;
}

Image HeadlessDevice::readBack() const {
    Image image;
    if (!display_)
        return image;
    image.width = width_;
    image.height = height_;
    image.rgba.resize(std::size_t(width_) * std::size_t(height_) * 4);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, samples_ > 0 ? resolveFramebuffer_ : drawFramebuffer_);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    std::vector<std::uint8_t> rows(image.rgba.size());
    glReadPixels(0, 0, width_, height_, GL_RGBA, GL_UNSIGNED_BYTE, rows.data());
    // GL rows come bottom-up.
    const std::size_t stride = std::size_t(width_) * 4;
    for (int y = 0; y < height_; ++y)
        std::memcpy(&image.rgba[std::size_t(y) * stride], &rows[std::size_t(height_ - 1 - y) * stride], stride);
    glBindFramebuffer(GL_FRAMEBUFFER, drawFramebuffer_);
    return image;
}

}  // namespace rv
