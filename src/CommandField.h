#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tui/component/component.h"
#include "tui/component/component_options.h"
#include "tui/component/event.h"
#include "tui/dom/elements.h"

class App;

// The command field's state and its key handlers; lives as long as the loop of
// App::run. Main thread.
class CommandField {
  public:
    explicit CommandField(App& app);

    // Return: runs the line; shows its result in the output area, or its
    // error under the field.
    void on_enter();
    // History keys, Tab and Shift-Tab; true when the event was used here.
    bool on_key(const tui::Event& event);

    std::wstring command_text;
    std::wstring status_text;
    tui::Decorator status_style;
    std::vector<std::wstring> history;
    std::size_t history_index = 0;
    tui::InputOption command_option;
    tui::Component command_input;
    tui::Component play_checkbox;
    tui::Component volume_slider;

  private:
    App& app;
};
