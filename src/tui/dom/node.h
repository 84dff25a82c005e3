#pragma once

#include <memory>
#include <vector>

#include "tui/screen/box.h"
#include "tui/screen/screen.h"

namespace tui {

// What an element asks of the layout. Sizes in cells; the selected box is
// relative to the element's own top-left corner.
struct Requirement {
    enum Selection { NORMAL = 0, SELECTED = 1, FOCUSED = 2 };

    int min_x = 0;
    int min_y = 0;
    int flex_grow_x = 0;
    int flex_grow_y = 0;
    int flex_shrink_x = 0;
    int flex_shrink_y = 0;
    Selection selection = NORMAL;
    Box selected_box;
};

class Node;
using Element = std::shared_ptr<Node>;
using Elements = std::vector<Element>;

// An element of the layout tree. Elements are built, laid out and rendered on
// one thread, then dropped.
class Node {
  public:
    Node() = default;
    explicit Node(Elements children);
    virtual ~Node() = default;
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    // Computes the children's requirements, then this element's.
    virtual void ComputeRequirement();
    // Places the element; the base stores the box.
    virtual void SetBox(Box box);
    // Draws into the screen; the base draws the children.
    virtual void Render(Screen& screen);

    const Requirement& requirement() const { return requirement_; }
    const Box& box() const { return box_; }

  protected:
    Elements children_;
    Requirement requirement_;
    Box box_;
};

// Lays the element out over the whole screen and draws it.
void Render(Screen& screen, const Element& element);

}  // namespace tui
