#pragma once

#include <termios.h>
#include <csignal>

#include <string>

namespace tui {

// Why the terminal on standard output cannot take a full-screen program, or
// "" when it can: output that is no terminal, a TERM unknown to terminfo, or
// a terminal that cannot move the cursor (TERM=dumb). Changes nothing. Main
// thread, while no TerminalSession is open.
std::string TerminalRefusal();

// Catches, for its lifetime, every signal that would end the program. Ctrl-C,
// Ctrl-\, SIGTERM and SIGHUP only ask the loop to end (and wake it through
// the open TerminalSession), and so do SIGUSR1, SIGUSR2 and SIGALRM unless
// someone else has claimed them; any other signal whose default ends the program
// (a crash, even a stack overflow, which the handlers survive on a stack of
// their own) gives the terminal back and then takes its default course.
// Scopes nest: only the outermost installs the handlers and puts the old ones
// back, so a program that holds one past its screen keeps the ending signals
// caught until its shut-down is complete. Main thread only.
class SignalScope {
  public:
    SignalScope();
    ~SignalScope();
    SignalScope(const SignalScope&) = delete;
    SignalScope& operator=(const SignalScope&) = delete;

    // True once an ending signal has arrived in the outermost scope.
    static bool QuitRequested();
};

// Owns the terminal through ncurses for its lifetime: alternate screen, keys
// without echo, mouse, colours. The mouse mode reaches the terminal after
// ncurses' set-up and ends before ncurses gives the terminal back, on Ctrl-Z
// too. Ending signals ask the loop to end and a resize asks it to redraw, both
// by a byte on `wake_fd`; a fatal signal restores the terminal first (see
// SignalScope). The destructor gives the terminal back as it was. Main thread
// only; one at a time.
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
    // Gives the terminal back and stops waking the descriptor.
    void release();

    SignalScope signals_;  // first in, last out: caught while the terminal is ours
    std::string old_ctype_;
    struct sigaction old_resize_action_;
    struct termios saved_termios_;
    bool have_termios_ = false;
    bool mouse_ = false;
    bool suspend_wrapped_ = false;  // ncurses' Ctrl-Z handler also ends and resumes the mouse
    void* screen_ = nullptr;        // ncurses' SCREEN
};

}  // namespace tui
