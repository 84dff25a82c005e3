#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <set>
#include <thread>
#include <vector>

#include "AudioEngine.h"
#include "audio_test_util.h"
#include "test_support.h"

using audio_test::constant_buffer;
using namespace std::chrono_literals;

// These runs open SDL's "dummy" and "disk" drivers, which run the real audio
// thread without a sound card.

TEST(Device, RunsTheTickHookOnItsOwnThreadAtAboutTheDeviceRate) {
    ::setenv("SDL_AUDIODRIVER", "dummy", 1);
    AudioEngine engine;
    std::atomic<long> frames{0};
    std::atomic<int> wrong_rates{0};
    std::atomic<bool> on_main_thread{false};
    const auto main_thread = std::this_thread::get_id();
    const auto kick = constant_buffer(2000, 0.1f);
    engine.tick_callback = [&](int period, int rate) {
        frames += period;
        if (rate != 96000)
            ++wrong_rates;
        if (std::this_thread::get_id() == main_thread)
            on_main_thread = true;
        engine.play(kick, 1.0f, 3);
    };
    ASSERT_TRUE(engine.start());
    ASSERT_TRUE(quarn_test::wait_until([&] { return frames > 0; }));
    const long first = frames;
    const auto begin = std::chrono::steady_clock::now();
    // The main thread plays, changes the volume and records meanwhile.
    quarn_test::TempDir dir;
    const auto path = (dir.path() / "live.wav").string();
    ASSERT_TRUE(engine.begin_recording(path));
    for (int i = 0; i < 100; ++i) {
        engine.play(kick, 0.5f, -7);
        engine.master_volume = static_cast<float>(i % 10) / 10.0f;
        std::this_thread::sleep_for(10ms);
    }
    engine.end_recording();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    const double rate = static_cast<double>(frames - first) / seconds;
    // SDL's dummy driver sleeps whole milliseconds per period, and a loaded
    // machine sleeps longer, so the rate is near, not at, the device's; a
    // count in samples or bytes would be twice or eight times too high.
    EXPECT_GT(rate, 96000.0 * 0.35);
    EXPECT_LT(rate, 96000.0 * 2.0);
    std::printf("tick hook: %.0f frames per second\n", rate);
    EXPECT_EQ(wrong_rates, 0);
    EXPECT_FALSE(on_main_thread);
    EXPECT_GT(audio_test::read_sound(path).samples.size(), 96000u / 2);

    engine.stop();
    const long after_stop = frames;
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(frames, after_stop);
    engine.stop();  // again: nothing happens

    // Starting again opens a fresh device.
    ASSERT_TRUE(engine.start());
    EXPECT_TRUE(quarn_test::wait_until([&] { return frames > after_stop; }));
    ASSERT_TRUE(engine.start());
    const long restarted = frames;
    EXPECT_TRUE(quarn_test::wait_until([&] { return frames > restarted; }));
}

TEST(Device, ClipsWhatItPlaysButNotWhatItRecords) {
    quarn_test::TempDir dir;
    const auto device_file = (dir.path() / "device.raw").string();
    const auto recording = (dir.path() / "take.wav").string();
    ::setenv("SDL_AUDIODRIVER", "disk", 1);
    ::setenv("SDL_DISKAUDIOFILE", device_file.c_str(), 1);
    AudioEngine engine;
    engine.master_volume = 2.0f;
    std::atomic<int> periods{0};
    engine.tick_callback = [&](int, int) { ++periods; };
    ASSERT_TRUE(engine.begin_recording(recording));
    ASSERT_TRUE(engine.start());
    engine.play(constant_buffer(4800, 0.8f), 1.0f, 0);
    EXPECT_TRUE(quarn_test::wait_until([&] { return engine.player_count() == 0; }));
    engine.end_recording();
    // NaN in the mix is played as silence; a sum beyond the float range
    // (infinite) is clipped like any other.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    engine.play(audio_test::stereo_buffer({0.25f, -3e38f, 3e38f, 0.25f, nan, nan}), 1.0f, 0);
    EXPECT_TRUE(quarn_test::wait_until([&] { return engine.player_count() == 0; }));
    // The driver writes a period to the file after the next has begun.
    const int ended = periods;
    EXPECT_TRUE(quarn_test::wait_until([&] { return periods > ended + 1; }));
    engine.stop();

    const std::string raw = quarn_test::read_file(device_file);
    std::vector<float> played(raw.size() / sizeof(float));
    std::memcpy(played.data(), raw.data(), played.size() * sizeof(float));
    ASSERT_FALSE(played.empty());
    EXPECT_TRUE(std::all_of(played.begin(), played.end(),
                            [](float value) { return value >= -1.0f && value <= 1.0f; }));
    EXPECT_EQ(*std::max_element(played.begin(), played.end()), 1.0f);
    EXPECT_EQ(std::count(played.begin(), played.end(), 1.0f), 4800 * 2 + 1);
    EXPECT_EQ(std::count(played.begin(), played.end(), -1.0f), 1);
    EXPECT_EQ(std::count(played.begin(), played.end(), 0.5f), 2);

    const auto sound = audio_test::read_sound(recording);
    EXPECT_EQ(*std::max_element(sound.samples.begin(), sound.samples.end()), 1.6f);
    EXPECT_EQ(std::count(sound.samples.begin(), sound.samples.end(), 1.6f), 4800 * 2);
}

