#pragma once

#include <string>

namespace tui {

class MouseCapturer;

// A mouse report, in screen cells from the top-left corner.
struct Mouse {
    enum Button { Left, Middle, Right, None, WheelUp, WheelDown };
    enum Motion { Released, Pressed, Moved };

    Button button = None;
    Motion motion = Pressed;
    bool shift = false;
    bool meta = false;
    bool control = false;
    int x = 0;
    int y = 0;

    bool operator==(const Mouse&) const = default;
};

// One input for the components: a typed character, a special key, a mouse
// report or a custom event that other threads post to wake the loop. Values;
// copy them freely between threads.
class Event {
  public:
    static Event Character(std::string utf8);
    static Event Character(wchar_t character);
    static Event Special(std::string name);
    static Event FromMouse(Mouse mouse);

    static const Event ArrowLeft;
    static const Event ArrowRight;
    static const Event ArrowUp;
    static const Event ArrowDown;
    static const Event Backspace;
    static const Event Delete;
    static const Event Return;
    static const Event Escape;
    static const Event Tab;
    static const Event TabReverse;
    static const Event Home;
    static const Event End;
    static const Event PageUp;
    static const Event PageDown;
    static const Event Custom;

    bool is_character() const { return kind_ == Kind::Character; }
    // The typed text (UTF-8) of a character event.
    const std::string& character() const { return input_; }
    bool is_mouse() const { return kind_ == Kind::Mouse; }
    Mouse& mouse() { return mouse_; }
    const Mouse& mouse() const { return mouse_; }
    // A readable name, for tests and logs.
    std::string DebugString() const;

    bool operator==(const Event& other) const;

    // Set by the loop that delivers the event; lets components capture the mouse.
    MouseCapturer* capturer = nullptr;

  private:
    enum class Kind { Character, Special, Mouse, Custom };
    Event(Kind kind, std::string input) : kind_(kind), input_(std::move(input)) {}

    Kind kind_ = Kind::Custom;
    std::string input_;
    Mouse mouse_;
};

}  // namespace tui
