#include <csignal>
#include <exception>
#include <iostream>
#include <memory>

#include "App.h"
#include "audio/PlaybackDevice.h"
#include "program_folder.h"
#include "tui/component/terminal_session.h"

int main(int argc, char** argv) {
    // A write to a closed pipe (the greeting, with the output piped to a
    // reader that has gone) fails with EPIPE; the signal must not end the
    // program. Set before the ending signals are caught, which then leave it
    // alone.
    std::signal(SIGPIPE, SIG_IGN);
    std::cout << "hi!" << std::endl;
    // Refused before the screen opens, so that the line stays on the terminal.
    if (const auto period = audio::period_from_environment(); !period.refusal.empty()) {
        std::cout << period.refusal << std::endl;
        return 1;
    }
    // Drawing on a file or on a terminal that cannot place the cursor would
    // run blind: refused before anything starts.
    if (const std::string refusal = tui::TerminalRefusal(); !refusal.empty()) {
        std::cerr << "error: " << refusal << std::endl;
        return 1;
    }
    // The base folder is where the program lies, as it was invoked.
    const std::string base_folder = base_folder_for(argc > 0 && argv[0] ? argv[0] : "");

    int status = 0;
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
        // At the file-size limit a write fails with EFBIG, which saving and
        // recording report; the signal must not end the program. Set after
        // the scope, which would take it as a crash.
        std::signal(SIGXFSZ, SIG_IGN);
        try {
            app->run();
        } catch (const std::exception& error) {
            // A terminal the screen cannot use, say: scripts must see the failure.
            std::cout << "error: " << error.what() << std::endl;
            status = 1;
        }
        app.reset();
    }
    return status;
}
