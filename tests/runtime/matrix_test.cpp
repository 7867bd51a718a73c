#include "runtime/matrix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace rv {
namespace {

void expectMatrix(const Mat4& actual, const Mat4& expected, float tolerance = 1e-6f) {
    for (int i = 0; i < 16; ++i)
        EXPECT_NEAR(actual[i], expected[i], tolerance) << "element (" << i / 4 << ", " << i % 4 << ")";
}

TEST(LookAtLH, LooksDownZFromTheDefaultEye) {
    // z = (0,0,1), x = up x z = (1,0,0), y = (0,1,0); row 3 = (0, 0, 15).
    expectMatrix(lookAtLH({0, 0, -15}, {0, 0, 0}, {0, 1, 0}), {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 15, 1});
}

TEST(LookAtLH, EyeOnPlusXLooksTowardMinusX) {
    // z = (-1,0,0), x = (0,1,0) x (-1,0,0) = (0,0,1), y = z x x = (0,1,0); -dot(z, eye) = 3.
    const Mat4 v = lookAtLH({3, 0, 0}, {0, 0, 0}, {0, 1, 0});
    expectMatrix(v, {0, 0, -1, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 3, 1});
    // World +z is to the right of this eye, 3 in front of it.
    const Vec3 p = transformCoord({0, 0, 1}, v);
    EXPECT_NEAR(p.x, 1, 1e-6);
    EXPECT_NEAR(p.z, 3, 1e-6);
}

TEST(LookAtLH, StraightDownGivesNoNaN) {
    const Mat4 v = lookAtLH({0, 10, 0}, {0, 0, 0}, {0, 1, 0});
    for (float f : v)
        EXPECT_FALSE(std::isnan(f));
}

TEST(PerspectiveFovLH, PreviewProjectionTerms) {
    const Mat4 p = perspectiveFovLH(std::numbers::pi_v<float> / 4, 16.0f / 9.0f, 0.1f, 65536.0f);
    // ys = cot(pi/8) = 2.4142136, xs = ys / (16/9) = 1.3579951.
    EXPECT_NEAR(p[5], 2.4142136f, 1e-6);
    EXPECT_NEAR(p[0], 1.3579951f, 1e-6);
    EXPECT_NEAR(p[10], 1.0000015f, 1e-7);
    EXPECT_NEAR(p[14], -0.10000016f, 1e-7);
    EXPECT_EQ(p[11], 1.0f);
    EXPECT_EQ(p[15], 0.0f);
    EXPECT_NEAR(transformCoord({0, 0, 0.1f}, p).z, 0, 1e-6);
    EXPECT_NEAR(transformCoord({0, 0, 65536}, p).z, 1, 1e-6);
}

TEST(Rotations, AreLeftHandedInRowVectors) {
    const float q = std::numbers::pi_v<float> / 2;
    const Vec3 x = transformNormal({0, 1, 0}, rotationX(q));  // y turns to z
    EXPECT_NEAR(x.z, 1, 1e-6);
    const Vec3 y = transformNormal({0, 0, 1}, rotationY(q));  // z turns to x
    EXPECT_NEAR(y.x, 1, 1e-6);
    const Vec3 z = transformNormal({1, 0, 0}, rotationZ(q));  // x turns to y
    EXPECT_NEAR(z.y, 1, 1e-6);
}

TEST(Multiply, AppliesTheLeftMatrixFirst) {
    // Scale by 2, then move by (1, 0, 0): (1, 0, 0) lands on (3, 0, 0).
    const Vec3 p = transformPoint({1, 0, 0}, multiply(scaling(2, 2, 2), translation(1, 0, 0)));
    EXPECT_FLOAT_EQ(p.x, 3);
}

}  // namespace
}  // namespace rv
