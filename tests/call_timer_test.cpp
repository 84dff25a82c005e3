#include "CallTimer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "refuse_threads.h"
#include "test_support.h"

using namespace quarn_test;
using namespace std::chrono_literals;
using Clock = CallTimer::Clock;

namespace {

// What the calls did, in order, from any thread.
class Log {
  public:
    void add(const std::string& entry) {
        std::lock_guard<std::mutex> lock(mutex);
        entries.push_back(entry);
    }
    std::vector<std::string> read() {
        std::lock_guard<std::mutex> lock(mutex);
        return entries;
    }
    std::size_t size() { return read().size(); }

  private:
    std::mutex mutex;
    std::vector<std::string> entries;
};

}  // namespace

TEST(CallTimer, RunsCallsInTheOrderOfTheirTimesAndANewCallOfAKeyTakesTheOldOnesPlace) {
    Log log;
    CallTimer timer(
        [&](const std::string& key, const std::exception_ptr&) { log.add("failed " + key); });
    // A little ahead, so that all are given before the first runs.
    const auto start = Clock::now() + 200ms;
    // Given out of order, one of them replaced twice (first later, then sooner),
    // and one that throws: told with its key, and the calls after it still run.
    ASSERT_TRUE(timer.call_at("c", start + 90ms, [&] { log.add("c"); }));
    ASSERT_TRUE(timer.call_at("b", start + 60ms, [&] { log.add("b first"); }));
    ASSERT_TRUE(timer.call_at("a", start + 30ms, [&] { log.add("a"); }));
    ASSERT_TRUE(timer.call_at("b", start + 120ms, [&] { log.add("b second"); }));
    ASSERT_TRUE(timer.call_at("b", start + 10ms, [&] { log.add("b third"); }));
    ASSERT_TRUE(timer.call_at("x", start + 70ms, [] { throw std::runtime_error("no"); }));
    EXPECT_EQ(timer.waiting(), 4u);
    ASSERT_TRUE(wait_until([&] { return log.size() == 4; }, 5s));
    EXPECT_EQ(log.read(), (std::vector<std::string>{"b third", "a", "failed x", "c"}));
    EXPECT_EQ(timer.waiting(), 0u);
    EXPECT_GE(Clock::now(), start + 90ms);

    // A call may give the timer a call of its own key: it runs later.
    ASSERT_TRUE(timer.call_at("again", Clock::now(), [&] {
        log.add("once");
        timer.call_at("again", Clock::now() + 10ms, [&] { log.add("twice"); });
    }));
    ASSERT_TRUE(wait_until([&] { return log.size() == 6; }, 5s));
    EXPECT_EQ(log.read().back(), "twice");
}

TEST(CallTimer, GoingDropsTheWaitingCallsAndWaitsForTheRunningOne) {
    std::atomic<bool> running{false};
    std::atomic<bool> finished{false};
    std::atomic<bool> dropped_ran{false};
    const auto start = Clock::now();
    {
        CallTimer timer;
        timer.call_at("slow", Clock::now(), [&] {
            running = true;
            std::this_thread::sleep_for(200ms);
            finished = true;
        });
        timer.call_at("later", Clock::now() + 10s, [&] { dropped_ran = true; });
        ASSERT_TRUE(wait_until([&] { return running.load(); }, 5s));
        EXPECT_EQ(timer.waiting(), 2u);  // the running call counts until it is over
    }
    EXPECT_TRUE(finished);
    EXPECT_FALSE(dropped_ran);
    EXPECT_LT(Clock::now() - start, 5s);  // the call ten seconds away was not waited for
}

TEST(CallTimer, AThreadThatCannotStartGivesTheCallBackAndIsTriedAgainLater) {
    const std::string failures = in_child_process([] {
        std::string found;
        auto check = [&](bool holds, const std::string& what) {
            if (!holds)
                found += what + "\n";
        };
        std::vector<std::string> told;
        std::atomic<int> ran{0};
        CallTimer timer([&](const std::string& key, const std::exception_ptr& failure) {
            told.push_back(key + ": " + (failure ? "with a reason" : "without one"));
        });
        refuse_threads(ThreadRefusal::Everywhere);
        check(!timer.call_at("k", Clock::now(), [&] { ++ran; }), "the call was taken");
        check(told == std::vector<std::string>{": with a reason"}, "the failure was not told");
        check(timer.waiting() == 0, "the refused call waits");
        refuse_threads(ThreadRefusal::None);
        check(timer.call_at("k", Clock::now(), [&] { ++ran; }), "the thread did not start later");
        check(wait_until([&] { return ran == 1; }, 5s), "the later call did not run");
        return found;
    });
    EXPECT_EQ(failures, "");
}
