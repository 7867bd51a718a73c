#include "runtime/transform.h"

#include "runtime/library.h"

namespace rv {

void SetWorldTransform(const Mat4& m) { lib().world = m; }
void SetViewTransform(const Mat4& m) { lib().view = m; }
void SetProjectionTransform(const Mat4& m) { lib().projection = m; }

void SetViewEye(const Vec3& eye) {
    LibraryState& s = lib();
    s.eye = eye;
    s.view = lookAtLH(s.eye, s.lookAt, s.up);
}

void SetViewLookAt(const Vec3& at) {
    LibraryState& s = lib();
    s.lookAt = at;
    s.view = lookAtLH(s.eye, s.lookAt, s.up);
}

Vec3 ProjectToScreen(float x, float y, float z) {
    const LibraryState& s = lib();
    const Mat4 m = multiply(multiply(s.world, s.view), s.projection);
    const Vec3 ndc = transformCoord({x, y, z}, m);
    const float halfW = float(s.windowWidth) / 2, halfH = float(s.windowHeight) / 2;
    return {(1 + ndc.x) * halfW, (1 - ndc.y) * halfH, ndc.z};
}

}  // namespace rv
