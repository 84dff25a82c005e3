#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <stop_token>
#include <thread>

// Runs calls at their time on a thread of its own, one after another in the
// order of their times. Calls still waiting when it is destroyed are dropped;
// one running then is waited for.
class CallTimer {
  public:
    using Clock = std::chrono::steady_clock;

    CallTimer();
    ~CallTimer();
    CallTimer(const CallTimer&) = delete;
    CallTimer& operator=(const CallTimer&) = delete;

    // Any thread, a running call too.
    void call_at(Clock::time_point when, std::function<void()> call);
    // Any thread. The calls not yet started.
    std::size_t waiting() const;

  private:
    void run(const std::stop_token& stop);

    mutable std::mutex mutex;  // guards `calls`
    std::condition_variable_any wakeup;
    std::multimap<Clock::time_point, std::function<void()>> calls;
    std::jthread thread;  // declared last: stops before the members above go
};
