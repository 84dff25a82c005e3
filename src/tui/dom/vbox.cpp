#include <algorithm>
#include <utility>

#include "tui/dom/elements.h"
#include "tui/dom/flex_layout.h"

namespace tui {
namespace {

class VBox : public Node {
  public:
    explicit VBox(Elements children) : Node(std::move(children)) {}

    void ComputeRequirement() override {
        Node::ComputeRequirement();
        requirement_ = Requirement{};
        for (const Element& child : children_) {
            const Requirement& r = child->requirement();
            if (r.selection > requirement_.selection) {
                requirement_.selection = r.selection;
                requirement_.selected_box = r.selected_box;
                requirement_.selected_box.y_min += requirement_.min_y;
                requirement_.selected_box.y_max += requirement_.min_y;
            }
            requirement_.min_y += r.min_y;
            requirement_.min_x = std::max(requirement_.min_x, r.min_x);
        }
    }

    void SetBox(Box box) override {
        Node::SetBox(box);
        std::vector<FlexItem> items;
        items.reserve(children_.size());
        for (const Element& child : children_) {
            const Requirement& r = child->requirement();
            items.push_back(FlexItem{r.min_y, r.flex_grow_y, r.flex_shrink_y, 0});
        }
        distribute_space(items, box.y_max - box.y_min + 1);
        int y = box.y_min;
        for (size_t i = 0; i < children_.size(); ++i) {
            Box child_box = box;
            child_box.y_min = y;
            child_box.y_max = y + items[i].size - 1;
            children_[i]->SetBox(child_box);
            y += items[i].size;
        }
    }
};

}  // namespace

Element vbox(Elements children) {
    return std::make_shared<VBox>(std::move(children));
}

}  // namespace tui
