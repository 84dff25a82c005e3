#include <utility>

#include "tui/component/component.h"

namespace tui {
namespace {

class RendererBase : public ComponentBase {
  public:
    explicit RendererBase(std::function<Element()> render) : render_(std::move(render)) {}
    Element Render() override { return render_(); }

  private:
    std::function<Element()> render_;
};

class CatchEventBase : public ComponentBase {
  public:
    explicit CatchEventBase(std::function<bool(Event)> on_event) : on_event_(std::move(on_event)) {}

    bool OnEvent(Event event) override {
        if (on_event_(event))
            return true;
        return ComponentBase::OnEvent(std::move(event));
    }

  private:
    std::function<bool(Event)> on_event_;
};

}  // namespace

Component Renderer(std::function<Element()> render) {
    return Make<RendererBase>(std::move(render));
}

Component Renderer(Component child, std::function<Element()> render) {
    auto renderer = Make<RendererBase>(std::move(render));
    renderer->Add(std::move(child));
    return renderer;
}

Component CatchEvent(Component child, std::function<bool(Event)> on_event) {
    auto catcher = Make<CatchEventBase>(std::move(on_event));
    catcher->Add(std::move(child));
    return catcher;
}

}  // namespace tui
