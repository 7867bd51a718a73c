#include "runtime/transform.h"

#include <gtest/gtest.h>

#include <numbers>

#include "runtime/library.h"

namespace rv {
namespace {

class TransformTest : public ::testing::Test {
protected:
    void SetUp() override { resetLibraryState(); }
    void TearDown() override { resetLibraryState(); }
};

TEST_F(TransformTest, ProjectToScreenOfAKnownPoint) {
    lib().windowWidth = 200;
    lib().windowHeight = 100;
    SetWorldTransform(translation(0, 0, 5));
    SetViewTransform(kIdentity);
    // ys = 1, xs = 0.5; depth (z f / (f - n) - n f / (f - n)) / z.
    SetProjectionTransform(perspectiveFovLH(std::numbers::pi_v<float> / 2, 2, 1, 100));
    const Vec3 centre = ProjectToScreen(0, 0, 5);
    EXPECT_NEAR(centre.x, 100, 1e-4);
    EXPECT_NEAR(centre.y, 50, 1e-4);
    const Vec3 p = ProjectToScreen(10, 5, 5);  // at z 10: ndc (0.5, 0.5)
    EXPECT_NEAR(p.x, 150, 1e-4);
    EXPECT_NEAR(p.y, 25, 1e-4);
    EXPECT_NEAR(p.z, (10 * 100 / 99.0 - 100 / 99.0) / 10, 1e-5);
}

TEST_F(TransformTest, EyeAndLookAtRebuildTheView) {
    SetViewEye({1, 2, -10});
    SetViewLookAt({0, 1, 0});
    const Mat4 expected = lookAtLH({1, 2, -10}, {0, 1, 0}, {0, 1, 0});
    for (int i = 0; i < 16; ++i)
        EXPECT_FLOAT_EQ(lib().view[i], expected[i]) << i;
}

}  // namespace
}  // namespace rv
