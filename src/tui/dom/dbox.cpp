#include <algorithm>
#include <utility>

#include "tui/dom/elements.h"

namespace tui {
namespace {

class DBox : public Node {
  public:
    explicit DBox(Elements children) : Node(std::move(children)) {}

    void ComputeRequirement() override {
        Node::ComputeRequirement();
        requirement_ = Requirement{};
        for (const Element& child : children_) {
            const Requirement& r = child->requirement();
            requirement_.min_x = std::max(requirement_.min_x, r.min_x);
            requirement_.min_y = std::max(requirement_.min_y, r.min_y);
            requirement_.flex_grow_x = std::max(requirement_.flex_grow_x, r.flex_grow_x);
            requirement_.flex_grow_y = std::max(requirement_.flex_grow_y, r.flex_grow_y);
            requirement_.flex_shrink_x = std::max(requirement_.flex_shrink_x, r.flex_shrink_x);
            requirement_.flex_shrink_y = std::max(requirement_.flex_shrink_y, r.flex_shrink_y);
            if (r.selection > requirement_.selection) {
                requirement_.selection = r.selection;
                requirement_.selected_box = r.selected_box;
            }
        }
    }

    void SetBox(Box box) override {
        Node::SetBox(box);
        for (const Element& child : children_)
            child->SetBox(box);
    }
};

}  // namespace

Element dbox(Elements children) {
    return std::make_shared<DBox>(std::move(children));
}

}  // namespace tui
