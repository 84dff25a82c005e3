#include <utility>

#include "tui/dom/decorator_node.h"
#include "tui/dom/elements.h"

namespace tui {
namespace {

class Selection : public DecoratorNode {
  public:
    Selection(Element child, Requirement::Selection level)
        : DecoratorNode(std::move(child)), level_(level) {}

    void ComputeRequirement() override {
        DecoratorNode::ComputeRequirement();
        requirement_.selection = level_;
        requirement_.selected_box = Box{0, requirement_.min_x - 1, 0, requirement_.min_y - 1};
    }

  private:
    Requirement::Selection level_;
};

}  // namespace

Element focus(Element child) {
    return std::make_shared<Selection>(std::move(child), Requirement::FOCUSED);
}

Element select(Element child) {
    return std::make_shared<Selection>(std::move(child), Requirement::SELECTED);
}

}  // namespace tui
