// The world, view and projection transforms the drawing sets in the library state, and the
// projection of a world point to the screen through them.
#pragma once

#include "runtime/matrix.h"

namespace rv {

void SetWorldTransform(const Mat4& m);
void SetViewTransform(const Mat4& m);
void SetProjectionTransform(const Mat4& m);
// Each rebuilds the view as a left-handed look-at from eye, look-at point and up (0, 1, 0).
void SetViewEye(const Vec3& eye);
void SetViewLookAt(const Vec3& at);
// Screen position (pixels from the top left, depth 0..1) of a world point through world, view
// and projection and the back-buffer viewport.
Vec3 ProjectToScreen(float x, float y, float z);

}  // namespace rv
