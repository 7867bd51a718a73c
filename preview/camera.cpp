#include "preview/camera.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace rv {
namespace {

constexpr float kEyeDistance = 15;
constexpr float kPanFactor = 0.0375f;
constexpr float kOrbitFactor = 0.45f;
constexpr float kFieldOfView = std::numbers::pi_v<float> / 4;
constexpr float kNearPlane = 0.1f;
constexpr int kCaptionSteps = 60;
constexpr int kKeyEscape = 27, kKeyF2 = 113, kKeyF3 = 114, kKeyF5 = 116;

float radians(float degrees) { return degrees / 360 * 2 * std::numbers::pi_v<float>; }

bool finite(const Vec3& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

}  // namespace

Mat4 worldMatrix(const Vec3& translation, const Vec3& rotationDegrees, const Vec3& scale) {
    Mat4 m = scaling(scale.x, scale.y, scale.z);
    m = multiply(m, rotationX(radians(rotationDegrees.x)));
    m = multiply(m, rotationY(radians(rotationDegrees.y)));
    m = multiply(m, rotationZ(-radians(rotationDegrees.z)));
    return multiply(m, rv::translation(translation.x, translation.y, translation.z));
}

unsigned applyInputEvent(PreviewCamera& camera, const InputEvent& event) {
    const MouseState& mouse = lib().mouse;
    unsigned actions = kInputNone;
    switch (event.kind) {
    case InputKind::MouseMove:
        if (mouse.left || mouse.middle || mouse.right)
            actions |= kInputRefreshInfo;
        camera.mouseX = event.x;
        camera.mouseY = event.y;
        // Several moves may arrive between two steps; none of their movement is dropped.
        camera.deltaX += event.x - camera.prevX;
        camera.deltaY += event.y - camera.prevY;
        camera.prevX = event.x;
        camera.prevY = event.y;
        LibMouseMove(event.x, event.y);
        break;
    case InputKind::ButtonDown:
        camera.mouseX = camera.downX = event.x;
        camera.mouseY = camera.downY = event.y;
        // A drag starts here: a window without hover tracking sends no move before the press,
        // and the first drag move must not jump by the distance from where the last drag ended.
        camera.prevX = event.x;
        camera.prevY = event.y;
        camera.deltaX = camera.deltaY = 0;
        actions |= kInputRefreshInfo;
        LibMouseButton(event.button, true, event.x, event.y);
        break;
    case InputKind::ButtonUp:
        if (event.button == MouseButton::Left) {
            camera.mouseX = event.x;
            camera.mouseY = event.y;
            actions |= kInputRereadModel;
        }
        actions |= kInputRefreshInfo;
        LibMouseButton(event.button, false, event.x, event.y);
        break;
    case InputKind::Wheel:
        // A zero delta (a horizontal or phase-only scroll) is no step either way.
        if (event.wheelDelta == 0)
            break;
        camera.zoom *= event.wheelDelta < 0 ? 1.2f : 0.8f;
        actions |= kInputRefreshInfo;
        break;
    case InputKind::KeyDown:
        LibKeyEvent(event.key, true);
        break;
    case InputKind::KeyUp:
        if (event.key == kKeyEscape)
            actions |= kInputClose;
        else if (event.key == kKeyF2)
            actions |= kInputToggleAntiAlias | kInputRefreshInfo;
        else if (event.key == kKeyF3)
            actions |= kInputToggleShaderMode | kInputRefreshInfo;
        else if (event.key == kKeyF5)
            actions |= kInputRefreshInfo;
        LibKeyEvent(event.key, false);
        break;
    }
    return actions;
}

Vec3 cameraEye(const PreviewCamera& camera) {
    const Mat4 r = worldMatrix({}, {camera.pitch, camera.yaw, 0}, {1, 1, 1});
    return camera.target + transformNormal({0, 0, -kEyeDistance * camera.zoom}, r);
}

bool stepCamera(PreviewCamera& camera) {
    LibraryState& s = lib();
    const MouseState& mouse = s.mouse;

    if (mouse.middle && !mouse.left && !mouse.right) {
        const Mat4 r = worldMatrix({}, {camera.pitch, -camera.yaw, 0}, {1, 1, 1});
        const Vec3 p = transformNormal({float(camera.deltaX), float(camera.deltaY), 0}, r);
        const float scale = camera.zoom * kPanFactor;
        camera.target.x -= p.x * scale;
        camera.target.y += p.y * scale;
        camera.target.z += p.z * scale;
    }

    if (mouse.right && !mouse.left && !mouse.middle) {
        camera.yaw += float(camera.deltaX) * kOrbitFactor;
        camera.pitch += float(camera.deltaY) * kOrbitFactor;
        if (camera.pitch > 90)
            camera.pitch = 89.9f;
        else if (camera.pitch < -90)
            camera.pitch = -89.9f;
    }

    bool captionDue = false;
    if (++camera.captionCounter > kCaptionSteps) {
        camera.captionCounter = 0;
        captionDue = true;
    }

    const Vec3 eye = cameraEye(camera);
    SetViewEye(eye);
    SetViewLookAt(camera.target);

    s.lightPosition = eye;
    s.lightColour = {1, 1, 1};
    s.ambient = {0.15f, 0.15f, 0.15f, 1.0f};

    camera.deltaX = camera.deltaY = 0;
    return captionDue;
}

void fitCamera(PreviewCamera& camera, const Vec3& boundsMin, const Vec3& boundsMax, float aspect) {
    if (!finite(boundsMin) || !finite(boundsMax) || !std::isfinite(aspect) || !(aspect > 0))
        return;
    if (boundsMin.x > boundsMax.x || boundsMin.y > boundsMax.y || boundsMin.z > boundsMax.z)
        return;
    const Vec3 half{(boundsMax.x - boundsMin.x) / 2, (boundsMax.y - boundsMin.y) / 2, (boundsMax.z - boundsMin.z) / 2};
    const float radius = std::sqrt(dot(half, half));
    if (!(radius > 0) || !std::isfinite(radius))
        return;
    // The narrower of the two fields of view decides.
    const float halfVertical = kFieldOfView / 2;
    const float halfHorizontal = std::atan(std::tan(halfVertical) * aspect);
    float distance = radius / std::sin(std::min(halfVertical, halfHorizontal));
    // Keep the whole sphere beyond the near plane, however small the model.
    distance = std::max(distance, radius + 2 * kNearPlane);
    camera.target = boundsMin + half;
    camera.zoom = distance / kEyeDistance;
}

std::vector<GridVertex> referenceGridLines() {
    std::vector<GridVertex> lines;
    lines.reserve((41 * 2 + 2) * 2);
    auto line = [&](Vec3 a, Vec3 b, std::uint8_t grey) {
        lines.push_back({a, grey, grey, grey, 255});
        lines.push_back({b, grey, grey, grey, 255});
    };
    for (int k = -20; k <= 20; ++k) {
        const float f = float(k);
        line({f, 0, 20}, {f, 0, -20}, 112);
        line({-20, 0, f}, {20, 0, f}, 112);
    }
    line({-20, 0, 0}, {20, 0, 0}, 80);
    line({0, 0, 20}, {0, 0, -20}, 80);
    return lines;
}

}  // namespace rv
