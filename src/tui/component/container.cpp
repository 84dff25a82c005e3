#include <algorithm>
#include <utility>

#include "tui/component/component.h"

namespace tui {
namespace {

// Holds the focus on one child at a time and moves it between the focusable
// ones with the keys of its direction.
class ContainerBase : public ComponentBase {
  public:
    ContainerBase(Components children, bool vertical) : vertical_(vertical) {
        for (Component& child : children)
            Add(std::move(child));
    }

    Element Render() override {
        Elements rows;
        for (const Component& child : children_)
            rows.push_back(child->Render());
        return vertical_ ? vbox(std::move(rows)) : hbox(std::move(rows));
    }

    bool OnEvent(Event event) override {
        if (event.is_mouse()) {
            for (const Component& child : children_)
                if (child->OnEvent(event))
                    return true;
            return false;
        }
        Component active = ActiveChild();
        if (active && active->OnEvent(event))
            return true;
        if (event == (vertical_ ? Event::ArrowUp : Event::ArrowLeft))
            return Move(-1, false);
        if (event == (vertical_ ? Event::ArrowDown : Event::ArrowRight))
            return Move(+1, false);
        if (event == Event::Tab)
            return Move(+1, true);
        if (event == Event::TabReverse)
            return Move(-1, true);
        return false;
    }

    Component ActiveChild() override {
        if (children_.empty())
            return nullptr;
        return children_[ActiveIndex()];
    }

    void SetActiveChild(ComponentBase* child) override {
        for (size_t i = 0; i < children_.size(); ++i)
            if (children_[i].get() == child)
                selected_ = i;
    }

  private:
    // The selected child, or the first focusable one when the selected one cannot
    // hold the focus.
    size_t ActiveIndex() {
        size_t index = std::min(selected_, children_.size() - 1);
        if (children_[index]->Focusable())
            return index;
        for (size_t i = 0; i < children_.size(); ++i)
            if (children_[i]->Focusable())
                return i;
        return index;
    }

    // Moves to the next focusable child in `direction`; true when it moved.
    bool Move(int direction, bool wrap) {
        int count = static_cast<int>(children_.size());
        if (count == 0)
            return false;
        int current = static_cast<int>(ActiveIndex());
        for (int step = 1; step < count; ++step) {
            int index = current + direction * step;
            if (wrap)
                index = ((index % count) + count) % count;
            else if (index < 0 || index >= count)
                return false;
            if (children_[index]->Focusable()) {
                selected_ = static_cast<size_t>(index);
                return true;
            }
        }
        return false;
    }

    bool vertical_;
    size_t selected_ = 0;
};

}  // namespace

namespace Container {

Component Vertical(Components children) {
    return Make<ContainerBase>(std::move(children), true);
}

Component Horizontal(Components children) {
    return Make<ContainerBase>(std::move(children), false);
}

}  // namespace Container
}  // namespace tui
