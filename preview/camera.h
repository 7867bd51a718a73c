// The preview's orbiting camera and the mouse and key input that drives it. No GL here: a step
// returns the view it sets up (eye, aim, view matrix, light) for the frame to draw with.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "runtime/input.h"
#include "runtime/matrix.h"

namespace rv {

struct PreviewCamera {
    Vec3 target{0, 7, 0};
    float yaw = -20;  // degrees about the vertical axis, unbounded
    float pitch = 20;  // degrees of elevation
    float zoom = 2.8f;  // the eye is 15 x zoom from the target
    int mouseX = 0, mouseY = 0;
    int prevX = 0, prevY = 0;
    int deltaX = 0, deltaY = 0;  // movement since the last update step
    int downX = 0, downY = 0;
    int captionCounter = 0;
};

// The placement rule shared by the camera and the models: S x Rx(rx) x Ry(ry) x Rz(-rz) x T,
// angles in degrees (`rotationDegrees` holds rx, ry, rz).
Mat4 worldMatrix(const Vec3& translation, const Vec3& rotationDegrees, const Vec3& scale);

enum class InputKind { MouseMove, ButtonDown, ButtonUp, Wheel, KeyDown, KeyUp };

// One input event as the window forwards it. Positions are client pixels (negative left of or
// above the window); keys are Windows virtual-key codes (Escape 27, F2 113, F5 116).
struct InputEvent {
    InputKind kind = InputKind::MouseMove;
    int x = 0, y = 0;
    MouseButton button = MouseButton::Left;
    int wheelDelta = 0;  // negative toward the user
    int key = 0;
};

// What the host must do after an event; flags, combined with |.
enum InputAction : unsigned {
    kInputNone = 0,
    kInputRefreshInfo = 1,  // refresh the information text
    kInputRereadModel = 2,  // re-read the current model (slot 0)
    kInputClose = 4,  // close the main window
    kInputToggleAntiAlias = 8,  // AntiAliasSet(!lib().antiAliasOn)
    kInputToggleShaderMode = 16,  // lib().shaderMode = !lib().shaderMode (F3)
};

// Applies an event to the camera and to the library's mouse and key record; returns
// InputAction flags. Moves between two update steps add up; a press starts a drag afresh.
unsigned applyInputEvent(PreviewCamera& camera, const InputEvent& event);

// What the camera hands to the frame. The defaults are the view before any step: from
// (0, 0, -15) at the origin, the light at the eye, ambient 0.125.
struct CameraView {
    Vec3 eye{0, 0, -15};
    Vec3 aim{0, 0, 0};  // the point looked at; the light aims there too
    Mat4 view = lookAtLH({0, 0, -15}, {0, 0, 0}, {0, 1, 0});
    Vec3 lightPosition{0, 0, -15};
    Vec3 lightColour{1, 1, 1};
    Vec3 ambient{0.125f, 0.125f, 0.125f};
};

struct CameraStep {
    CameraView view;
    bool captionDue = false;  // the caption is due to be set to "REVizevoz 2015"
};

// One update step of the camera: panning (middle button alone), orbiting (right button alone),
// the caption counter, the eye, the view, the light at the eye and ambient 0.15; then the
// deltas are cleared.
CameraStep stepCamera(PreviewCamera& camera);

// The angles a view starts from, and returns to when a model is framed.
inline constexpr float kDefaultYaw = -20;
inline constexpr float kDefaultPitch = 20;

// The eye for the camera's target, yaw, pitch and zoom.
Vec3 cameraEye(const PreviewCamera& camera);

// Aims the camera at the points' middle and sets the zoom to the nearest distance at which every
// point projects inside the view at the camera's yaw and pitch, with a margin (vertical field of
// view pi/4, `aspect` width / height): the points' picture fills most of the view's width or
// height. Fitting the points themselves, not a bounding sphere or box, keeps flat and sparse
// models large. No points, points all in one place, a non-finite point or a bad aspect leave the
// camera as it is.
void fitCamera(PreviewCamera& camera, std::span<const Vec3> points, float aspect);
// The same for the eight corners of a box (an empty box leaves the camera as it is).
void fitCamera(PreviewCamera& camera, const Vec3& boundsMin, const Vec3& boundsMax, float aspect);

struct GridVertex {
    Vec3 position;
    std::uint8_t r = 0, g = 0, b = 0, a = 255;
};

// The reference grid as a line list (two vertices per line), in world space: for k = -20..20 the
// lines (k, 0, 20)-(k, 0, -20) and (-20, 0, k)-(20, 0, k) in grey 112, then the two axis lines
// in grey 80.
std::vector<GridVertex> referenceGridLines();

}  // namespace rv
