#include "scroller.h"

#include <algorithm>
#include <utility>

namespace tui {

ScrollerBase::ScrollerBase(Component child) {
    Add(std::move(child));
}

Element ScrollerBase::Render() {
    Decorator marker = Focused() ? Decorator(focus) : Decorator(select);
    Decorator style = nothing;

    Element content = ComponentBase::Render();
    content->ComputeRequirement();
    content_height = content->requirement().min_y;

    Element spacer = text(L"") | size(HEIGHT, EQUAL, selected);
    Element mark = text(L"") | style | marker;
    Element overlay = vbox({std::move(spacer), std::move(mark)});

    return dbox({std::move(content), std::move(overlay)}) | vscroll_indicator | yframe | yflex |
           reflect(box);
}

bool ScrollerBase::OnEvent(Event event) {
    if (event.is_mouse() && box.Contain(event.mouse().x, event.mouse().y))
        TakeFocus();

    int old_selected = selected;
    bool wheel_up = event.is_mouse() && event.mouse().button == Mouse::WheelUp;
    bool wheel_down = event.is_mouse() && event.mouse().button == Mouse::WheelDown;
    if (event == Event::ArrowUp || event == Event::Character("k") || wheel_up)
        selected--;
    if (event == Event::ArrowDown || event == Event::Character("j") || wheel_down)
        selected++;
    if (event == Event::PageDown)
        selected += box.y_max - box.y_min;
    if (event == Event::PageUp)
        selected -= box.y_max - box.y_min;
    if (event == Event::Home)
        selected = 0;
    if (event == Event::End)
        selected = content_height;
    selected = std::max(0, std::min(content_height - 1, selected));
    return selected != old_selected;
}

Component Scroller(Component child) {
    return Make<ScrollerBase>(std::move(child));
}

}  // namespace tui
