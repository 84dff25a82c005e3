#pragma once

#include <termios.h>
#include <csignal>

#include <string>

namespace tui {

// Owns the terminal through ncurses for its lifetime: alternate screen, keys
// without echo, mouse, colours. Ctrl-C, SIGTERM and SIGHUP ask the loop to
// end and a resize asks it to redraw, both by a byte on `wake_fd`; a fatal
// signal restores the terminal and then takes its default course. The
// destructor gives the terminal back as it was. Main thread only; one at a time.
class TerminalSession {
  public:
    explicit TerminalSession(int wake_fd);
    ~TerminalSession();
    TerminalSession(const TerminalSession&) = delete;
    TerminalSession& operator=(const TerminalSession&) = delete;

    int width() const;
    int height() const;

    // True once an ending signal has arrived.
    static bool QuitRequested();
    // True when the terminal was resized since the last call; ncurses then
    // takes the new size.
    bool TakeResize();

  private:
    void use_utf8_ctype();

    std::string old_ctype_;
    struct sigaction old_actions_[9];
    struct termios saved_termios_;
    bool have_termios_ = false;
    bool mouse_ = false;
    void* screen_ = nullptr;  // ncurses' SCREEN
};

}  // namespace tui
