#pragma once

#include <atomic>
#include <functional>

#include "tui/component/component_base.h"
#include "tui/component/component_options.h"
#include "tui/component/ref.h"
#include "tui/dom/elements.h"

namespace tui {

// Factories for the terminal layer's components. Build and use them on the main thread.

namespace Container {
// Children one above the other; ArrowUp/ArrowDown and Tab/TabReverse move the
// focus between the focusable ones.
Component Vertical(Components children);
// Children side by side; ArrowLeft/ArrowRight and Tab/TabReverse move the focus.
Component Horizontal(Components children);
}  // namespace Container

// Draws with `render`; without a child it takes no focus, with one the events
// and the focus go to the child.
Component Renderer(std::function<Element()> render);
Component Renderer(Component child, std::function<Element()> render);

// `on_event` sees every event first; what it does not use goes to the child.
Component CatchEvent(Component child, std::function<bool(Event)> on_event);

// "[X] label" over a flag; Return, space and a left click flip it, then
// `option.on_change` runs.
Component Checkbox(ConstStringRef label, bool* checked, CheckboxOption option = {});

// A labelled bar over a number between `min` and `max`; ArrowLeft/ArrowRight
// move it by `increment`, a left click or drag sets it. The value is stored at
// once, so an atomic may be read by another thread while the slider moves.
Component Slider(ConstStringRef label, std::atomic<int>* value, int min, int max, int increment);
Component Slider(ConstStringRef label, std::atomic<float>* value, float min, float max,
                 float increment);
Component Slider(ConstStringRef label, int* value, int min, int max, int increment);
Component Slider(ConstStringRef label, float* value, float min, float max, float increment);

}  // namespace tui
