#include "CommandField.h"

#include "App.h"
#include "custom_input.h"
#include "tui/screen/unicode.h"

CommandField::CommandField(App& app)
    : status_style(tui::bgcolor(tui::Color::Default)),
      command_input(custom_Input(&command_text, "", &command_option)),
      app(app) {}

void CommandField::on_enter() {
    const InputError result = app.input_parser->parse(tui::to_string(command_text));
    if (result) {
        // The line stays for mending; queued lines wait for the next accepted one.
        status_text = tui::to_wstring(result.message);
        status_style = tui::color(tui::Color::Red);
        return;
    }
    app.show_accepted_command(command_text, result.message);
    history.push_back(command_text);
    command_text.clear();
    status_text.clear();
    status_style = tui::bgcolor(tui::Color::Default);
    history_index = history.size();
}

bool CommandField::on_key(const tui::Event& event) {
    if (event == tui::Event::ArrowUp || event == tui::Event::ArrowDown) {
        // Positions 0 .. n-1 are the entries, n the empty slot after the newest.
        const std::size_t n = history.size();
        history_index = event == tui::Event::ArrowUp ? (history_index + n) % (n + 1)
                                                     : (history_index + n + 2) % (n + 1);
        command_text = history_index == n ? std::wstring() : history[history_index];
        command_option.cursor_position = static_cast<int>(command_text.size());
        return true;
    }
    if (event == tui::Event::Tab) {
        play_checkbox->TakeFocus();
        return true;
    }
    if (event == tui::Event::TabReverse) {
        volume_slider->TakeFocus();
        return true;
    }
    return false;  // the command field itself takes it from here
}
