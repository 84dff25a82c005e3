#include <utility>

#include "tui/dom/decorator_node.h"
#include "tui/dom/elements.h"

namespace tui {
namespace {

// Changes every visible cell of the child's box after the child has drawn.
template <typename Change>
class Style : public DecoratorNode {
  public:
    Style(Element child, Change change) : DecoratorNode(std::move(child)), change_(change) {}

    void Render(Screen& screen) override {
        DecoratorNode::Render(screen);
        Box area = Box::Intersection(box_, screen.stencil);
        for (int y = area.y_min; y <= area.y_max; ++y)
            for (int x = area.x_min; x <= area.x_max; ++x)
                change_(screen.PixelAt(x, y));
    }

  private:
    Change change_;
};

template <typename Change>
Element styled(Element child, Change change) {
    return std::make_shared<Style<Change>>(std::move(child), change);
}

}  // namespace

Element bold(Element child) {
    return styled(std::move(child), [](Pixel& p) { p.bold = true; });
}

Element dim(Element child) {
    return styled(std::move(child), [](Pixel& p) { p.dim = true; });
}

Element inverted(Element child) {
    return styled(std::move(child), [](Pixel& p) { p.inverted = true; });
}

Element underlined(Element child) {
    return styled(std::move(child), [](Pixel& p) { p.underlined = true; });
}

Decorator color(Color foreground) {
    return [foreground](Element child) {
        return styled(std::move(child),
                      [foreground](Pixel& p) { p.foreground_color = foreground; });
    };
}

Decorator bgcolor(Color background) {
    return [background](Element child) {
        return styled(std::move(child),
                      [background](Pixel& p) { p.background_color = background; });
    };
}

}  // namespace tui
