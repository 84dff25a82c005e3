#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "tui/component/captured_mouse.h"
#include "tui/component/component_base.h"
#include "tui/component/event.h"
#include "tui/component/key_decoder.h"

namespace tui {

// The full-screen interactive loop. The loop, the rendering and every event
// handler run on the thread that calls Loop; other threads only post events.
class ScreenInteractive : public MouseCapturer {
  public:
    // A loop that draws over the whole terminal. Main thread.
    static ScreenInteractive Fullscreen();
    ~ScreenInteractive() override;
    ScreenInteractive(const ScreenInteractive&) = delete;
    ScreenInteractive& operator=(const ScreenInteractive&) = delete;

    // Takes the terminal, then handles input and posted events and redraws
    // after each batch, until an ending signal (Ctrl-C, Ctrl-\, SIGTERM,
    // SIGHUP, SIGUSR1, SIGUSR2, SIGALRM) arrives or the input ends (end of
    // file, the terminal gone). A terminal it cannot draw on (see
    // TerminalRefusal) throws std::runtime_error before anything is drawn. The
    // terminal is given back on every way out, exceptions from the components
    // included. Main thread.
    void Loop(Component component);

    // Queues an event for the loop and wakes it. Any thread; never blocks on the
    // loop's work. Custom events that arrive before the loop wakes are delivered
    // once, so posting them never allocates.
    void PostEvent(Event event);

    // Main thread (components call it while handling a mouse event).
    CapturedMouse CaptureMouse() override;

  private:
    ScreenInteractive();
    void Dispatch(Component& component, Event event);
    void DrainWakePipe();
    // Decodes what the terminal sent and dispatches it; notes the end of input.
    bool ReadTerminal(Component& component, short input_events);
    void DeliverPosted(Component& component);

    int wake_read_ = -1;
    int wake_write_ = -1;
    std::mutex posted_mutex_;
    std::vector<Event> posted_;
    std::atomic<bool> custom_pending_{false};
    std::shared_ptr<bool> mouse_taken_ = std::make_shared<bool>(false);
    InputDecoder decoder_;
    bool input_ended_ = false;
};

}  // namespace tui
