#include "tui/component/terminal_session.h"

#include <curses.h>
#include <langinfo.h>
#include <locale.h>
#include <sys/ioctl.h>
#include <term.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

namespace tui {
namespace {

// Ask the loop to end: the program then shuts down in order.
constexpr int ending_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
// Crashes: the terminal is restored, then the signal takes its course.
constexpr int fatal_signals[] = {SIGSEGV, SIGABRT, SIGBUS,  SIGFPE, SIGILL,
                                 SIGTRAP, SIGSYS,  SIGXCPU, SIGXFSZ};
// Signals whose default also ends the program; taken over only while nobody
// else (a library, or the parent that made them ignored) has claimed them.
// Those a user sends by hand (kill -USR1, an alarm) end the loop in order, as
// SIGTERM does; the others are handled as crashes.
constexpr int unclaimed_ending_signals[] = {SIGALRM, SIGUSR1, SIGUSR2};
constexpr int unclaimed_fatal_signals[] = {SIGPIPE, SIGVTALRM, SIGPROF, SIGIO, SIGPWR, SIGSTKFLT};

// Shared with the signal handlers, which may only touch plain flags and fds.
volatile sig_atomic_t quit_flag = 0;
volatile sig_atomic_t resize_flag = 0;
volatile sig_atomic_t wake_fd = -1;
volatile sig_atomic_t termios_saved = 0;
struct termios original_termios;
char restore_bytes[512];
volatile sig_atomic_t restore_length = 0;

// The outermost scope's state; main thread only.
int scope_depth = 0;
struct sigaction old_actions[NSIG];
bool taken[NSIG];
stack_t old_signal_stack;
std::unique_ptr<char[]> signal_stack;

void wake() {
    int fd = wake_fd;
    if (fd >= 0) {
        char byte = 's';
        [[maybe_unused]] ssize_t ignored = write(fd, &byte, 1);
    }
}

void on_ending_signal(int) {
    int saved_errno = errno;
    quit_flag = 1;
    wake();
    errno = saved_errno;
}

void on_resize_signal(int) {
    int saved_errno = errno;
    resize_flag = 1;
    wake();
    errno = saved_errno;
}

// Only async-signal-safe calls: bytes prepared in advance and tcsetattr.
void restore_terminal_from_handler() {
    if (restore_length > 0) {
        [[maybe_unused]] ssize_t ignored = write(STDOUT_FILENO, restore_bytes, restore_length);
    }
    if (termios_saved)
        tcsetattr(STDIN_FILENO, TCSANOW, &original_termios);
}

void on_fatal_signal(int signal_number) {
    restore_terminal_from_handler();
    std::signal(signal_number, SIG_DFL);
    raise(signal_number);
}

// The handlers run on a stack of their own, so that a stack overflow still
// reaches them.
void install(int signal_number, void (*handler)(int), struct sigaction* old) {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = handler;
    action.sa_flags = SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    sigaction(signal_number, &action, old);
}

void take(int signal_number, void (*handler)(int)) {
    install(signal_number, handler, &old_actions[signal_number]);
    taken[signal_number] = true;
}

void take_if_unclaimed(int signal_number, void (*handler)(int)) {
    struct sigaction current;
    if (sigaction(signal_number, nullptr, &current) != 0 || (current.sa_flags & SA_SIGINFO) ||
        current.sa_handler != SIG_DFL)
        return;
    take(signal_number, handler);
}

void install_signal_stack() {
    const std::size_t size = std::max<std::size_t>(64 * 1024, SIGSTKSZ);
    signal_stack = std::make_unique<char[]>(size);
    stack_t stack{};
    stack.ss_sp = signal_stack.get();
    stack.ss_size = size;
    if (sigaltstack(&stack, &old_signal_stack) != 0)
        signal_stack.reset();
}

void remove_signal_stack() {
    if (!signal_stack)
        return;
    if (old_signal_stack.ss_sp == nullptr)
        old_signal_stack.ss_flags = SS_DISABLE;
    sigaltstack(&old_signal_stack, nullptr);
    signal_stack.reset();
}

// A terminfo string without its padding marks ("$<5>"), or "" when absent.
std::string terminfo_string(const char* name) {
    char* value = tigetstr(const_cast<char*>(name));
    if (value == nullptr || value == reinterpret_cast<char*>(-1))
        return "";
    std::string out;
    for (const char* p = value; *p != '\0'; ++p) {
        if (p[0] == '$' && p[1] == '<') {
            const char* close = std::strchr(p, '>');
            if (close != nullptr) {
                p = close;
                continue;
            }
        }
        out += *p;
    }
    return out;
}

// Clicks, drags and motion without a button (any-event mode), reported in the
// SGR form where the terminal knows it (coordinates beyond column 223).
constexpr const char* mouse_on = "\033[?1000h\033[?1002h\033[?1003h\033[?1006h";
constexpr const char* mouse_off = "\033[?1006l\033[?1003l\033[?1002l\033[?1000l";

// Bytes that ncurses does not know of, written at once and past stdio's
// buffer (where putp would keep them until the program exits). ncurses writes
// its own output when it refreshes, so between two refreshes these keep their
// place in the stream.
void write_to_terminal(const char* bytes) {
    std::size_t left = std::strlen(bytes);
    while (left > 0) {
        const ssize_t written = write(STDOUT_FILENO, bytes, left);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return;  // the terminal is gone: nothing left to tell it
        }
        bytes += written;
        left -= static_cast<std::size_t>(written);
    }
}

// ncurses' own handler of Ctrl-Z, while an open session wraps it.
struct sigaction curses_suspend_action;

// ncurses gives the terminal back on Ctrl-Z and takes it again when the
// program continues; the mouse mode, which it does not know of, ends before
// and starts again after, so that the shell meanwhile gets no mouse reports.
void on_suspend_signal(int signal_number) {
    const int saved_errno = errno;
    write_to_terminal(mouse_off);
    curses_suspend_action.sa_handler(signal_number);
    write_to_terminal(mouse_on);
    errno = saved_errno;
}

// False when ncurses installed no handler (the signal was ignored, as where
// there is no job control).
bool wrap_curses_suspend() {
    struct sigaction current;
    if (sigaction(SIGTSTP, nullptr, &current) != 0 || (current.sa_flags & SA_SIGINFO) ||
        current.sa_handler == SIG_DFL || current.sa_handler == SIG_IGN)
        return false;
    curses_suspend_action = current;
    struct sigaction wrapper = current;
    wrapper.sa_handler = on_suspend_signal;
    wrapper.sa_flags |= SA_ONSTACK;
    return sigaction(SIGTSTP, &wrapper, nullptr) == 0;
}

void prepare_restore_bytes(bool mouse) {
    std::string bytes;
    if (mouse)
        bytes += mouse_off;
    bytes += terminfo_string("sgr0");
    bytes += terminfo_string("cnorm");
    bytes += terminfo_string("rmkx");
    bytes += terminfo_string("rmcup");
    size_t length = std::min(bytes.size(), sizeof(restore_bytes));
    std::memcpy(restore_bytes, bytes.data(), length);
    restore_length = static_cast<sig_atomic_t>(length);
}

}  // namespace

