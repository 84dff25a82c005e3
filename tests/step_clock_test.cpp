// The step clock: step length, advancing, pausing, tempo ramps, shuffles, triggers.
#include "Sequencer.h"

#include <gtest/gtest.h>

#include "test_support.h"

#include <algorithm>
#include <climits>
#include <map>
#include <thread>

namespace {

constexpr int kRate = 96000;

struct Trigger {
    std::string name;
    int step;
};

// Records every step and trigger the clock reports.
class StepClockTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sequencer.set_callbacks([this](int step) { steps.push_back(step); },
                                [this](std::shared_ptr<SequencerPattern> pattern, int step) {
                                    triggers.push_back({pattern->name, step});
                                },
                                [](const std::string&) { return true; });
    }

    // Calls tick until the clock advances; returns the number of calls made.
    int calls_until_advance(int frames, int limit = 100000) {
        const size_t before = steps.size();
        for (int call = 1; call <= limit; ++call) {
            sequencer.tick(frames, kRate);
            if (steps.size() > before)
                return call;
        }
        return -1;
    }

    PatternPtr pattern(const std::string& name, std::initializer_list<int> on_steps) {
        auto p = sequencer.get_or_create_pattern(name);
        for (int i : on_steps)
            p->steps[i].on = true;
        return p;
    }

    Sequencer sequencer;
    std::vector<int> steps;
    std::vector<Trigger> triggers;
};

TEST_F(StepClockTest, FirstAdvanceOnThe51stCallThenEvery50th) {
    // 120 bpm at 96 kHz: 24000 frames a step; 480-frame periods.
    EXPECT_EQ(calls_until_advance(480), 51);  // 24480 > 24000
    EXPECT_EQ(steps, std::vector<int>{0});
    for (int expected_step = 1; expected_step < 20; ++expected_step) {
        EXPECT_EQ(calls_until_advance(480), 50);
        EXPECT_EQ(steps.back(), expected_step % 8);
        EXPECT_EQ(sequencer.current_step(), expected_step % 8);
    }
}

TEST_F(StepClockTest, EqualIsNotGreater) {
    EXPECT_EQ(sequencer.current_step(), 0);
    sequencer.tick(24000, kRate);
    EXPECT_TRUE(steps.empty());
    for (int i = 0; i < 10; ++i)
        sequencer.tick(24000, kRate);
    EXPECT_EQ(steps, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 0, 1}));
}

TEST_F(StepClockTest, LongPeriodsAdvanceOnceAndStayBounded) {
    // Ten steps' worth of frames per call: one step per call, never more.
    for (int i = 0; i < 1000; ++i)
        sequencer.tick(240000, kRate);
    EXPECT_EQ(steps.size(), 1000u);
    // Back to normal periods, the clock is at most one step ahead of its own
    // schedule instead of thousands of steps of stored surplus.
    steps.clear();
    for (int i = 0; i < 100; ++i)
        sequencer.tick(480, kRate);
    EXPECT_LE(steps.size(), 3u);
    EXPECT_GE(steps.size(), 2u);
}

TEST_F(StepClockTest, PausedClockKeepsItsFrames) {
    for (int i = 0; i < 30; ++i)
        sequencer.tick(480, kRate);  // 14400 frames
    sequencer.playing = false;
    for (int i = 0; i < 1000; ++i)
        sequencer.tick(480, kRate);
    EXPECT_TRUE(steps.empty());
    sequencer.playing = true;
    EXPECT_EQ(calls_until_advance(480), 21);  // 14400 + 21 * 480 = 24480
}

TEST_F(StepClockTest, TempoOutsideTheClockRangeIsLimited) {
    sequencer.bpm = 0;
    sequencer.tick(480, kRate);                          // a zero tempo must not divide by zero
    EXPECT_EQ(calls_until_advance(480, 1000000), 6000);  // held at 1 bpm: 2880000 frames
    sequencer.bpm = -5;
    EXPECT_GT(calls_until_advance(480, 1000000), 1);
    sequencer.bpm = INT_MAX;  // held at 30 x rate: one frame a step
    steps.clear();
    for (int i = 0; i < 3; ++i)
        sequencer.tick(1, kRate);
    EXPECT_EQ(steps.size(), 3u);
}

