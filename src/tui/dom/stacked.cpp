#include "tui/dom/stacked.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "tui/dom/flex_layout.h"

namespace tui {
namespace {

class Stacked : public Node {
  public:
    Stacked(Elements children, const Axis& along, const Axis& across)
        : Node(std::move(children)), along_(along), across_(across) {}

    void ComputeRequirement() override {
        Node::ComputeRequirement();
        requirement_ = Requirement{};
        for (const Element& child : children_) {
            const Requirement& r = child->requirement();
            if (r.selection > requirement_.selection) {
                requirement_.selection = r.selection;
                requirement_.selected_box = r.selected_box;
                requirement_.selected_box.*along_.low += requirement_.*along_.min;
                requirement_.selected_box.*along_.high += requirement_.*along_.min;
            }
            requirement_.*along_.min += r.*along_.min;
            requirement_.*across_.min = std::max(requirement_.*across_.min, r.*across_.min);
        }
    }

    void SetBox(Box box) override {
        Node::SetBox(box);
        std::vector<FlexItem> items;
        items.reserve(children_.size());
        for (const Element& child : children_) {
            const Requirement& r = child->requirement();
            items.push_back(FlexItem{r.*along_.min, r.*along_.flex_grow, r.*along_.flex_shrink, 0});
        }
        distribute_space(items, box.*along_.high - box.*along_.low + 1);
        int position = box.*along_.low;
        for (size_t i = 0; i < children_.size(); ++i) {
            Box child_box = box;
            child_box.*along_.low = position;
            child_box.*along_.high = position + items[i].size - 1;
            children_[i]->SetBox(child_box);
            position += items[i].size;
        }
    }

  private:
    Axis along_;
    Axis across_;
};

}  // namespace

Element stacked(Elements children, const Axis& along, const Axis& across) {
    return std::make_shared<Stacked>(std::move(children), along, across);
}

}  // namespace tui
