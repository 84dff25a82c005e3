#pragma once

#include <memory>
#include <utility>
#include <vector>

#include "tui/component/captured_mouse.h"
#include "tui/component/event.h"
#include "tui/dom/node.h"

namespace tui {

class ComponentBase;
using Component = std::shared_ptr<ComponentBase>;
using Components = std::vector<Component>;

// A piece of the interface that renders itself and reacts to events. Components
// form a tree; each parent has one active child, and a component has the focus
// when it and every ancestor are active. Main thread only, including TakeFocus.
class ComponentBase {
  public:
    ComponentBase() = default;
    virtual ~ComponentBase();
    ComponentBase(const ComponentBase&) = delete;
    ComponentBase& operator=(const ComponentBase&) = delete;

    // The tree.
    void Add(Component child);
    void Detach();
    void DetachAllChildren();
    ComponentBase* Parent() const { return parent_; }
    size_t ChildCount() const { return children_.size(); }
    Component& ChildAt(size_t index) { return children_[index]; }

    // The element to draw; the base draws its only child, or nothing.
    virtual Element Render();
    // True when the event was used; the base offers it to the children in order.
    virtual bool OnEvent(Event event);
    // The child that holds the focus within this one; the base picks the first
    // focusable child.
    virtual Component ActiveChild();
    // Whether the focus can rest here; the base asks its children.
    virtual bool Focusable() const;
    // Makes `child` the active one; the base ignores it.
    virtual void SetActiveChild(ComponentBase* child);
    void SetActiveChild(const Component& child) { SetActiveChild(child.get()); }

    // Active in its parent (a root is always active).
    bool Active() const;
    // Active all the way up and focusable.
    bool Focused() const;
    // Makes this component and its ancestors active.
    void TakeFocus();

  protected:
    // The mouse for this component, or empty when another holds it.
    CapturedMouse CaptureMouse(const Event& event);

    Components children_;

  private:
    ComponentBase* parent_ = nullptr;
};

// Builds a component held by a shared pointer.
template <typename T, typename... Args>
std::shared_ptr<T> Make(Args&&... args) {
    return std::make_shared<T>(std::forward<Args>(args)...);
}

}  // namespace tui
