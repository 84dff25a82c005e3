#pragma once

#include <utility>

#include "tui/dom/node.h"

namespace tui {

// An element with one child that takes over the child's requirement and box;
// decorators derive from it and change what they need.
class DecoratorNode : public Node {
  public:
    explicit DecoratorNode(Element child) : Node(Elements{std::move(child)}) {}

    void ComputeRequirement() override {
        Node::ComputeRequirement();
        requirement_ = children_[0]->requirement();
    }

    void SetBox(Box box) override {
        Node::SetBox(box);
        children_[0]->SetBox(box);
    }
};

}  // namespace tui
