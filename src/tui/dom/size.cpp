#include <algorithm>
#include <utility>

#include "tui/dom/decorator_node.h"
#include "tui/dom/elements.h"

namespace tui {
namespace {

class Size : public DecoratorNode {
  public:
    Size(Element child, WidthOrHeight direction, Constraint constraint, int value)
        : DecoratorNode(std::move(child)),
          direction_(direction),
          constraint_(constraint),
          value_(std::max(value, 0)) {}

    void ComputeRequirement() override {
        DecoratorNode::ComputeRequirement();
        bool width = direction_ == WIDTH;
        int& min = width ? requirement_.min_x : requirement_.min_y;
        int& grow = width ? requirement_.flex_grow_x : requirement_.flex_grow_y;
        int& shrink = width ? requirement_.flex_shrink_x : requirement_.flex_shrink_y;
        switch (constraint_) {
            case EQUAL:
                min = value_;
                grow = 0;
                shrink = 0;
                break;
            case LESS_THAN:
                min = std::min(min, value_);
                grow = 0;
                break;
            case GREATER_THAN:
                min = std::max(min, value_);
                shrink = 0;
                break;
        }
    }

    void SetBox(Box box) override {
        if (constraint_ != GREATER_THAN) {
            if (direction_ == WIDTH)
                box.x_max = std::min(box.x_max, box.x_min + value_ - 1);
            else
                box.y_max = std::min(box.y_max, box.y_min + value_ - 1);
        }
        DecoratorNode::SetBox(box);
    }

  private:
    WidthOrHeight direction_;
    Constraint constraint_;
    int value_;
};

}  // namespace

Decorator size(WidthOrHeight direction, Constraint constraint, int value) {
    return [=](Element child) {
        return std::make_shared<Size>(std::move(child), direction, constraint, value);
    };
}

}  // namespace tui
