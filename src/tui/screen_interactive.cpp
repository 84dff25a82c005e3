#include "tui/screen_interactive.h"

#include <curses.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>

#include "tui/curses_painter.h"
#include "tui/key_decoder.h"
#include "tui/screen.h"
#include "tui/terminal_session.h"

namespace tui {
namespace {

class HeldMouse : public CapturedMouseInterface {
  public:
    explicit HeldMouse(std::shared_ptr<bool> taken) : taken_(std::move(taken)) { *taken_ = true; }
    ~HeldMouse() override { *taken_ = false; }

  private:
    std::shared_ptr<bool> taken_;  // shared, so a capture may outlive the screen
};

// Sleeps until the terminal has input or the wake pipe a byte.
void wait_for_input(int wake_fd) {
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {wake_fd, POLLIN, 0}};
    while (poll(fds, 2, -1) < 0 && errno == EINTR) {
        if (TerminalSession::QuitRequested())
            return;
    }
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

bool ScreenInteractive::ReadTerminal(Component& component, TerminalSession& session) {
    bool any = false;
    for (;;) {
        wint_t code = 0;
        int status = get_wch(&code);
        if (status == ERR)
            return any;
        any = true;
        if (status == KEY_CODE_YES && code == KEY_RESIZE) {
            session.TakeResize();
            continue;
        }
        if (status == KEY_CODE_YES && code == KEY_MOUSE) {
            MEVENT report;
            if (getmouse(&report) != OK)
                continue;
            if (auto event = event_from_mouse(report.bstate, report.x, report.y))
                Dispatch(component, std::move(*event));
            continue;
        }
        if (auto event = event_from_key(status, static_cast<std::uint32_t>(code)))
            Dispatch(component, std::move(*event));
    }
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
    while (!TerminalSession::QuitRequested()) {
        Screen screen(session.width(), session.height());
        Render(screen, component->Render());
        painter.Paint(screen);

        wait_for_input(wake_read_);
        DrainWakePipe();
        if (TerminalSession::QuitRequested())
            break;
        session.TakeResize();
        ReadTerminal(component, session);
        DeliverPosted(component);
    }
}

}  // namespace tui
