#include "CallTimer.h"

#include <system_error>
#include <utility>

CallTimer::CallTimer(FailureHandler on_failure) : on_failure(std::move(on_failure)) {}

CallTimer::~CallTimer() {
    if (thread.joinable()) {
        thread.request_stop();
        thread.join();
    }
}

bool CallTimer::call_at(const std::string& key, Clock::time_point when,
                        std::function<void()> call) {
    std::exception_ptr failure;
    {
        std::lock_guard<std::mutex> lock(mutex);
        const auto found = by_key.find(key);
        if (found != by_key.end()) {
            calls.erase(found->second);
            by_key.erase(found);
        }
        if (start_thread(failure)) {
            by_key.emplace(key, calls.emplace(when, Call{key, std::move(call)}));
            wakeup.notify_one();
            return true;
        }
    }
    tell_failure("", failure);
    return false;
}

bool CallTimer::start_thread(std::exception_ptr& failure) {
    if (thread.joinable())
        return true;
    try {
        thread = std::jthread([this](std::stop_token stop) { run(stop); });
        return true;
    } catch (const std::system_error&) {
        failure = std::current_exception();
        return false;
    }
}

std::size_t CallTimer::waiting() const {
    std::lock_guard<std::mutex> lock(mutex);
    return calls.size() + (running ? 1 : 0);
}

void CallTimer::run(const std::stop_token& stop) {
    std::unique_lock<std::mutex> lock(mutex);
    while (!stop.stop_requested()) {
        if (calls.empty()) {
            wakeup.wait(lock, stop, [this] { return !calls.empty(); });
            continue;
        }
        const auto first = calls.begin()->first;
        if (Clock::now() < first) {
            // Wakes early for a call added before the first one, or when the
            // first one was replaced.
            wakeup.wait_until(lock, stop, first, [this, first] {
                return calls.empty() || calls.begin()->first != first;
            });
            continue;
        }
        auto call = std::move(calls.begin()->second);
        by_key.erase(call.key);
        calls.erase(calls.begin());
        running = true;
        lock.unlock();
        run_call(call);
        lock.lock();
        running = false;
    }
}

void CallTimer::run_call(const Call& call) noexcept {
    // A failed call is told and dropped; the later ones still run.
    try {
        call.run();
    } catch (...) {
        tell_failure(call.key, std::current_exception());
    }
}

void CallTimer::tell_failure(const std::string& key, const std::exception_ptr& failure) noexcept {
    try {
        if (on_failure)
            on_failure(key, failure);
    } catch (...) {
        // Not even the news could be told (no memory left).
    }
}
