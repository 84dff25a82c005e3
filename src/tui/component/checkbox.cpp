#include <utility>

#include "tui/component/component.h"

namespace tui {
namespace {

class CheckboxBase : public ComponentBase {
  public:
    CheckboxBase(ConstStringRef label, bool* checked, CheckboxOption option)
        : label_(std::move(label)), checked_(checked), option_(std::move(option)) {}

    Element Render() override {
        Element row = hbox({text(*checked_ ? "[X] " : "[ ] "), text(*label_)});
        if (Focused())
            row = row | inverted | focus;
        else if (hovered_)
            row = row | bold;
        return row | reflect(box_);
    }

    bool OnEvent(Event event) override {
        if (event.is_mouse())
            return OnMouseEvent(event);
        if (event == Event::Return || event == Event::Character(" ")) {
            Toggle();
            return true;
        }
        return false;
    }

    bool Focusable() const override { return true; }

  private:
    bool OnMouseEvent(const Event& event) {
        const Mouse& mouse = event.mouse();
        hovered_ = box_.Contain(mouse.x, mouse.y) && CaptureMouse(event);
        if (!hovered_ || mouse.button != Mouse::Left || mouse.motion != Mouse::Pressed)
            return false;
        TakeFocus();
        Toggle();
        return true;
    }

    void Toggle() {
        *checked_ = !*checked_;
        if (option_.on_change)
            option_.on_change();
    }

    ConstStringRef label_;
    bool* checked_;
    CheckboxOption option_;
    bool hovered_ = false;
    Box box_;
};

}  // namespace

Component Checkbox(ConstStringRef label, bool* checked, CheckboxOption option) {
    return Make<CheckboxBase>(std::move(label), checked, std::move(option));
}

}  // namespace tui
