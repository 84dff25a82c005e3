#include <utility>

#include "tui/dom/decorator_node.h"
#include "tui/dom/elements.h"

namespace tui {
namespace {

class Flex : public DecoratorNode {
  public:
    Flex(Element child, bool x, bool y) : DecoratorNode(std::move(child)), x_(x), y_(y) {}

    void ComputeRequirement() override {
        DecoratorNode::ComputeRequirement();
        if (x_)
            requirement_.flex_grow_x = requirement_.flex_shrink_x = 1;
        if (y_)
            requirement_.flex_grow_y = requirement_.flex_shrink_y = 1;
    }

  private:
    bool x_;
    bool y_;
};

class YShrink : public DecoratorNode {
  public:
    using DecoratorNode::DecoratorNode;

    void ComputeRequirement() override {
        DecoratorNode::ComputeRequirement();
        requirement_.flex_shrink_y = 1;
    }
};

// Draws nothing and takes whatever space is left.
class Filler : public Node {
  public:
    void ComputeRequirement() override {
        requirement_ = Requirement{};
        requirement_.flex_grow_x = requirement_.flex_grow_y = 1;
    }
};

}  // namespace

Element flex(Element child) {
    return std::make_shared<Flex>(std::move(child), true, true);
}

Element xflex(Element child) {
    return std::make_shared<Flex>(std::move(child), true, false);
}

Element yflex(Element child) {
    return std::make_shared<Flex>(std::move(child), false, true);
}

Element yflex_shrink(Element child) {
    return std::make_shared<YShrink>(std::move(child));
}

Element filler() {
    return std::make_shared<Filler>();
}

Element hcenter(Element child) {
    return hbox({filler(), std::move(child), filler()});
}

}  // namespace tui
