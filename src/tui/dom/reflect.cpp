#include <utility>

#include "tui/dom/decorator_node.h"
#include "tui/dom/elements.h"

namespace tui {
namespace {

class Reflect : public DecoratorNode {
  public:
    Reflect(Element child, Box& target) : DecoratorNode(std::move(child)), target_(target) {}

    void SetBox(Box box) override {
        DecoratorNode::SetBox(box);
        target_ = box;
    }

    void Render(Screen& screen) override {
        // Only the visible part counts, so that mouse hits outside a frame's view miss.
        target_ = Box::Intersection(box_, screen.stencil);
        DecoratorNode::Render(screen);
    }

  private:
    Box& target_;
};

}  // namespace

Decorator reflect(Box& box) {
    return [&box](Element child) { return std::make_shared<Reflect>(std::move(child), box); };
}

}  // namespace tui
