// A small window driven by the end-to-end tests: a check box and the input
// line in a frame, a line that shows what Return took, and a counter that a
// second thread raises and announces with a posted event.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "custom_input.h"
#include "tui/component/screen_interactive.h"
#include "window_frame.h"

using namespace tui;

int main() {
    bool loud = false;
    int toggles = 0;
    std::wstring typed;
    std::wstring entered;
    std::atomic<int> ticks{0};

    InputOption input_option;
    input_option.on_enter = [&] {
        entered = typed;
        typed.clear();
    };
    CheckboxOption checkbox_option;
    checkbox_option.on_change = [&] { ++toggles; };

    Component checkbox = Checkbox("Loud", &loud, checkbox_option);
    Component input = custom_Input(&typed, "", &input_option);
    Component body = Container::Vertical({checkbox, input});
    Component view = Renderer(body, [&] {
        return vbox({
            checkbox->Render(),
            input->Render(),
            text(L"entered: " + entered),
            text("toggles: " + std::to_string(toggles)),
            text("ticks: " + std::to_string(ticks.load())),
        });
    });
    Component window = Window(L"Demo", view, -1);

    auto screen = ScreenInteractive::Fullscreen();

    std::mutex stop_mutex;
    std::condition_variable stop_signal;
    bool stop = false;
    std::thread ticker([&] {
        std::unique_lock<std::mutex> lock(stop_mutex);
        while (!stop_signal.wait_for(lock, std::chrono::milliseconds(300), [&] { return stop; })) {
            ticks++;
            screen.PostEvent(Event::Custom);
        }
    });

    input->TakeFocus();
    screen.Loop(window);

    {
        std::lock_guard<std::mutex> lock(stop_mutex);
        stop = true;
    }
    stop_signal.notify_one();
    ticker.join();
    return 0;
}
