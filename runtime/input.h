// The library's key and mouse record and the plain events that fill it. Keys are Windows
// virtual-key codes; the host turns its own events into these calls on the main thread.
#pragma once

#include <cstdint>

namespace rv {

enum class MouseButton { Left, Middle, Right };

struct MousePoint {
    int x = 0, y = 0;
};

struct MouseState {
    bool left = false, middle = false, right = false;
    int x = 0, y = 0;
    MousePoint leftDown, leftUp, middleDown, middleUp, rightDown, rightUp;
};

// keyEdge values.
enum : std::uint8_t { kKeyIdle = 0, kKeyPressed = 1, kKeyHeld = 2, kKeyReleased = 3 };

// Records a key going down or up; codes outside 0..255 are ignored.
void LibKeyEvent(int key, bool down);
void LibMouseMove(int x, int y);
// Records the button's flag and the position of its last down or up.
void LibMouseButton(MouseButton button, bool down, int x, int y);
// Ages the key edges after an update step: pressed becomes held, released becomes idle.
void ageKeys();

}  // namespace rv