TEST_F(StepClockTest, RampFollowsTheEasingCurveAndEndsExactly) {
    // 375 frames are exactly 1/256 s, so the ramp's time adds up without rounding.
    sequencer.animate_bpm(180, 1.0);
    for (int i = 0; i < 64; ++i)
        sequencer.tick(375, kRate);
    // A quarter in: e = (sin(-pi/4) + 1) / 2 = 0.1464..., 120 + 60 e = 128.78.
    EXPECT_EQ(sequencer.bpm.load(), 128);
    for (int i = 0; i < 64; ++i)
        sequencer.tick(375, kRate);
    EXPECT_EQ(sequencer.bpm.load(), 150);  // halfway: e = 0.5

    int before_end = 0;
    for (int i = 0; i < 128; ++i) {
        sequencer.tick(375, kRate);
        before_end = sequencer.bpm.load();
    }
    EXPECT_GE(before_end, 179);
    EXPECT_LE(before_end, 180);
    sequencer.tick(375, kRate);  // finds the ramp's time used up: the exact target
    EXPECT_EQ(sequencer.bpm.load(), 180);
    sequencer.bpm = 100;  // the ramp is over: nothing overwrites the tempo now
    sequencer.tick(375, kRate);
    EXPECT_EQ(sequencer.bpm.load(), 100);
}

TEST_F(StepClockTest, RampCallPastTheEndShowsALittleLess) {
    // 0.4 s periods over a 1 s ramp: the third call computes with t = 1.2.
    sequencer.animate_bpm(180, 1.0);
    for (int i = 0; i < 3; ++i)
        sequencer.tick(38400, kRate);
    EXPECT_LT(sequencer.bpm.load(), 180);
    EXPECT_GT(sequencer.bpm.load(), 170);
    sequencer.tick(38400, kRate);
    EXPECT_EQ(sequencer.bpm.load(), 180);
}

TEST_F(StepClockTest, RampOfZeroSecondsAndCancelling) {
    sequencer.animate_bpm(140, 0);
    EXPECT_EQ(sequencer.bpm.load(), 120);
    sequencer.tick(480, kRate);
    EXPECT_EQ(sequencer.bpm.load(), 140);

    sequencer.animate_bpm(200, 10.0);
    for (int i = 0; i < 500; ++i)
        sequencer.tick(480, kRate);  // 2.5 s in
    const int reached = sequencer.bpm.load();
    EXPECT_GT(reached, 140);
    EXPECT_LT(reached, 200);
    sequencer.animate_bpm(0, 0);  // cancels and keeps the tempo reached
    for (int i = 0; i < 500; ++i)
        sequencer.tick(480, kRate);
    EXPECT_EQ(sequencer.bpm.load(), reached);
}

TEST_F(StepClockTest, RampWaitsWhilePaused) {
    sequencer.animate_bpm(180, 1.0);
    sequencer.playing = false;
    for (int i = 0; i < 400; ++i)
        sequencer.tick(480, kRate);
    EXPECT_EQ(sequencer.bpm.load(), 120);
    sequencer.playing = true;
    for (int i = 0; i < 128; ++i)
        sequencer.tick(375, kRate);
    EXPECT_EQ(sequencer.bpm.load(), 150);
}

TEST_F(StepClockTest, HugeRampTargetDoesNotOverflow) {
    sequencer.animate_bpm(INT_MAX, 0.01);
    for (int i = 0; i < 10; ++i)
        sequencer.tick(480, kRate);
    EXPECT_EQ(sequencer.bpm.load(), INT_MAX);
    for (int i = 0; i < 10; ++i)
        sequencer.tick(480, kRate);  // the clock still runs
    EXPECT_FALSE(steps.empty());
}

