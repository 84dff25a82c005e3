#pragma once

#include "tui/component/component.h"

// A one-line input over a wide string. The cursor lives in the caller's
// option while the option's cursor_position is not -1, and in the input
// otherwise; the cursor cell's underline flips at every redraw. Interface
// thread only.
class custom_WideInputBase : public tui::ComponentBase {
  public:
    custom_WideInputBase(tui::WideStringRef content, tui::ConstStringRef placeholder,
                         tui::Ref<tui::InputOption> option);

    // The cursor in use: the option's int unless it holds -1.
    int& cursor_position();

    tui::Element Render() override;
    // True when the event was used.
    bool OnEvent(tui::Event event) override;
    bool Focusable() const override { return true; }

    bool OnMouseEvent(tui::Event event);

    int cursor_position_internal = 0;
    bool hovered = false;
    tui::WideStringRef content;
    tui::ConstStringRef placeholder;
    tui::Box box;
    tui::Box cursor_box;
    tui::Ref<tui::InputOption> option;
    bool blink = false;
};

tui::Component custom_Input(tui::WideStringRef content, tui::ConstStringRef placeholder,
                            tui::Ref<tui::InputOption> option);
