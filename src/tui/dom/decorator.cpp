#include <utility>

#include "tui/dom/elements.h"

namespace tui {

Element operator|(Element element, Decorator decorator) {
    return decorator(std::move(element));
}

Element& operator|=(Element& element, Decorator decorator) {
    element = decorator(std::move(element));
    return element;
}

Decorator operator|(Decorator first, Decorator second) {
    return [first = std::move(first), second = std::move(second)](Element element) {
        return second(first(std::move(element)));
    };
}

Element nothing(Element child) {
    return child;
}

}  // namespace tui
