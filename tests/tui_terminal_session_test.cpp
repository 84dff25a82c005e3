#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>

#include "tui/component/component.h"
#include "tui/component/screen_interactive.h"
#include "tui/component/terminal_session.h"
#include "tui/dom/elements.h"

using namespace tui;

namespace {

struct Ending {
    int status = 0;                   // as waitpid gives it
    std::string output;               // what the child wrote to its terminal
    termios modes{};                  // the terminal's modes after the child ended
    bool hung = false;                // killed after the time limit
    std::string output_when_stopped;  // what it had written when it stopped (Ctrl-Z)
};

enum class Input { Terminal, DevNull, TerminalClosedOnceDrawn };

// Runs `body` in a child process on a fresh pseudo-terminal in canonical mode
// with echo (TERM=xterm-256color); its result is the exit code.
Ending run_on_terminal(const std::function<int()>& body, Input input = Input::Terminal) {
    int master = -1, slave = -1;
    Ending ending;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
        ADD_FAILURE() << "no pseudo-terminal";
        return ending;
    }
    termios cooked;
    tcgetattr(slave, &cooked);
    cooked.c_lflag |= ICANON | ECHO | ISIG;
    tcsetattr(slave, TCSANOW, &cooked);

    const pid_t child = fork();
    if (child == 0) {
        const int in = input == Input::DevNull ? open("/dev/null", O_RDONLY) : slave;
        dup2(in, STDIN_FILENO);
        dup2(slave, STDOUT_FILENO);
        close(master);
        setenv("TERM", "xterm-256color", 1);
        _exit(body());
    }
    fcntl(master, F_SETFL, O_NONBLOCK);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    auto read_output = [&] {
        char buffer[4096];
        ssize_t n;
        while (master >= 0 && (n = read(master, buffer, sizeof buffer)) > 0)
            ending.output.append(buffer, static_cast<std::size_t>(n));
    };
    for (;;) {
        pollfd fd{master, POLLIN, 0};
        poll(&fd, 1, 20);
        read_output();
        if (input == Input::TerminalClosedOnceDrawn && master >= 0 &&
            ending.output.find("drawn") != std::string::npos) {
            close(master);
            close(slave);
            master = slave = -1;
        }
        if (waitpid(child, &ending.status, WNOHANG | WUNTRACED) == child) {
            read_output();  // what it wrote last
            if (!WIFSTOPPED(ending.status))
                break;
            ending.output_when_stopped = ending.output;  // the shell's "fg":
            kill(child, SIGCONT);
        }
        if (std::chrono::steady_clock::now() > deadline) {
            ending.hung = true;
            kill(child, SIGKILL);
            waitpid(child, &ending.status, 0);
            break;
        }
    }
    if (slave >= 0) {
        tcgetattr(slave, &ending.modes);
        close(slave);
        close(master);
    }
    return ending;
}

bool cooked(const termios& modes) {
    return (modes.c_lflag & ICANON) && (modes.c_lflag & ECHO);
}

// The order in which `output` switches the alternate screen and the mouse
// reports: "screen" and "closed" for the alternate screen entered and left,
// "mouse" and "no-mouse" for the mouse modes set and reset, each run of one
// kind told once.
std::string mouse_story(const std::string& output) {
    std::string story, last;
    for (std::size_t at = output.find("\x1b[?"); at != std::string::npos;
         at = output.find("\x1b[?", at + 1)) {
        const std::size_t end = output.find_first_not_of("0123456789;", at + 3);
        if (end == std::string::npos || (output[end] != 'h' && output[end] != 'l'))
            continue;
        const std::string mode = output.substr(at + 3, end - at - 3);
        const bool set = output[end] == 'h';
        std::string told;
        if (mode == "1049")
            told = set ? "screen" : "closed";
        else if (mode == "1000" || mode == "1002" || mode == "1003" || mode == "1006")
            told = set ? "mouse" : "no-mouse";
        if (told.empty() || told == last)
            continue;
        story += (story.empty() ? "" : " ") + told;
        last = told;
    }
    return story;
}

// A wake pipe for the session, as the screen loop has one.
int wake_pipe() {
    int fds[2];
    return pipe(fds) == 0 ? fds[1] : -1;
}

// Recurses until the stack runs out (the limit is never reached).
[[gnu::noinline]] int overflow_stack(long depth, long limit) {
    volatile char frame[1024];
    frame[0] = static_cast<char>(depth);
    if (depth == limit)
        return frame[0];
    return overflow_stack(depth + 1, limit) + frame[0];
}

}  // namespace

