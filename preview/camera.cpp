#include "preview/camera.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <span>

#include "runtime/library.h"

namespace rv {
namespace {

constexpr float kEyeDistance = 15;
constexpr float kPanFactor = 0.0375f;
constexpr float kOrbitFactor = 0.45f;
constexpr float kFieldOfView = std::numbers::pi_v<float> / 4;
constexpr float kNearPlane = 0.1f;
// The share of the view a fitted model may take at most, leaving a margin around it.
constexpr float kFitFill = 0.9f;
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
    case InputKind::KeyDown: LibKeyEvent(event.key, true); break;
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

CameraStep stepCamera(PreviewCamera& camera) {
    const MouseState& mouse = lib().mouse;

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

    CameraStep step;
    if (++camera.captionCounter > kCaptionSteps) {
        camera.captionCounter = 0;
        step.captionDue = true;
    }

    CameraView& v = step.view;
    v.eye = cameraEye(camera);
    v.aim = camera.target;
    v.view = lookAtLH(v.eye, v.aim, {0, 1, 0});
    v.lightPosition = v.eye;
    v.lightColour = {1, 1, 1};
    v.ambient = {0.15f, 0.15f, 0.15f};

    camera.deltaX = camera.deltaY = 0;
    return step;
}

namespace {

// The nearest eye distance at which every point projects inside the view aimed as `view` (built
// at distance kEyeDistance): |x| <= tan * (distance + depth) for each point's x, y and depth
// relative to the aim. 0 when no finite distance does.
float fitDistance(std::span<const Vec3> points, float aspect, const Mat4& view) {
    const float tanVertical = std::tan(kFieldOfView / 2) * kFitFill;
    const float tanHorizontal = std::tan(kFieldOfView / 2) * aspect * kFitFill;
    float distance = 0;
    for (const Vec3& p : points) {
        const Vec3 c = transformCoord(p, view);
        const float depth = c.z - kEyeDistance;
        distance = std::max({distance, std::abs(c.x) / tanHorizontal - depth, std::abs(c.y) / tanVertical - depth,
                             2 * kNearPlane - depth});
    }
    return std::isfinite(distance) ? distance : 0;
}

Mat4 viewAround(const PreviewCamera& camera, const Vec3& centre) {
    PreviewCamera probe = camera;
    probe.target = centre;
    probe.zoom = 1;
    return lookAtLH(cameraEye(probe), centre, {0, 1, 0});
}

}  // namespace

void fitCamera(PreviewCamera& camera, std::span<const Vec3> points, float aspect) {
    if (points.empty() || !std::isfinite(aspect) || !(aspect > 0))
        return;
    Vec3 lo = points[0], hi = points[0];
    for (const Vec3& p : points) {
        if (!finite(p))
            return;
        lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
        hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
    }
    const Vec3 half{(hi.x - lo.x) / 2, (hi.y - lo.y) / 2, (hi.z - lo.z) / 2};
    const float radius = std::sqrt(dot(half, half));
    if (!(radius > 0) || !std::isfinite(radius))
        return;
    Vec3 centre = lo + half;
    Mat4 view = viewAround(camera, centre);
    float distance = fitDistance(points, aspect, view);
    if (!(distance > 0))
        return;
    // The points' picture is seldom symmetric about the box's centre: move the aim sideways to
    // the middle of the picture and fit again, which lets the picture grow.
    float x0 = 0, x1 = 0, y0 = 0, y1 = 0;
    bool first = true;
    for (const Vec3& p : points) {
        const Vec3 c = transformCoord(p, view);
        const float depth = c.z - kEyeDistance + distance;
        const float x = c.x / depth, y = c.y / depth;
        x0 = first ? x : std::min(x0, x), x1 = first ? x : std::max(x1, x);
        y0 = first ? y : std::min(y0, y), y1 = first ? y : std::max(y1, y);
        first = false;
    }
    const Vec3 right{view[0], view[4], view[8]}, up{view[1], view[5], view[9]};
    const float sx = (x0 + x1) / 2 * distance, sy = (y0 + y1) / 2 * distance;
    const Vec3 shifted{centre.x + right.x * sx + up.x * sy, centre.y + right.y * sx + up.y * sy,
                       centre.z + right.z * sx + up.z * sy};
    const Mat4 shiftedView = viewAround(camera, shifted);
    const float shiftedDistance = fitDistance(points, aspect, shiftedView);
    if (shiftedDistance > 0 && shiftedDistance < distance) {
        centre = shifted;
        distance = shiftedDistance;
    }
    camera.target = centre;
    camera.zoom = distance / kEyeDistance;
}

void fitCamera(PreviewCamera& camera, const Vec3& boundsMin, const Vec3& boundsMax, float aspect) {
    if (boundsMin.x > boundsMax.x || boundsMin.y > boundsMax.y || boundsMin.z > boundsMax.z)
        return;
    Vec3 corners[8];
    for (int i = 0; i < 8; ++i)
        corners[i] = {i & 1 ? boundsMax.x : boundsMin.x, i & 2 ? boundsMax.y : boundsMin.y,
                      i & 4 ? boundsMax.z : boundsMin.z};
    fitCamera(camera, corners, aspect);
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
