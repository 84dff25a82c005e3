#pragma once

#include <array>
#include <string>
#include <vector>

#include "tui/component/component.h"
#include "tui/dom/elements.h"
#include "tui/screen/screen.h"

// Window frames: the border element that frames every window of the screen.
// Build and render them on the interface thread.

// Row of simple_border_charset.
enum custom_BorderStyle { LIGHT = 0, HEAVY = 1, DOUBLE = 2, ROUNDED = 3, EMPTY = 4 };

// Per style: top-left, top-right, bottom-left, bottom-right, horizontal, vertical.
// The sixth row is all empty strings and has no style.
extern const std::array<std::array<std::string, 6>, 6> simple_border_charset;

// Frames its first child (the content) and writes its optional second child
// (the title) over the top edge.
class custom_Border : public tui::Node {
  public:
    custom_Border(tui::Elements children, custom_BorderStyle style);

    void ComputeRequirement() override;
    void SetBox(tui::Box box) override;
    void Render(tui::Screen& screen) override;
    // Draws the frame's characters, leaving each cell's style as it was.
    void RenderPixel(tui::Screen& screen);

    std::vector<tui::Pixel> charset_pixel;  // not used for drawing
    std::vector<std::string> charset_strings;
};

// The content in a light frame with the title over its top edge.
tui::Element custom_window(tui::Element title, tui::Element content);

// A titled window around the component; events and focus go to the component.
// A height below 0 makes it flexible, otherwise it is exactly `height` rows,
// frame included.
tui::Component Window(std::wstring title, tui::Component component, int height);
