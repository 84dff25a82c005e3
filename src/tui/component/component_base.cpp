#include "tui/component/component_base.h"

#include <algorithm>

#include "tui/dom/elements.h"

namespace tui {
namespace {

// Stands for the mouse when no loop delivers the event (tests, off-screen use).
class FreeMouse : public CapturedMouseInterface {};

}  // namespace

ComponentBase::~ComponentBase() {
    DetachAllChildren();
}

void ComponentBase::Add(Component child) {
    child->Detach();
    child->parent_ = this;
    children_.push_back(std::move(child));
}

void ComponentBase::Detach() {
    if (parent_ == nullptr)
        return;
    auto& siblings = parent_->children_;
    auto it = std::find_if(siblings.begin(), siblings.end(),
                           [this](const Component& c) { return c.get() == this; });
    parent_ = nullptr;
    if (it != siblings.end())
        siblings.erase(it);  // may drop the last owner of this component: touch nothing after
}

void ComponentBase::DetachAllChildren() {
    for (const Component& child : children_)
        child->parent_ = nullptr;
    children_.clear();
}

Element ComponentBase::Render() {
    if (children_.size() == 1)
        return children_.front()->Render();
    return text("");
}

bool ComponentBase::OnEvent(Event event) {
    for (const Component& child : children_)
        if (child->OnEvent(event))
            return true;
    return false;
}

Component ComponentBase::ActiveChild() {
    for (const Component& child : children_)
        if (child->Focusable())
            return child;
    return nullptr;
}

bool ComponentBase::Focusable() const {
    return std::any_of(children_.begin(), children_.end(),
                       [](const Component& c) { return c->Focusable(); });
}

void ComponentBase::SetActiveChild(ComponentBase*) {}

bool ComponentBase::Active() const {
    return parent_ == nullptr || parent_->ActiveChild().get() == this;
}

bool ComponentBase::Focused() const {
    for (const ComponentBase* node = this; node != nullptr; node = node->parent_)
        if (!node->Active())
            return false;
    return Focusable();
}

void ComponentBase::TakeFocus() {
    ComponentBase* child = this;
    for (ComponentBase* parent = parent_; parent != nullptr; parent = parent->parent_) {
        parent->SetActiveChild(child);
        child = parent;
    }
}

CapturedMouse ComponentBase::CaptureMouse(const Event& event) {
    if (event.capturer != nullptr)
        return event.capturer->CaptureMouse();
    return std::make_unique<FreeMouse>();
}

}  // namespace tui
