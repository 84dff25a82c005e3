#include "tui/component/event.h"

#include <utility>

#include "tui/screen/unicode.h"

namespace tui {

Event Event::Character(std::string utf8) {
    return Event(Kind::Character, std::move(utf8));
}

Event Event::Character(wchar_t character) {
    return Event(Kind::Character, to_string(std::wstring(1, character)));
}

Event Event::Special(std::string name) {
    return Event(Kind::Special, std::move(name));
}

Event Event::FromMouse(Mouse mouse) {
    Event event(Kind::Mouse, "mouse");
    event.mouse_ = mouse;
    return event;
}

const Event Event::ArrowLeft = Event::Special("ArrowLeft");
const Event Event::ArrowRight = Event::Special("ArrowRight");
const Event Event::ArrowUp = Event::Special("ArrowUp");
const Event Event::ArrowDown = Event::Special("ArrowDown");
const Event Event::Backspace = Event::Special("Backspace");
const Event Event::Delete = Event::Special("Delete");
const Event Event::Return = Event::Special("Return");
const Event Event::Escape = Event::Special("Escape");
const Event Event::Tab = Event::Special("Tab");
const Event Event::TabReverse = Event::Special("TabReverse");
const Event Event::Home = Event::Special("Home");
const Event Event::End = Event::Special("End");
const Event Event::PageUp = Event::Special("PageUp");
const Event Event::PageDown = Event::Special("PageDown");
const Event Event::Custom = Event(Event::Kind::Custom, "");

bool Event::operator==(const Event& other) const {
    if (kind_ != other.kind_ || input_ != other.input_)
        return false;
    return kind_ != Kind::Mouse || mouse_ == other.mouse_;
}

std::string Event::DebugString() const {
    switch (kind_) {
        case Kind::Character:
            return "Character(" + input_ + ")";
        case Kind::Special:
            return input_;
        case Kind::Custom:
            return "Custom";
        case Kind::Mouse:
            return "Mouse(button " + std::to_string(mouse_.button) + ", motion " +
                   std::to_string(mouse_.motion) + ", " + std::to_string(mouse_.x) + "," +
                   std::to_string(mouse_.y) + ")";
    }
    return "";
}

}  // namespace tui