TEST_F(StepClockTest, TriggersOnlyActiveEnabledOnSteps) {
    pattern("kick", {0, 4});
    auto snare = pattern("snare", {2, 4});
    auto hh = pattern("hh", {0, 1, 2, 3, 4, 5, 6, 7});
    hh->enabled = false;
    auto tom = pattern("tom", {0});
    tom->active = false;

    for (int i = 0; i < 9; ++i)
        sequencer.tick(24001, kRate);
    std::map<int, std::vector<std::string>> by_step;
    for (const auto& t : triggers)
        by_step[t.step].push_back(t.name);
    EXPECT_EQ(by_step[0], (std::vector<std::string>{"kick", "kick"}));  // steps 0 twice
    EXPECT_EQ(by_step[2], std::vector<std::string>{"snare"});
    EXPECT_EQ(by_step[4], (std::vector<std::string>{"kick", "snare"}));  // list order
    EXPECT_EQ(by_step.count(1), 0u);
    EXPECT_EQ(triggers.size(), 5u);
}

TEST_F(StepClockTest, ShuffleIsAPermutationOnSchedule) {
    auto every = pattern("every", {});
    auto third = pattern("third", {});
    auto muted = pattern("muted", {});
    for (int i = 0; i < 8; ++i) {
        for (const auto& p : {every, third, muted})
            p->steps[i] = {i % 3 == 0, i * 2 - 5};
    }
    every->random = 1;
    third->random = 3;
    muted->random = 1;
    muted->enabled = false;
    auto sorted = [](const SequencerPattern& p) {
        std::vector<std::pair<bool, int>> v;
        for (const auto& s : p.steps)
            v.push_back({s.on, s.pitch});
        std::sort(v.begin(), v.end());
        return v;
    };
    const auto original = sorted(*every);
    const auto third_before = third->steps;

    // Arrive at step 0 once, then run whole measures.
    for (int arrival = 1; arrival <= 12; ++arrival) {
        for (int s = 0; s < 8; ++s)
            sequencer.tick(24001, kRate);
        EXPECT_EQ(sorted(*every), original);
        EXPECT_EQ(sorted(*muted), original);
        EXPECT_EQ(third->random_counter, arrival % 3) << arrival;
        if (arrival < 3) {
            EXPECT_TRUE(
                std::equal(third->steps.begin(), third->steps.end(), third_before.begin(),
                           [](auto& a, auto& b) { return a.on == b.on && a.pitch == b.pitch; }));
        }
    }
    EXPECT_EQ(sorted(*third), original);
    EXPECT_EQ(every->random_counter, 0);
}

TEST_F(StepClockTest, CounterResetsWithoutShuffleAndSurvivesIntervalChange) {
    auto p = pattern("p", {});
    p->random = 5;
    for (int s = 0; s < 8 * 2; ++s)
        sequencer.tick(24001, kRate);
    EXPECT_EQ(p->random_counter, 2);
    p->random = 2;  // not reset: the next arrival computes (2 + 1) mod 2
    for (int s = 0; s < 8; ++s)
        sequencer.tick(24001, kRate);
    EXPECT_EQ(p->random_counter, 1);
    p->random = 0;
    sequencer.tick(24001, kRate);  // any step resets it when shuffling is off
    EXPECT_EQ(p->random_counter, 0);
    p->random = -3;
    p->random_counter = 7;
    sequencer.tick(24001, kRate);
    EXPECT_EQ(p->random_counter, 0);
}

TEST_F(StepClockTest, CallbacksMayBeInstalledWhileTheClockRuns) {
    std::atomic<bool> stop{false};
    std::thread audio([&] {
        while (!stop)
            sequencer.tick(24001, kRate);
    });
    std::atomic<int> seen{0};
    for (int i = 0; i < 200; ++i) {
        sequencer.set_callbacks([&seen](int) { ++seen; }, {}, {});
    }
    EXPECT_TRUE(quarn_test::wait_until([&] { return seen.load() >= 10; }));
    stop = true;
    audio.join();
}

}  // namespace
