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

HeadlessDevice::~HeadlessDevice() { release(); }

bool HeadlessDevice::create(int width, int height) {
    release();
    EGLDisplay display = openDisplay();
    if (display == EGL_NO_DISPLAY)
        return false;
    // The display is one per process, shared by every device: it is initialised here (again, which
    // EGL allows) and never terminated, since terminating it would take the other devices'
    // contexts with it (and unload the driver under them).
    EGLint major = 0, minor = 0;
    if (!eglInitialize(display, &major, &minor))
        return false;
    if (!eglBindAPI(EGL_OPENGL_API))
        return false;
    const EGLint configAttributes[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_NONE};
    EGLConfig config = nullptr;
    EGLint configs = 0;
    const bool noConfig = epoxy_has_egl_extension(display, "EGL_KHR_no_config_context");
    if (!noConfig && (!eglChooseConfig(display, configAttributes, &config, 1, &configs) || configs < 1))
        return false;
    const EGLint contextAttributes[] = {
        EGL_CONTEXT_MAJOR_VERSION,           3,       EGL_CONTEXT_MINOR_VERSION, 3, EGL_CONTEXT_OPENGL_PROFILE_MASK,
        EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT, EGL_NONE};
    EGLContext context =
        eglCreateContext(display, noConfig ? EGL_NO_CONFIG_KHR : config, EGL_NO_CONTEXT, contextAttributes);
    if (context == EGL_NO_CONTEXT)
        return false;
    if (!eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context)) {
        eglDestroyContext(display, context);
        return false;
    }
    display_ = display;
    context_ = context;
    lost_ = false;
    if (!target_.create(std::clamp(width, 1, kMaxSide), std::clamp(height, 1, kMaxSide), requestedSamples_)) {
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
    display_ = context_ = nullptr;
}

bool HeadlessDevice::reset(int width, int height) {
    if (!display_)
        return false;
    lost_ = false;
    return target_.create(std::clamp(width, 1, kMaxSide), std::clamp(height, 1, kMaxSide), requestedSamples_);
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

}  // namespace rv
