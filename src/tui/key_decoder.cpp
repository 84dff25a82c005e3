#include "tui/key_decoder.h"

#include <curses.h>

namespace tui {
namespace {

std::optional<Event> from_key_code(std::uint32_t code) {
    switch (code) {
        case KEY_UP:
            return Event::ArrowUp;
        case KEY_DOWN:
            return Event::ArrowDown;
        case KEY_LEFT:
            return Event::ArrowLeft;
        case KEY_RIGHT:
            return Event::ArrowRight;
        case KEY_HOME:
        case KEY_FIND:  // Home on terminals that send the VT220 keypad codes
        case KEY_A1:
            return Event::Home;
        case KEY_END:
        case KEY_SELECT:  // End, likewise
        case KEY_C1:
            return Event::End;
        case KEY_PPAGE:
        case KEY_A3:
            return Event::PageUp;
        case KEY_NPAGE:
        case KEY_C3:
            return Event::PageDown;
        case KEY_BACKSPACE:
            return Event::Backspace;
        case KEY_DC:
            return Event::Delete;
        case KEY_ENTER:
            return Event::Return;
        case KEY_BTAB:
            return Event::TabReverse;
        default:
            return std::nullopt;
    }
}

std::optional<Event> from_character(std::uint32_t code) {
    switch (code) {
        case '\t':
            return Event::Tab;
        case '\r':
        case '\n':
            return Event::Return;
        case 0x7F:
        case 0x08:
            return Event::Backspace;
        case 0x1B:
            return Event::Escape;
        default:
            break;
    }
    if (code < 0x20 || (code >= 0x80 && code < 0xA0) || code > 0x10FFFF ||
        (code >= 0xD800 && code <= 0xDFFF))
        return std::nullopt;
    return Event::Character(static_cast<wchar_t>(code));
}

}  // namespace

std::optional<Event> event_from_key(int status, std::uint32_t code) {
    if (status == KEY_CODE_YES)
        return from_key_code(code);
    if (status == OK)
        return from_character(code);
    return std::nullopt;
}

std::optional<Event> event_from_mouse(std::uint64_t button_state, int x, int y) {
    auto state = static_cast<mmask_t>(button_state);
    auto has = [state](mmask_t bits) { return (state & bits) != 0; };
    Mouse mouse;
    mouse.x = x;
    mouse.y = y;
    mouse.shift = has(BUTTON_SHIFT);
    mouse.control = has(BUTTON_CTRL);
    mouse.meta = has(BUTTON_ALT);
    if (has(BUTTON4_PRESSED)) {
        mouse.button = Mouse::WheelUp;
        mouse.motion = Mouse::Pressed;
    } else if (has(BUTTON5_PRESSED)) {
        mouse.button = Mouse::WheelDown;
        mouse.motion = Mouse::Pressed;
    } else if (has(BUTTON1_PRESSED | BUTTON1_CLICKED | BUTTON1_DOUBLE_CLICKED)) {
        mouse.button = Mouse::Left;
        mouse.motion = Mouse::Pressed;
    } else if (has(BUTTON2_PRESSED | BUTTON2_CLICKED | BUTTON2_DOUBLE_CLICKED)) {
        mouse.button = Mouse::Middle;
        mouse.motion = Mouse::Pressed;
    } else if (has(BUTTON3_PRESSED | BUTTON3_CLICKED | BUTTON3_DOUBLE_CLICKED)) {
        mouse.button = Mouse::Right;
        mouse.motion = Mouse::Pressed;
    } else if (has(BUTTON1_RELEASED)) {
        mouse.button = Mouse::Left;
        mouse.motion = Mouse::Released;
    } else if (has(BUTTON2_RELEASED)) {
        mouse.button = Mouse::Middle;
        mouse.motion = Mouse::Released;
    } else if (has(BUTTON3_RELEASED)) {
        mouse.button = Mouse::Right;
        mouse.motion = Mouse::Released;
    } else if (has(REPORT_MOUSE_POSITION)) {
        mouse.button = Mouse::None;
        mouse.motion = Mouse::Moved;
    } else {
        return std::nullopt;
    }
    // A press reported together with motion is a drag.
    if (has(REPORT_MOUSE_POSITION) && mouse.motion == Mouse::Pressed &&
        mouse.button != Mouse::WheelUp && mouse.button != Mouse::WheelDown)
        mouse.motion = Mouse::Moved;
    return Event::FromMouse(mouse);
}

}  // namespace tui
