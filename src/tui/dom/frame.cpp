#include <algorithm>
#include <utility>

#include "tui/dom/decorator_node.h"
#include "tui/dom/elements.h"

namespace tui {
namespace {

// The first cell of the content shown in a view of `external` cells, when the
// content is `internal` cells long and [selected_min, selected_max] should be
// seen: the selected part is centred, without scrolling past either end.
int scroll_offset(int external, int internal, int selected_min, int selected_max) {
    int selected_size = std::max(selected_max - selected_min + 1, 1);
    int offset = selected_min - (external - selected_size) / 2;
    return std::clamp(offset, 0, std::max(internal - external, 0));
}

class Frame : public DecoratorNode {
  public:
    Frame(Element child, bool x, bool y) : DecoratorNode(std::move(child)), x_(x), y_(y) {}

    void SetBox(Box box) override {
        Node::SetBox(box);
        const Box& selected = requirement_.selected_box;
        Box content = box;
        if (x_) {
            int external = box.x_max - box.x_min + 1;
            int internal = std::max(requirement_.min_x, external);
            int dx = scroll_offset(external, internal, selected.x_min, selected.x_max);
            content.x_min = box.x_min - dx;
            content.x_max = content.x_min + internal - 1;
        }
        if (y_) {
            int external = box.y_max - box.y_min + 1;
            int internal = std::max(requirement_.min_y, external);
            int dy = scroll_offset(external, internal, selected.y_min, selected.y_max);
            content.y_min = box.y_min - dy;
            content.y_max = content.y_min + internal - 1;
        }
        children_[0]->SetBox(content);
    }

    void Render(Screen& screen) override {
        Box outer = screen.stencil;
        screen.stencil = Box::Intersection(outer, box_);
        children_[0]->Render(screen);
        screen.stencil = outer;
    }

  private:
    bool x_;
    bool y_;
};

}  // namespace

Element frame(Element child) {
    return std::make_shared<Frame>(std::move(child), true, true);
}

Element yframe(Element child) {
    return std::make_shared<Frame>(std::move(child), false, true);
}

}  // namespace tui
