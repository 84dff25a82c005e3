#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <map>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <unordered_map>

// Runs calls at their time on a thread of its own, one after another in the
// order of their times. Each call has a key, and a new call of a key takes
// the place of one still waiting. Calls still waiting when it is destroyed
// are dropped; one running then is waited for.
//
// The thread starts with the first call. Where it cannot start (a process
// limit), the call is given back to the caller, and the next call tries to
// start the thread again.
class CallTimer {
  public:
    using Clock = std::chrono::steady_clock;
    // Told what failed: a call that threw (with its key), or the thread that
    // could not start (with an empty key). Runs on the thread that met it.
    using FailureHandler =
        std::function<void(const std::string& key, const std::exception_ptr& failure)>;

    explicit CallTimer(FailureHandler on_failure = nullptr);
    ~CallTimer();
    CallTimer(const CallTimer&) = delete;
    CallTimer& operator=(const CallTimer&) = delete;

    // Any thread, a running call too. False, with the failure told, when the
    // thread cannot start: the call is not taken, and the caller makes it.
    bool call_at(const std::string& key, Clock::time_point when, std::function<void()> call);
    // Any thread. The calls not yet over: waiting, or running.
    std::size_t waiting() const;

  private:
    struct Call {
        std::string key;
        std::function<void()> run;
    };
    using Calls = std::multimap<Clock::time_point, Call>;

    // With `mutex` held. False, with the reason, when the thread is not
    // running and cannot start.
    bool start_thread(std::exception_ptr& failure);
    void run(const std::stop_token& stop);
    void run_call(const Call& call) noexcept;
    void tell_failure(const std::string& key, const std::exception_ptr& failure) noexcept;

    const FailureHandler on_failure;
    mutable std::mutex mutex;  // guards the four members below
    Calls calls;
    std::unordered_map<std::string, Calls::iterator> by_key;
    bool running = false;
    std::condition_variable_any wakeup;
    std::jthread thread;  // declared last: stops before the members above go
};
