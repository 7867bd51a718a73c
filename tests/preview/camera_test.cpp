#include "preview/camera.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "runtime/library.h"

namespace rv {
namespace {

class CameraTest : public ::testing::Test {
protected:
    void SetUp() override { resetLibraryState(); }
    void TearDown() override { resetLibraryState(); }

    unsigned send(InputKind kind, int x = 0, int y = 0, MouseButton button = MouseButton::Left) {
        InputEvent e;
        e.kind = kind;
        e.x = x;
        e.y = y;
        e.button = button;
        return applyInputEvent(camera, e);
    }
    unsigned key(InputKind kind, int code) {
        InputEvent e;
        e.kind = kind;
        e.key = code;
        return applyInputEvent(camera, e);
    }
    void drag(MouseButton button, int dx, int dy) {
        send(InputKind::MouseMove, 100, 100);
        send(InputKind::ButtonDown, 100, 100, button);
        send(InputKind::MouseMove, 100 + dx, 100 + dy);
    }

    PreviewCamera camera;
};

void expectNear(const Vec3& a, const Vec3& b, float tolerance = 1e-4f) {
    EXPECT_NEAR(a.x, b.x, tolerance);
    EXPECT_NEAR(a.y, b.y, tolerance);
    EXPECT_NEAR(a.z, b.z, tolerance);
}

TEST(WorldMatrix, ScalesThenRotatesXThenYThenMoves) {
    // (0,1,0) scaled by 2 is (0,2,0); Rx(90) turns it to (0,0,2); Ry(90) turns that to (2,0,0);
    // then the move.
    const Mat4 m = worldMatrix({1, 2, 3}, {90, 90, 0}, {2, 2, 2});
    expectNear(transformPoint({0, 1, 0}, m), {3, 2, 3});
}

TEST(WorldMatrix, TurnsZTheOtherWay) {
    // Rz(-90): x goes to -y.
    expectNear(transformPoint({1, 0, 0}, worldMatrix({}, {0, 0, 90}, {1, 1, 1})), {0, -1, 0});
}

TEST(WorldMatrix, FullTurnInDegreesIsIdentity) {
    expectNear(transformPoint({1, 2, 3}, worldMatrix({}, {360, 360, 360}, {1, 1, 1})), {1, 2, 3});
}

TEST_F(CameraTest, InitialEyeAndViewBeforeAndAfterTheFirstStep) {
    // Before any step the library looks from (0,0,-15) at the origin.
    EXPECT_FLOAT_EQ(lib().view[14], 15);
    // 42 from (0,7,0) at yaw -20, pitch 20: x = 42 cos20 sin20, y = 7 + 42 sin20, z = -42 cos20 cos20.
    const Vec3 expected{13.49854f, 21.36484f, -37.08693f};
    expectNear(cameraEye(camera), expected);
    const CameraView view = stepCamera(camera).view;
    expectNear(view.eye, expected);
    expectNear(view.aim, {0, 7, 0});
    expectNear(view.lightPosition, expected);
    EXPECT_FLOAT_EQ(view.ambient.x, 0.15f);
    EXPECT_FLOAT_EQ(view.lightColour.y, 1);
    // The target sits straight ahead of the eye, 42 away.
    const Vec3 t = transformCoord({0, 7, 0}, view.view);
    expectNear(t, {0, 0, 42});
}

TEST_F(CameraTest, TenWheelStepsTowardTheUserScaleTheDistanceBy1_2To10) {
    InputEvent wheel;
    wheel.kind = InputKind::Wheel;
    wheel.wheelDelta = -120;
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(applyInputEvent(camera, wheel), kInputRefreshInfo);
    EXPECT_NEAR(camera.zoom, 2.8 * std::pow(1.2, 10), 1e-4);
    const Vec3 d = cameraEye(camera) - camera.target;
    EXPECT_NEAR(std::sqrt(dot(d, d)), 42 * std::pow(1.2, 10), 1e-2);
    wheel.wheelDelta = 120;
    applyInputEvent(camera, wheel);
    EXPECT_NEAR(camera.zoom, 2.8 * std::pow(1.2, 10) * 0.8, 1e-4);
    wheel.wheelDelta = 0;
    EXPECT_EQ(applyInputEvent(camera, wheel), kInputNone);
}

TEST_F(CameraTest, OrbitStopsAt89_9ButLets89_95Stand) {
    camera.pitch = 89.5f;
    drag(MouseButton::Right, 0, 1);
    stepCamera(camera);
    EXPECT_NEAR(camera.pitch, 89.95f, 1e-4);
    send(InputKind::MouseMove, 100, 102);
    stepCamera(camera);
    EXPECT_FLOAT_EQ(camera.pitch, 89.9f);

    camera.pitch = -89.5f;
    send(InputKind::MouseMove, 100, 101);
    stepCamera(camera);
    EXPECT_NEAR(camera.pitch, -89.95f, 1e-4);
    send(InputKind::MouseMove, 100, 100);
    stepCamera(camera);
    EXPECT_FLOAT_EQ(camera.pitch, -89.9f);
}

TEST_F(CameraTest, OrbitTurnsYawByTheHorizontalMove) {
    drag(MouseButton::Right, 10, 0);
    stepCamera(camera);
    EXPECT_NEAR(camera.yaw, -20 + 4.5f, 1e-4);
    EXPECT_EQ(camera.deltaX, 0);  // cleared by the step
}

TEST_F(CameraTest, TwoButtonsOrTheLeftAloneMoveNothing) {
    const PreviewCamera before = camera;
    drag(MouseButton::Right, 30, 20);
    send(InputKind::ButtonDown, 130, 120, MouseButton::Middle);
    send(InputKind::MouseMove, 160, 140);
    stepCamera(camera);
    send(InputKind::ButtonUp, 160, 140, MouseButton::Right);
    send(InputKind::ButtonUp, 160, 140, MouseButton::Middle);
    drag(MouseButton::Left, 30, 20);
    stepCamera(camera);
    EXPECT_EQ(camera.yaw, before.yaw);
    EXPECT_EQ(camera.pitch, before.pitch);
    expectNear(camera.target, before.target, 0);
}

TEST_F(CameraTest, PanMovesTheTargetFasterWhenZoomedOut) {
    camera.yaw = 0;
    camera.pitch = 0;
    drag(MouseButton::Middle, 10, 4);
    stepCamera(camera);
    // With no rotation: x -= 10 x 2.8 x 0.0375, y += 4 x 2.8 x 0.0375.
    expectNear(camera.target, {-1.05f, 7.42f, 0});
    camera.zoom = 5.6f;
    send(InputKind::MouseMove, 120, 104);
    stepCamera(camera);
    expectNear(camera.target, {-3.15f, 7.42f, 0});
}

TEST_F(CameraTest, NegativeCoordinatesGiveTheirDeltas) {
    send(InputKind::ButtonDown, 3, 3, MouseButton::Right);
    send(InputKind::MouseMove, -2, -4);
    EXPECT_EQ(camera.deltaX, -5);
    EXPECT_EQ(camera.deltaY, -7);
    EXPECT_EQ(lib().mouse.x, -2);
    EXPECT_EQ(lib().mouse.y, -4);
    stepCamera(camera);
    EXPECT_NEAR(camera.yaw, -20 - 5 * 0.45f, 1e-4);
    EXPECT_NEAR(camera.pitch, 20 - 7 * 0.45f, 1e-4);
}

TEST_F(CameraTest, MovesBetweenStepsAddUpAndAPressStartsFresh) {
    send(InputKind::MouseMove, 500, 500);
    send(InputKind::ButtonDown, 10, 10, MouseButton::Right);
    EXPECT_EQ(camera.deltaX, 0);  // the hover move does not carry into the drag
    stepCamera(camera);
    const float yaw = camera.yaw;
    send(InputKind::MouseMove, 12, 10);
    send(InputKind::MouseMove, 15, 10);
    EXPECT_EQ(camera.deltaX, 5);
    stepCamera(camera);
    EXPECT_NEAR(camera.yaw, yaw + 5 * 0.45f, 1e-4);
}

TEST_F(CameraTest, EventsReportWhatTheHostMustDo) {
    EXPECT_EQ(send(InputKind::MouseMove, 1, 1), kInputNone);
    EXPECT_EQ(send(InputKind::ButtonDown, 1, 1, MouseButton::Left), kInputRefreshInfo);
    EXPECT_TRUE(lib().mouse.left);
    EXPECT_EQ(send(InputKind::MouseMove, 2, 2), kInputRefreshInfo);
    EXPECT_EQ(send(InputKind::ButtonUp, 2, 2, MouseButton::Left), kInputRefreshInfo | kInputRereadModel);
    EXPECT_FALSE(lib().mouse.left);
    EXPECT_EQ(lib().mouse.leftDown.x, 1);
    EXPECT_EQ(lib().mouse.leftUp.x, 2);
    EXPECT_EQ(send(InputKind::ButtonUp, 2, 2, MouseButton::Right), kInputRefreshInfo);
    EXPECT_EQ(key(InputKind::KeyUp, 27), kInputClose);
    EXPECT_EQ(key(InputKind::KeyUp, 113), kInputToggleAntiAlias | kInputRefreshInfo);
    EXPECT_EQ(key(InputKind::KeyUp, 116), kInputRefreshInfo);
    EXPECT_EQ(key(InputKind::KeyDown, 27), kInputNone);  // only the release acts
}

TEST_F(CameraTest, KeysEdgeAndAge) {
    key(InputKind::KeyDown, 65);
    EXPECT_EQ(lib().keyState[65], 1);
    EXPECT_EQ(lib().keyEdge[65], kKeyPressed);
    ageKeys();
    key(InputKind::KeyDown, 65);  // a repeat keeps it held
    EXPECT_EQ(lib().keyEdge[65], kKeyHeld);
    key(InputKind::KeyUp, 65);
    EXPECT_EQ(lib().keyState[65], 0);
    EXPECT_EQ(lib().keyEdge[65], kKeyReleased);
    ageKeys();
    EXPECT_EQ(lib().keyEdge[65], kKeyIdle);
    key(InputKind::KeyDown, 300);  // out of range: ignored
}

TEST_F(CameraTest, CaptionIsDueEvery61Steps) {
    for (int i = 1; i <= 60; ++i)
        EXPECT_FALSE(stepCamera(camera).captionDue) << i;
    EXPECT_TRUE(stepCamera(camera).captionDue);
    EXPECT_EQ(camera.captionCounter, 0);
}

TEST_F(CameraTest, FitIsTightAndKeepsEveryCornerOfTheBoxInView) {
    const std::pair<Vec3, Vec3> boxes[] = {
        {{100, -50, 2000}, {900, 250, 2400}},  // millimetres
        {{-20, 0, -15}, {20, 1.5f, 15}},  // flat and wide, a sphere would leave it small
        {{-0.5f, 0, -0.5f}, {0.5f, 30, 0.5f}},  // a tall pole
        {{-1, -1, -1}, {1, 1, 1}},
    };
    for (const auto& [lo, hi] : boxes) {
        for (float aspect : {0.5f, 1.0f, 16.0f / 9.0f}) {
            for (float yaw : {-20.0f, 45.0f, 170.0f}) {
                for (float pitch : {20.0f, -60.0f, 89.9f}) {
                    camera.yaw = yaw;
                    camera.pitch = pitch;
                    fitCamera(camera, lo, hi, aspect);
                    const Mat4 view = lookAtLH(cameraEye(camera), camera.target, {0, 1, 0});
                    const Mat4 proj = perspectiveFovLH(std::numbers::pi_v<float> / 4, aspect, 0.1f, 65536.0f);
                    const Mat4 m = multiply(view, proj);
                    float x0 = 1, x1 = -1, y0 = 1, y1 = -1;
                    for (int c = 0; c < 8; ++c) {
                        const Vec3 p{c & 1 ? hi.x : lo.x, c & 2 ? hi.y : lo.y, c & 4 ? hi.z : lo.z};
                        const Vec3 ndc = transformCoord(p, m);
                        EXPECT_LE(std::abs(ndc.x), 1.0001f);
                        EXPECT_LE(std::abs(ndc.y), 1.0001f);
                        EXPECT_GT(ndc.z, 0);
                        EXPECT_LT(ndc.z, 1);
                        x0 = std::min(x0, ndc.x), x1 = std::max(x1, ndc.x);
                        y0 = std::min(y0, ndc.y), y1 = std::max(y1, ndc.y);
                    }
                    // Half the view's width or height at least (ndc spans 2).
                    EXPECT_GE(std::max(x1 - x0, y1 - y0), 1.0f)
                        << "box " << hi.x << " aspect " << aspect << " yaw " << yaw << " pitch " << pitch;
                }
            }
        }
    }
}

TEST_F(CameraTest, FitLeavesTheCameraForUnusableBounds) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const PreviewCamera before = camera;
    fitCamera(camera, {1, 1, 1}, {-1, -1, -1}, 1);  // empty: min above max
    fitCamera(camera, {2, 2, 2}, {2, 2, 2}, 1);  // a single point
    fitCamera(camera, {nan, 0, 0}, {1, 1, 1}, 1);
    fitCamera(camera, {0, 0, 0}, {inf, 1, 1}, 1);
    fitCamera(camera, {0, 0, 0}, {1, 1, 1}, 0);
    EXPECT_EQ(camera.zoom, before.zoom);
    expectNear(camera.target, before.target, 0);
}

TEST(ReferenceGrid, LinesColoursAndAxes) {
    const auto v = referenceGridLines();
    ASSERT_EQ(v.size(), std::size_t((41 * 2 + 2) * 2));
    expectNear(v[0].position, {-20, 0, 20});
    expectNear(v[1].position, {-20, 0, -20});
    expectNear(v[2].position, {-20, 0, -20});
    expectNear(v[3].position, {20, 0, -20});
    EXPECT_EQ(v[0].r, 112);
    EXPECT_EQ(v[0].a, 255);
    const std::size_t axes = v.size() - 4;
    expectNear(v[axes].position, {-20, 0, 0});
    expectNear(v[axes + 1].position, {20, 0, 0});
    expectNear(v[axes + 2].position, {0, 0, 20});
    expectNear(v[axes + 3].position, {0, 0, -20});
    for (std::size_t i = axes; i < v.size(); ++i)
        EXPECT_EQ(v[i].g, 80);
}

}  // namespace
}  // namespace rv
