#pragma once

#include <cstdint>
#include <optional>

#include "tui/event.h"

namespace tui {

// The event for one result of ncurses' get_wch: `status` is its return value
// (OK for a character, KEY_CODE_YES for a key code), `code` what it stored.
// Empty for input that means nothing to the components (KEY_MOUSE and
// KEY_RESIZE are read separately). Pure; any thread.
std::optional<Event> event_from_key(int status, std::uint32_t code);

// The event for one ncurses mouse report (MEVENT's bstate, x and y). Empty for
// reports that carry no button, wheel or motion. Pure; any thread.
std::optional<Event> event_from_mouse(std::uint64_t button_state, int x, int y);

}  // namespace tui
