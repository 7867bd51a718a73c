#include "runtime/input.h"

#include "runtime/library.h"

namespace rv {

void LibKeyEvent(int key, bool down) {
    if (key < 0 || key > 255)
        return;
    LibraryState& s = lib();
    if (down) {
        if (s.keyEdge[key] == kKeyIdle)
            s.keyEdge[key] = kKeyPressed;
        s.keyState[key] = 1;
    } else {
        s.keyEdge[key] = kKeyReleased;
        s.keyState[key] = 0;
    }
}

void LibMouseMove(int x, int y) {
    lib().mouse.x = x;
    lib().mouse.y = y;
}

void LibMouseButton(MouseButton button, bool down, int x, int y) {
    MouseState& m = lib().mouse;
    m.x = x;
    m.y = y;
    const MousePoint p{x, y};
    switch (button) {
    case MouseButton::Left:
        m.left = down;
        (down ? m.leftDown : m.leftUp) = p;
        break;
    case MouseButton::Middle:
        m.middle = down;
        (down ? m.middleDown : m.middleUp) = p;
        break;
    case MouseButton::Right:
        m.right = down;
        (down ? m.rightDown : m.rightUp) = p;
        break;
    }
}

void ageKeys() {
    for (auto& e : lib().keyEdge) {
        if (e == kKeyPressed)
            e = kKeyHeld;
        else if (e == kKeyReleased)
            e = kKeyIdle;
    }
}

}  // namespace rv
