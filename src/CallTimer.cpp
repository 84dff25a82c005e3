#include "CallTimer.h"

#include <utility>

CallTimer::CallTimer() : thread([this](std::stop_token stop) { run(stop); }) {}

CallTimer::~CallTimer() {
    thread.request_stop();
    thread.join();
}

void CallTimer::call_at(const std::string& key, Clock::time_point when,
                        std::function<void()> call) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        const auto found = by_key.find(key);
        if (found != by_key.end()) {
            calls.erase(found->second);
            by_key.erase(found);
        }
        by_key.emplace(key, calls.emplace(when, Call{key, std::move(call)}));
    }
    wakeup.notify_one();
}

std::size_t CallTimer::waiting() const {
    std::lock_guard<std::mutex> lock(mutex);
    return calls.size();
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
        lock.unlock();
        try {
            call.run();
        } catch (...) {
            // A failed call is dropped; the later ones still run.
        }
        lock.lock();
    }
}