TEST(TuiTerminalSession, EndingSignalsAskTheLoopToEndAndFatalOnesRestoreTheTerminal) {
    // Ctrl-C, Ctrl-\, SIGTERM, SIGHUP and the signals a user sends by hand:
    // the program lives on to end in order (and closes a take it records).
    for (int signal_number : {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2, SIGALRM}) {
        const Ending ending = run_on_terminal([signal_number] {
            TerminalSession session(wake_pipe());
            raise(signal_number);
            return TerminalSession::QuitRequested() ? 0 : 2;
        });
        ASSERT_TRUE(WIFEXITED(ending.status)) << strsignal(signal_number);
        EXPECT_EQ(WEXITSTATUS(ending.status), 0) << strsignal(signal_number);
        EXPECT_TRUE(cooked(ending.modes)) << strsignal(signal_number);
        // The mouse reports start once ncurses has set the screen up and end
        // before it is left, all while the program runs (the child ends with
        // _exit, which flushes nothing that stdio still holds).
        EXPECT_EQ(mouse_story(ending.output), "screen mouse no-mouse closed")
            << strsignal(signal_number);
    }
    // Signals that end the program: the terminal is given back first, also
    // after a stack overflow.
    struct Fatal {
        int signal_number;
        std::function<void()> cause;
    };
    const Fatal fatal[] = {
        {SIGVTALRM, [] { raise(SIGVTALRM); }},
        {SIGABRT, [] { std::abort(); }},
        {SIGSEGV, [] { overflow_stack(0, std::numeric_limits<long>::max()); }},
    };
    for (const Fatal& f : fatal) {
        const Ending ending = run_on_terminal([&f] {
            TerminalSession session(wake_pipe());
            f.cause();
            return 0;
        });
        ASSERT_TRUE(WIFSIGNALED(ending.status)) << strsignal(f.signal_number);
        EXPECT_EQ(WTERMSIG(ending.status), f.signal_number);
        EXPECT_EQ(mouse_story(ending.output), "screen mouse no-mouse closed")
            << strsignal(f.signal_number);
        EXPECT_TRUE(cooked(ending.modes)) << strsignal(f.signal_number);
    }
    // Ctrl-Z: ncurses gives the terminal back until the program continues, the
    // mouse mode with it. (In a group of its own, which the stop may halt.)
    const Ending suspended = run_on_terminal([] {
        setpgid(0, 0);
        TerminalSession session(wake_pipe());
        raise(SIGTSTP);
        return 0;
    });
    ASSERT_TRUE(WIFEXITED(suspended.status));
    EXPECT_EQ(mouse_story(suspended.output_when_stopped), "screen mouse no-mouse closed");
    EXPECT_EQ(mouse_story(suspended.output),
              "screen mouse no-mouse closed screen mouse no-mouse closed");
    EXPECT_TRUE(cooked(suspended.modes));
}

TEST(TuiTerminalSession, AnOuterScopeKeepsTheEndingSignalsCaughtPastTheScreen) {
    const Ending ending = run_on_terminal([] {
        SignalScope shut_down;
        { TerminalSession session(wake_pipe()); }
        raise(SIGHUP);  // the shell's hang-up, after the terminal's
        raise(SIGTERM);
        return SignalScope::QuitRequested() ? 0 : 2;
    });
    ASSERT_TRUE(WIFEXITED(ending.status));
    EXPECT_EQ(WEXITSTATUS(ending.status), 0);
    EXPECT_TRUE(cooked(ending.modes));
    // Once the last scope is gone the signals take their course again.
    const Ending after = run_on_terminal([] {
        { SignalScope scope; }
        raise(SIGHUP);
        return 0;
    });
    ASSERT_TRUE(WIFSIGNALED(after.status));
    EXPECT_EQ(WTERMSIG(after.status), SIGHUP);
}

TEST(TuiTerminalSession, TheLoopEndsWhenItsInputEndsOrTheTerminalGoes) {
    for (Input input : {Input::DevNull, Input::TerminalClosedOnceDrawn}) {
        const Ending ending = run_on_terminal(
            [] {
                auto screen = ScreenInteractive::Fullscreen();
                screen.Loop(Renderer([] { return text(L"drawn"); }));
                return 0;
            },
            input);
        EXPECT_FALSE(ending.hung) << static_cast<int>(input);
        ASSERT_TRUE(WIFEXITED(ending.status)) << static_cast<int>(input);
        EXPECT_EQ(WEXITSTATUS(ending.status), 0);
        if (input == Input::DevNull) {
            // Drawing leaves the mouse mode alone: it is set once, before the
            // first frame, and reset once.
            EXPECT_EQ(mouse_story(ending.output), "screen mouse no-mouse closed");
            EXPECT_LT(ending.output.find("\x1b[?1006h"), ending.output.find("drawn"));
        }
    }
}

TEST(TuiTerminalSession, ATerminalItCannotDrawOnIsRefusedUntouched) {
    struct Refused {
        const char* term;
        bool output_to_file;
        const char* reason;
    };
    const Refused refused[] = {
        {"dumb", false, "TERM=dumb cannot move the cursor"},
        {"nosuchterm", false, "unknown terminal type TERM=nosuchterm"},
        {"xterm-256color", true, "standard output is not a terminal"},
    };
    for (const Refused& r : refused) {
        const Ending ending = run_on_terminal([&r] {
            setenv("TERM", r.term, 1);
            if (r.output_to_file)
                dup2(open("/dev/null", O_WRONLY), STDOUT_FILENO);
            const std::string refusal = TerminalRefusal();
            try {
                TerminalSession session(wake_pipe());
            } catch (const std::runtime_error& error) {
                return refusal == error.what() &&
                               refusal == std::string("cannot use this terminal: ") + r.reason
                           ? 0
                           : 3;
            }
            return 2;
        });
        ASSERT_TRUE(WIFEXITED(ending.status)) << r.reason;
        EXPECT_EQ(WEXITSTATUS(ending.status), 0) << r.reason;
        EXPECT_EQ(ending.output, "") << r.reason;
        EXPECT_TRUE(cooked(ending.modes)) << r.reason;
    }
    const Ending usable = run_on_terminal([] { return TerminalRefusal().empty() ? 0 : 2; });
    ASSERT_TRUE(WIFEXITED(usable.status));
    EXPECT_EQ(WEXITSTATUS(usable.status), 0);
}
