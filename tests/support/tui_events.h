#pragma once

#include "tui/component/event.h"

namespace quarn_test {

// A mouse report at cell (x, y), as the terminal layer's loop would deliver it.
inline tui::Event mouse_event(int x, int y, tui::Mouse::Button button = tui::Mouse::Left,
                              tui::Mouse::Motion motion = tui::Mouse::Pressed) {
    tui::Mouse mouse;
    mouse.x = x;
    mouse.y = y;
    mouse.button = button;
    mouse.motion = motion;
    return tui::Event::FromMouse(mouse);
}

}  // namespace quarn_test
