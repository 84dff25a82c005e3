#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
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
class CallTimer {
  public:
    using Clock = std::chrono::steady_clock;

    CallTimer();
    ~CallTimer();
    CallTimer(const CallTimer&) = delete;
    CallTimer& operator=(const CallTimer&) = delete;

    // Any thread, a running call too.
    void call_at(const std::string& key, Clock::time_point when, std::function<void()> call);
    // Any thread. The calls not yet started.
    std::size_t waiting() const;

  private:
    struct Call {
        std::string key;
        std::function<void()> run;
    };
    using Calls = std::multimap<Clock::time_point, Call>;

    void run(const std::stop_token& stop);

    mutable std::mutex mutex;  // guards the two members below
    Calls calls;
    std::unordered_map<std::string, Calls::iterator> by_key;
    std::condition_variable_any wakeup;
    std::jthread thread;  // declared last: stops before the members above go
};
