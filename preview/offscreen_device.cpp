#include "preview/offscreen_device.h"

#include <algorithm>

namespace rv {

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

bool isSoftwareRenderer(const std::string& renderer) {
    for (const char* name : {"llvmpipe", "softpipe", "swrast", "SwiftShader"})
        if (renderer.find(name) != std::string::npos)
            return true;
    return false;
}

std::string OffscreenDevice::adapterDescription() const {
    if (!hasContext())
        return {};
    const GLubyte* renderer = glGetString(GL_RENDERER);
    return renderer ? reinterpret_cast<const char*>(renderer) : "";
}

bool OffscreenDevice::software() const { return isSoftwareRenderer(adapterDescription()); }

GpuInfo OffscreenDevice::gpuInfo() const { return hasContext() ? queryGpuInfo() : GpuInfo{}; }

bool OffscreenDevice::supportsSamples(int samples) const { return hasContext() && samples <= maxSamples(); }

Image OffscreenDevice::readBack() const { return hasContext() ? target_.readBack() : Image{}; }

}  // namespace rv
