#include <utility>

#include "tui/dom/elements.h"
#include "tui/dom/stacked.h"

namespace tui {

Element hbox(Elements children) {
    return stacked(std::move(children), kHorizontal, kVertical);
}

}  // namespace tui
