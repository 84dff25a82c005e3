#include "tui/component/screen_interactive.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>

#include "tui/component/curses_painter.h"
#include "tui/component/key_decoder.h"
#include "tui/component/terminal_session.h"
#include "tui/screen/screen.h"

namespace tui {
namespace {

class HeldMouse : public CapturedMouseInterface {
  public:
    explicit HeldMouse(std::shared_ptr<bool> taken) : taken_(std::move(taken)) { *taken_ = true; }
    ~HeldMouse() override { *taken_ = false; }

  private:
    std::shared_ptr<bool> taken_;  // shared, so a capture may outlive the screen
};

// How long the rest of an escape sequence may take to arrive before what came
// is taken as it is (a lone ESC is the Escape key).
constexpr int kEscapeWaitMs = 25;

// Sleeps until the terminal has input, the wake pipe a byte, or `timeout_ms`
// (-1: no limit) has passed. Returns the terminal's poll events.
short wait_for_input(int wake_fd, int timeout_ms) {
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {wake_fd, POLLIN, 0}};
    while (poll(fds, 2, timeout_ms) < 0) {
        if (errno != EINTR || TerminalSession::QuitRequested())
            return 0;
    }
    return fds[0].revents;
}

}  // namespace

ScreenInteractive ScreenInteractive::Fullscreen() {
    return ScreenInteractive();
}

ScreenInteractive::ScreenInteractive() {
    int fds[2];
    if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0)
        throw std::system_error(errno, std::generic_category(), "wake pipe");
    wake_read_ = fds[0];
    wake_write_ = fds[1];
    posted_.reserve(64);
}

ScreenInteractive::~ScreenInteractive() {
    close(wake_read_);
    close(wake_write_);
}

void ScreenInteractive::PostEvent(Event event) {
    if (event == Event::Custom) {
        if (custom_pending_.exchange(true))
            return;  // a wake-up is already on its way
    } else {
        std::lock_guard<std::mutex> lock(posted_mutex_);
        posted_.push_back(std::move(event));
    }
    char byte = 'e';
    // A full pipe already holds a wake-up; nothing is lost when this write fails.
    [[maybe_unused]] ssize_t ignored = write(wake_write_, &byte, 1);
}

CapturedMouse ScreenInteractive::CaptureMouse() {
    if (*mouse_taken_)
        return nullptr;
    return std::make_unique<HeldMouse>(mouse_taken_);
}

void ScreenInteractive::Dispatch(Component& component, Event event) {
    event.capturer = this;
    component->OnEvent(std::move(event));
}

void ScreenInteractive::DrainWakePipe() {
    char buffer[256];
    while (read(wake_read_, buffer, sizeof buffer) > 0) {
    }
}

bool ScreenInteractive::ReadTerminal(Component& component, short input_events) {
    std::vector<Event> events;
    if (input_events & POLLIN) {
        char buffer[4096];
        // The terminal reads at least one byte per read, so after poll this
        // one does not block.
        const ssize_t count = read(STDIN_FILENO, buffer, sizeof buffer);
        if (count > 0) {
            decoder_.Feed(std::string_view(buffer, static_cast<std::size_t>(count)), events);
        } else if (count == 0 || (errno != EINTR && errno != EAGAIN)) {
            input_ended_ = true;  // end of input, or the terminal went away
        }
    } else if (input_events & (POLLHUP | POLLERR | POLLNVAL)) {
        input_ended_ = true;
    } else if (decoder_.Pending()) {
        decoder_.Flush(events);  // the rest of the sequence did not come
    }
    for (Event& event : events)
        Dispatch(component, std::move(event));
    return !events.empty();
}

void ScreenInteractive::DeliverPosted(Component& component) {
    std::vector<Event> batch;
    batch.reserve(64);
    {
        std::lock_guard<std::mutex> lock(posted_mutex_);
        batch.swap(posted_);
    }
    for (Event& event : batch)
        Dispatch(component, std::move(event));
    if (custom_pending_.exchange(false))
        Dispatch(component, Event::Custom);
}

void ScreenInteractive::Loop(Component component) {
    TerminalSession session(wake_write_);
    CursesPainter painter;
    input_ended_ = false;
    decoder_ = InputDecoder();
    while (!TerminalSession::QuitRequested() && !input_ended_) {
        Screen screen(session.width(), session.height());
        Render(screen, component->Render());
        painter.Paint(screen);

        const short input_events =
            wait_for_input(wake_read_, decoder_.Pending() ? kEscapeWaitMs : -1);
        DrainWakePipe();
        if (TerminalSession::QuitRequested())
            break;
        session.TakeResize();
        ReadTerminal(component, input_events);
        DeliverPosted(component);
    }
}

}  // namespace tui
