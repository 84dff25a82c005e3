#include <algorithm>
#include <utility>

#include "tui/dom/decorator_node.h"
#include "tui/dom/elements.h"

namespace tui {
namespace {

// The content keeps all columns but the last; the last shows which part of the
// content's height the surrounding frame lets through.
class VScrollIndicator : public DecoratorNode {
  public:
    using DecoratorNode::DecoratorNode;

    void ComputeRequirement() override {
        DecoratorNode::ComputeRequirement();
        requirement_.min_x += 1;
    }

    void SetBox(Box box) override {
        Node::SetBox(box);
        Box content = box;
        content.x_max -= 1;
        children_[0]->SetBox(content);
    }

    void Render(Screen& screen) override {
        children_[0]->Render(screen);
        int top = std::max(screen.stencil.y_min, box_.y_min);
        int bottom = std::min(screen.stencil.y_max, box_.y_max);
        int visible = bottom - top + 1;
        int total = box_.y_max - box_.y_min + 1;
        if (visible <= 0 || total <= 0 || box_.x_min > box_.x_max)
            return;
        int thumb_start = (top - box_.y_min) * visible / total;
        int thumb_size = std::max(1, (visible * visible + total - 1) / total);
        thumb_start = std::min(thumb_start, visible - thumb_size);
        for (int row = 0; row < visible; ++row) {
            bool thumb = row >= thumb_start && row < thumb_start + thumb_size;
            screen.at(box_.x_max, top + row) = thumb ? "┃" : " ";
        }
    }
};

}  // namespace

Element vscroll_indicator(Element child) {
    return std::make_shared<VScrollIndicator>(std::move(child));
}

}  // namespace tui
