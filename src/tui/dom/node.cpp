#include "tui/dom/node.h"

#include <utility>

namespace tui {

Node::Node(Elements children) : children_(std::move(children)) {}

void Node::ComputeRequirement() {
    for (const Element& child : children_)
        child->ComputeRequirement();
}

void Node::SetBox(Box box) {
    box_ = box;
}

void Node::Render(Screen& screen) {
    for (const Element& child : children_)
        child->Render(screen);
}

void Render(Screen& screen, const Element& element) {
    Box whole{0, screen.dimx() - 1, 0, screen.dimy() - 1};
    element->ComputeRequirement();
    element->SetBox(whole);
    screen.stencil = whole;
    element->Render(screen);
}

}  // namespace tui
