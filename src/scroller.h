#pragma once

#include "tui/component/component.h"

namespace tui {

// Shows its one child in a vertical frame that keeps the selected line in
// view, with a scroll bar. The selection draws no highlight; it only decides
// what part of the child is visible. Interface thread only.
class ScrollerBase : public ComponentBase {
  public:
    explicit ScrollerBase(Component child);

    Element Render() override;
    // True only when the selected line changed.
    bool OnEvent(Event event) override;
    bool Focusable() const override { return true; }

    int selected = 0;        // 0-based row of the child's rendering
    int content_height = 0;  // the child's height at the last render
    Box box;                 // the scroller's area at the last render
};

Component Scroller(Component child);

}  // namespace tui
