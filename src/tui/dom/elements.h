#pragma once

#include <functional>
#include <string>

#include "tui/dom/node.h"
#include "tui/screen/box.h"
#include "tui/screen/color.h"

namespace tui {

// Every element factory below may be called on any one thread; the elements it
// returns belong to that thread.

using Decorator = std::function<Element(Element)>;

// Applies a decorator; decorators chain left to right.
Element operator|(Element element, Decorator decorator);
Element& operator|=(Element& element, Decorator decorator);
Decorator operator|(Decorator first, Decorator second);

// One row of text, as wide as its glyphs.
Element text(std::string utf8);
Element text(std::wstring wide);

// Children side by side / one above the other / stacked on the same cells.
Element hbox(Elements children);
Element vbox(Elements children);
Element dbox(Elements children);

// A column `lines` rows tall whose rows are made only when drawn: at each
// render, `build(first, last)` gives the element for rows first to last
// (0-based, both included) of those the view shows, drawn over them across
// the whole width. It asks for no width of its own.
using LineBuilder = std::function<Element(int first, int last)>;
Element lines_on_demand(int lines, LineBuilder build);

// Takes the space left over in both directions.
Element filler();

enum WidthOrHeight { WIDTH, HEIGHT };
enum Constraint { LESS_THAN, EQUAL, GREATER_THAN };
// Fixes, caps or raises the element's size in one direction.
Decorator size(WidthOrHeight direction, Constraint constraint, int value);

// Grow into and shrink with the space the parent has.
Element flex(Element child);
Element xflex(Element child);
Element yflex(Element child);
// Among its siblings, gives up rows first when the parent is short of them.
Element yflex_shrink(Element child);

// Centred in the width it is given.
Element hcenter(Element child);

// Shows a window of the child, scrolled to keep its focused (or else selected)
// part in view; frame scrolls both ways, yframe only vertically.
Element frame(Element child);
Element yframe(Element child);

// Marks the element as the one a frame keeps in view; focus wins over select.
Element focus(Element child);
Element select(Element child);

// A scroll bar in an extra column on the right, for content inside a yframe.
Element vscroll_indicator(Element child);

// Copies the element's box, as far as it is visible, into `box` at every render.
Decorator reflect(Box& box);

// A bar filled to `progress` (0 to 1) of its width.
Element gauge(float progress);

// Styles applied over the child's cells.
Element bold(Element child);
Element dim(Element child);
Element inverted(Element child);
Element underlined(Element child);
Element nothing(Element child);
Decorator color(Color foreground);
Decorator bgcolor(Color background);

}  // namespace tui