std::string TerminalRefusal() {
    const std::string cannot = "cannot use this terminal: ";
    if (!isatty(STDOUT_FILENO))
        return cannot + "standard output is not a terminal";
    // Asked on its own, before any screen: ncurses keeps hold of memory when
    // newterm fails.
    int terminal_status = 0;
    if (setupterm(nullptr, STDOUT_FILENO, &terminal_status) != OK) {
        const char* name = std::getenv("TERM");
        return cannot + (name != nullptr && *name != '\0'
                             ? "unknown terminal type TERM=" + std::string(name)
                             : std::string("TERM is not set"));
    }
    // A terminal that cannot place the cursor (TERM=dumb) would get the
    // screen as a stream of lines, and what is typed echoed on it.
    const bool places_cursor = !terminfo_string("cup").empty();
    const std::string name = termname() != nullptr ? termname() : "";
    del_curterm(cur_term);  // newterm reads the entry again for its screen
    if (!places_cursor)
        return cannot + "TERM=" + name + " cannot move the cursor";
    return "";
}

SignalScope::SignalScope() {
    if (scope_depth++ > 0)
        return;
    quit_flag = 0;
    std::memset(taken, 0, sizeof taken);
    install_signal_stack();
    for (int s : ending_signals)
        take(s, on_ending_signal);
    for (int s : fatal_signals)
        take(s, on_fatal_signal);
    for (int s : unclaimed_ending_signals)
        take_if_unclaimed(s, on_ending_signal);
    for (int s : unclaimed_fatal_signals)
        take_if_unclaimed(s, on_fatal_signal);
    for (int s = SIGRTMIN; s <= SIGRTMAX; ++s)
        take_if_unclaimed(s, on_fatal_signal);
}

