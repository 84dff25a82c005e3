#include "tui/terminal_session.h"

#include <curses.h>
#include <langinfo.h>
#include <locale.h>
#include <sys/ioctl.h>
#include <term.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

namespace tui {
namespace {

constexpr int ending_signals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int fatal_signals[] = {SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL};
constexpr int all_signals[] = {SIGINT,  SIGTERM, SIGHUP, SIGWINCH, SIGSEGV,
                               SIGABRT, SIGBUS,  SIGFPE, SIGILL};
static_assert(sizeof(all_signals) / sizeof(int) == 9);

// Shared with the signal handlers, which may only touch plain flags and fds.
volatile sig_atomic_t quit_flag = 0;
volatile sig_atomic_t resize_flag = 0;
volatile sig_atomic_t wake_fd = -1;
volatile sig_atomic_t termios_saved = 0;
struct termios original_termios;
char restore_bytes[512];
volatile sig_atomic_t restore_length = 0;

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

constexpr const char* mouse_on = "\033[?1003h";
constexpr const char* mouse_off = "\033[?1006l\033[?1003l\033[?1002l\033[?1000l";

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

void install(int signal_number, void (*handler)(int), struct sigaction* old) {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    sigaction(signal_number, &action, old);
}

}  // namespace

TerminalSession::TerminalSession(int fd) {
    quit_flag = 0;
    resize_flag = 0;
    wake_fd = fd;
    have_termios_ = tcgetattr(STDIN_FILENO, &saved_termios_) == 0;
    if (have_termios_) {
        original_termios = saved_termios_;
        termios_saved = 1;
    }
    // Installed before ncurses starts, so that it keeps its hands off them.
    int slot = 0;
    for (int s : ending_signals)
        install(s, on_ending_signal, &old_actions_[slot++]);
    install(SIGWINCH, on_resize_signal, &old_actions_[slot++]);
    for (int s : fatal_signals)
        install(s, on_fatal_signal, &old_actions_[slot++]);

    use_utf8_ctype();
    SCREEN* screen = newterm(nullptr, stdout, stdin);
    if (screen == nullptr) {
        for (int i = 0; i < 9; ++i)
            sigaction(all_signals[i], &old_actions_[i], nullptr);
        wake_fd = -1;
        termios_saved = 0;
        setlocale(LC_CTYPE, old_ctype_.c_str());
        throw std::runtime_error("cannot use this terminal");
    }
    screen_ = screen;
    set_term(screen);
    cbreak();  // Ctrl-C stays a signal
    noecho();
    nonl();
    intrflush(stdscr, FALSE);
    keypad(stdscr, TRUE);
    nodelay(stdscr, TRUE);
    set_escdelay(25);
    curs_set(0);
    if (has_colors()) {
        start_color();
        use_default_colors();
    }
    bool mouse = tigetstr(const_cast<char*>("kmous")) != nullptr &&
                 tigetstr(const_cast<char*>("kmous")) != reinterpret_cast<char*>(-1);
    mouseinterval(0);
    mousemask(ALL_MOUSE_EVENTS | REPORT_MOUSE_POSITION, nullptr);
    if (mouse)
        putp(mouse_on);  // motion without a button is reported only in any-event mode
    mouse_ = mouse;
    prepare_restore_bytes(mouse);
}

TerminalSession::~TerminalSession() {
    mousemask(0, nullptr);
    if (mouse_)
        putp(mouse_off);
    curs_set(1);
    endwin();
    delscreen(static_cast<SCREEN*>(screen_));
    restore_length = 0;
    if (have_termios_)
        tcsetattr(STDIN_FILENO, TCSANOW, &saved_termios_);
    termios_saved = 0;
    for (int i = 0; i < 9; ++i)
        sigaction(all_signals[i], &old_actions_[i], nullptr);
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
    return quit_flag != 0;
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
