#include <algorithm>
#include <utility>

#include "tui/dom/elements.h"
#include "tui/dom/flex_layout.h"

namespace tui {
namespace {

class HBox : public Node {
  public:
    explicit HBox(Elements children) : Node(std::move(children)) {}

    void ComputeRequirement() override {
        Node::ComputeRequirement();
        requirement_ = Requirement{};
        for (const Element& child : children_) {
            const Requirement& r = child->requirement();
            if (r.selection > requirement_.selection) {
                requirement_.selection = r.selection;
                requirement_.selected_box = r.selected_box;
                requirement_.selected_box.x_min += requirement_.min_x;
                requirement_.selected_box.x_max += requirement_.min_x;
            }
            requirement_.min_x += r.min_x;
            requirement_.min_y = std::max(requirement_.min_y, r.min_y);
        }
    }

    void SetBox(Box box) override {
        Node::SetBox(box);
        std::vector<FlexItem> items;
        items.reserve(children_.size());
        for (const Element& child : children_) {
            const Requirement& r = child->requirement();
            items.push_back(FlexItem{r.min_x, r.flex_grow_x, r.flex_shrink_x, 0});
        }
        distribute_space(items, box.x_max - box.x_min + 1);
        int x = box.x_min;
        for (size_t i = 0; i < children_.size(); ++i) {
            Box child_box = box;
            child_box.x_min = x;
            child_box.x_max = x + items[i].size - 1;
            children_[i]->SetBox(child_box);
            x += items[i].size;
        }
    }
};

}  // namespace

Element hbox(Elements children) {
    return std::make_shared<HBox>(std::move(children));
}

}  // namespace tui