SignalScope::~SignalScope() {
    if (--scope_depth > 0)
        return;
    for (int s = 1; s < NSIG; ++s) {
        if (taken[s])
            sigaction(s, &old_actions[s], nullptr);
    }
    remove_signal_stack();
}

bool SignalScope::QuitRequested() {
    return quit_flag != 0;
}

TerminalSession::TerminalSession(int fd) {
    resize_flag = 0;
    wake_fd = fd;
    have_termios_ = tcgetattr(STDIN_FILENO, &saved_termios_) == 0;
    if (have_termios_) {
        original_termios = saved_termios_;
        termios_saved = 1;
    }
    // Installed before ncurses starts (like the scope's), so that it keeps
    // its hands off them.
    install(SIGWINCH, on_resize_signal, &old_resize_action_);

    use_utf8_ctype();
    // What stdio holds belongs before the screen, not after it.
    std::fflush(stdout);
    const std::string refusal = TerminalRefusal();
    SCREEN* screen = refusal.empty() ? newterm(nullptr, stdout, stdin) : nullptr;
    if (screen == nullptr) {
        release();
        throw std::runtime_error(refusal.empty() ? "cannot use this terminal" : refusal);
    }
    screen_ = screen;
    set_term(screen);
    cbreak();  // Ctrl-C stays a signal
    noecho();
    nonl();
    intrflush(stdscr, FALSE);
    curs_set(0);
    if (has_colors()) {
        start_color();
        use_default_colors();
    }
    mouse_ = !terminfo_string("kmous").empty();
    prepare_restore_bytes(mouse_);
    // ncurses sends its set-up (the alternate screen among it) with its first
    // refresh; the mouse mode comes after it, so that none of it undoes the mode.
    refresh();
    if (mouse_) {
        write_to_terminal(mouse_on);
        suspend_wrapped_ = wrap_curses_suspend();
    }
}

TerminalSession::~TerminalSession() {
    if (suspend_wrapped_)
        sigaction(SIGTSTP, &curses_suspend_action, nullptr);
    // Every frame is out (each refresh flushes ncurses' output); the mode ends
    // before endwin leaves the alternate screen.
    if (mouse_)
        write_to_terminal(mouse_off);
    curs_set(1);
    endwin();
    delscreen(static_cast<SCREEN*>(screen_));
    restore_length = 0;
    if (have_termios_)
        tcsetattr(STDIN_FILENO, TCSANOW, &saved_termios_);
    release();
}

void TerminalSession::release() {
    termios_saved = 0;
    sigaction(SIGWINCH, &old_resize_action_, nullptr);
    wake_fd = -1;
    setlocale(LC_CTYPE, old_ctype_.c_str());
}

void TerminalSession::use_utf8_ctype() {
    const char* current = setlocale(LC_CTYPE, nullptr);
    old_ctype_ = current != nullptr ? current : "C";
    // ncurses writes wide characters only under a UTF-8 character type; take the
    // environment's, or the plain UTF-8 one when the environment has none.
    setlocale(LC_CTYPE, "");
    const char* codeset = nl_langinfo(CODESET);
    if (codeset == nullptr || std::strcmp(codeset, "UTF-8") != 0)
        setlocale(LC_CTYPE, "C.UTF-8");
}

int TerminalSession::width() const {
    return COLS;
}

int TerminalSession::height() const {
    return LINES;
}

bool TerminalSession::QuitRequested() {
    return SignalScope::QuitRequested();
}

bool TerminalSession::TakeResize() {
    if (!resize_flag)
        return false;
    resize_flag = 0;
    struct winsize size;
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0)
        resize_term(size.ws_row, size.ws_col);
    clearok(curscr, TRUE);
    return true;
}

}  // namespace tui
