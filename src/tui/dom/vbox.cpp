#include <utility>

#include "tui/dom/elements.h"
#include "tui/dom/stacked.h"

namespace tui {

Element vbox(Elements children) {
    return stacked(std::move(children), kVertical, kHorizontal);
}

}  // namespace tui
