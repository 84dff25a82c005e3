#include <exception>
#include <iostream>
#include <memory>

#include "App.h"
#include "audio/PlaybackDevice.h"
#include "string_utils.h"
#include "tui/terminal_session.h"

int main(int argc, char** argv) {
    std::cout << "hi!" << std::endl;
    // Refused before the screen opens, so that the line stays on the terminal.
    if (const auto period = audio::period_from_environment(); !period.refusal.empty()) {
        std::cout << period.refusal << std::endl;
        return 1;
    }
    // The base folder is where the program lies, as it was invoked: "" for a
    // bare name, which makes every path start at "/".
    const std::string program = argc > 0 && argv[0] ? argv[0] : "";
    const std::string base_folder = get_extension(program).directory;

    std::unique_ptr<App> app;
    try {
        app = std::make_unique<App>(base_folder);
    } catch (const std::exception& error) {
        std::cout << "error: " << error.what() << std::endl;
        return 1;
    }
    {
        // Held until the App is gone: a signal that comes while the screen
        // closes (the shell's hang-up after the terminal's) must not cut off
        // the end of a recording or the stop of the audio thread.
        tui::SignalScope ending_signals;
        try {
            app->run();
        } catch (const std::exception& error) {
            std::cout << "error: " << error.what() << std::endl;
        }
        app.reset();
    }
    return 0;
}
