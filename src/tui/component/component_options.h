#pragma once

#include <functional>

#include "tui/component/ref.h"

namespace tui {

// Options of a text input line.
struct InputOption {
    std::function<void()> on_change = [] {};  // after every change of the text
    std::function<void()> on_enter = [] {};   // on Return
    Ref<bool> password = false;               // show bullets instead of the text
    Ref<int> cursor_position = -1;            // -1: the input keeps its own cursor
};

// Options of a check box.
struct CheckboxOption {
    std::function<void()> on_change = [] {};  // after the bound flag has flipped
};

}  // namespace tui