TEST(Device, WithoutADeviceTheEngineStaysUsableButSilent) {
    ::setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    AudioEngine engine;
    int ticks = 0;
    engine.tick_callback = [&](int, int) { ++ticks; };
    testing::internal::CaptureStdout();
    EXPECT_FALSE(engine.start());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Failed to open playback device.\n");
    engine.play(constant_buffer(10, 0.5f), 1.0f, 0);
    engine.play(constant_buffer(10, 0.5f), 1.0f, 0);
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(engine.player_count(), 2u);
    EXPECT_EQ(ticks, 0);
    engine.stop();
}

TEST(Device, PeriodFramesComeFromTheEnvironmentOrTheDefault) {
    const std::string refusal = "QUARN_PERIOD_FRAMES must be a power of two from 64 to 4096, not ";
    struct Case {
        const char* value;
        int frames;
        bool taken;
    };
    const Case cases[] = {
        {nullptr, 256, true},       {"", 256, true},      {"64", 64, true},
        {"256", 256, true},         {"1024", 1024, true}, {"4096", 4096, true},
        {"0512", 512, true},        {"300", 256, false},  {"32", 256, false},
        {"8192", 256, false},       {"0", 256, false},    {"-256", 256, false},
        {"+256", 256, false},       {" 256", 256, false}, {"256 ", 256, false},
        {"0x100", 256, false},      {"256k", 256, false}, {"fast", 256, false},
        {"4294967552", 256, false},  // 2^32 + 256: must not wrap round to 256
    };
    for (const auto& c : cases) {
        const std::string shown = c.value ? c.value : "(unset)";
        const auto choice = audio::choose_period(c.value);
        EXPECT_EQ(choice.frames, c.frames) << shown;
        EXPECT_EQ(choice.refusal, c.taken ? "" : refusal + c.value) << shown;
    }
}

TEST(Device, RunsPeriodsOfTheLengthTheEnvironmentAsksFor) {
    ::setenv("SDL_AUDIODRIVER", "dummy", 1);
    struct Case {
        const char* value;
        int frames;
    };
    for (const auto& c : {Case{"1024", 1024}, Case{"64", 64}, Case{"300", 256}}) {
        ::setenv("QUARN_PERIOD_FRAMES", c.value, 1);
        AudioEngine engine;
        std::mutex seen_mutex;
        std::set<int> seen;
        engine.tick_callback = [&](int frames, int) {
            std::lock_guard<std::mutex> lock(seen_mutex);
            seen.insert(frames);
        };
        ASSERT_TRUE(engine.start()) << c.value;
        EXPECT_TRUE(quarn_test::wait_until([&] {
            std::lock_guard<std::mutex> lock(seen_mutex);
            return !seen.empty();
        })) << c.value;
        engine.stop();
        EXPECT_EQ(seen, std::set<int>{c.frames}) << c.value;
    }
    ::unsetenv("QUARN_PERIOD_FRAMES");
}
