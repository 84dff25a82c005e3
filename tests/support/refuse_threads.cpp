#include "refuse_threads.h"

#include <dlfcn.h>
#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <exception>

// Built twice: into the test support, switched by refuse_threads(), and as a
// library to preload into the program (QUARN_REFUSE_OFF_MAIN_THREAD), where
// only the main thread may start threads.

namespace quarn_test {

namespace {

#ifdef QUARN_REFUSE_OFF_MAIN_THREAD
constexpr ThreadRefusal kAtStart = ThreadRefusal::OffMainThread;
#else
constexpr ThreadRefusal kAtStart = ThreadRefusal::None;
#endif

std::atomic<ThreadRefusal> refusal{kAtStart};

bool refused_here() {
    switch (refusal.load()) {
        case ThreadRefusal::None:
            return false;
        case ThreadRefusal::OffMainThread:
            return gettid() != getpid();
        case ThreadRefusal::Everywhere:
            return true;
    }
    return false;
}

void write_all(int fd, const std::string& text) {
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t written = ::write(fd, text.data() + done, text.size() - done);
        if (written <= 0)
            return;
        done += static_cast<std::size_t>(written);
    }
}

}  // namespace

void refuse_threads(ThreadRefusal new_refusal) {
    refusal = new_refusal;
}

std::string in_child_process(const std::function<std::string()>& body) {
    int channel[2];
    if (::pipe(channel) != 0)
        return "no pipe to a child";
    const pid_t child = ::fork();
    if (child < 0)
        return "could not fork";
    if (child == 0) {
        ::close(channel[0]);
        std::string failures;
        try {
            failures = body();
        } catch (const std::exception& error) {
            failures += std::string("the child threw: ") + error.what() + "\n";
        }
        write_all(channel[1], failures);
        // Leaves without the test runner's exit work, which is the parent's.
        ::_exit(0);
    }
    ::close(channel[1]);
    std::string failures;
    char buffer[4096];
    for (ssize_t got; (got = ::read(channel[0], buffer, sizeof buffer)) > 0;)
        failures.append(buffer, static_cast<std::size_t>(got));
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (WIFSIGNALED(status))
        failures += "the child died of signal " + std::to_string(WTERMSIG(status)) + " (" +
                    strsignal(WTERMSIG(status)) + ")\n";
    else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        failures += "the child exited with status " + std::to_string(WEXITSTATUS(status)) + "\n";
    return failures;
}

}  // namespace quarn_test

// Takes the place of the C library's, which it calls unless refused.
extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes,
                              void* (*start)(void*), void* argument) noexcept {
    using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
    static const auto real = reinterpret_cast<Create>(::dlsym(RTLD_NEXT, "pthread_create"));
    if (quarn_test::refused_here() || real == nullptr)
        return EAGAIN;
    return real(thread, attributes, start, argument);
}
