#include <dlfcn.h>
#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <future>
#include <limits>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "AudioEngine.h"
#include "audio_test_util.h"
#include "test_support.h"

using audio_test::constant_buffer;
using audio_test::stereo_buffer;

// What the audio thread must not do, counted per thread while `counting` is
// set: allocate, and lock a mutex (std::mutex locks through pthread).
namespace {
thread_local bool counting = false;
thread_local int allocations = 0;
thread_local int mutex_locks = 0;

template <typename Function>
Function next_definition(std::atomic<Function>& cached, const char* name) {
    Function function = cached.load(std::memory_order_relaxed);
    if (function == nullptr) {
        function = reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
        cached.store(function, std::memory_order_relaxed);
    }
    return function;
}
}  // namespace

// Not inlined, so that the compiler does not take the free for a mismatch.
[[gnu::noinline]] void* operator new(std::size_t size) {
    if (counting)
        ++allocations;
    if (void* memory = std::malloc(size == 0 ? 1 : size))
        return memory;
    throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* memory) noexcept {
    std::free(memory);
}
[[gnu::noinline]] void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}

extern "C" int pthread_mutex_lock(pthread_mutex_t* mutex) {
    static std::atomic<int (*)(pthread_mutex_t*)> next{nullptr};
    if (counting)
        ++mutex_locks;
    return next_definition(next, "pthread_mutex_lock")(mutex);
}
extern "C" int pthread_mutex_trylock(pthread_mutex_t* mutex) {
    static std::atomic<int (*)(pthread_mutex_t*)> next{nullptr};
    if (counting)
        ++mutex_locks;
    return next_definition(next, "pthread_mutex_trylock")(mutex);
}

namespace {

constexpr int kPeriod = 256;

// Runs periods on an engine with no device open, as the device would.
class Mixing : public ::testing::Test {
  protected:
    // One period of `frames` frames; returns its output.
    std::vector<float> period(int frames = kPeriod) {
        std::vector<float> output(static_cast<std::size_t>(frames) * 2, 0.0f);
        engine.process_period(output.data(), frames);
        return output;
    }

    // Frames produced until every player has ended (at most `limit` periods).
    std::vector<float> until_silent(int limit = 1000) {
        std::vector<float> all;
        for (int p = 0; p < limit && engine.player_count() > 0; ++p) {
            const auto output = period();
            all.insert(all.end(), output.begin(), output.end());
        }
        return all;
    }

    quarn_test::TempDir dir;
    AudioEngine engine;
};

std::size_t sounding_frames(const std::vector<float>& samples) {
    std::size_t frames = 0;
    for (std::size_t i = 0; i < samples.size(); i += 2)
        if (samples[i] != 0.0f || samples[i + 1] != 0.0f)
            ++frames;
    return frames;
}

std::vector<float> frames_of(const std::vector<float>& samples, std::size_t from, std::size_t to) {
    return {samples.begin() + from * 2, samples.begin() + to * 2};
}

std::vector<float> filled(std::size_t frames, float value) {
    return std::vector<float>(frames * 2, value);
}

}  // namespace

TEST_F(Mixing, APlayStartedByTheTickHookSoundsFromTheFirstFrameOfThatPeriod) {
    const auto kick = constant_buffer(1000, 0.25f);
    std::vector<std::pair<int, int>> ticks;
    engine.tick_callback = [&](int frames, int rate) {
        ticks.emplace_back(frames, rate);
        if (ticks.size() == 2)
            engine.play(kick, 1.0f, 0);  // takes the engine's lock: none may be held here
    };
    EXPECT_EQ(period(), filled(kPeriod, 0.0f));
    EXPECT_EQ(period(), filled(kPeriod, 0.25f));
    EXPECT_EQ(ticks, (std::vector<std::pair<int, int>>{{256, 96000}, {256, 96000}}));
}

TEST_F(Mixing, PlayersEndInThePeriodOfTheirLastFrameAndTheRestStillSound) {
    // The short one is first in the list and ends inside the second period.
    engine.play(constant_buffer(300, 0.5f), 1.0f, 0);
    engine.play(constant_buffer(1000, 0.25f), 1.0f, 0);
    EXPECT_EQ(period(), filled(kPeriod, 0.75f));
    EXPECT_EQ(engine.player_count(), 2u);
    const auto second = period();
    EXPECT_EQ(frames_of(second, 0, 44), filled(44, 0.75f));
    EXPECT_EQ(frames_of(second, 44, kPeriod), filled(kPeriod - 44, 0.25f));
    EXPECT_EQ(engine.player_count(), 1u);
    // A player exactly one period long is gone after that period.
    engine.play(constant_buffer(kPeriod, 0.5f), 1.0f, 0);
    period();
    EXPECT_EQ(engine.player_count(), 1u);
}

TEST_F(Mixing, EndedPlayersAndTheirBuffersAreFreedWhenReleasedNotInThePeriod) {
    auto sample = constant_buffer(300, 0.5f);
    const std::weak_ptr<AudioBuffer> watched = sample;
    engine.play(std::move(sample), 1.0f, 0);
    period();
    period();
    EXPECT_EQ(engine.player_count(), 0u);
    EXPECT_FALSE(watched.expired());  // handed over, not freed
    engine.release_ended_players();
    EXPECT_TRUE(watched.expired());

    // Periods on one thread while another releases.
    constexpr int kPlays = 500;
    std::vector<std::shared_ptr<AudioBuffer>> samples;
    std::vector<std::weak_ptr<AudioBuffer>> all;
    for (int i = 0; i < kPlays; ++i) {
        samples.push_back(constant_buffer(100 + 7 * i % 900, 0.01f));
        all.push_back(samples.back());
    }
    std::atomic<bool> done{false};
    std::thread audio([&] {
        for (int i = 0; i < kPlays; ++i) {
            engine.play(std::move(samples[i]), 1.0f, i % 25 - 12);
            period();
        }
        done = true;
    });
    while (!done)
        engine.release_ended_players();
    audio.join();
    until_silent();
    engine.release_ended_players();
    EXPECT_TRUE(
        std::all_of(all.begin(), all.end(), [](const auto& weak) { return weak.expired(); }));
}

TEST_F(Mixing, BeyondTheCapTheOldestPlayerGivesWayWithAShortFade) {
    // Only the oldest is heard; the others are silent.
    const auto silent = constant_buffer(100000, 0.0f);
    engine.play(constant_buffer(100000, 0.5f), 1.0f, 0);
    for (std::size_t i = 1; i < AudioEngine::kMaxPlayers; ++i)
        engine.play(silent, 1.0f, 0);
    EXPECT_EQ(period(), filled(kPeriod, 0.5f));
    engine.play(constant_buffer(100000, 0.25f), 1.0f, 0);
    EXPECT_EQ(engine.player_count(), AudioEngine::kMaxPlayers);

    // The new one sounds at once; the oldest falls to silence in about a
    // millisecond, from where it was and in steps too small to click.
    const auto output = period();
    const std::size_t fade = AudioEngine::kFadeFrames;
    EXPECT_NEAR(fade / 96000.0, 0.001, 0.0002);
    EXPECT_NEAR(output[0], 0.75f, 1e-6f);
    for (std::size_t k = 1; k < fade; ++k) {
        ASSERT_EQ(output[2 * k], output[2 * k + 1]) << k;
        ASSERT_LT(output[2 * k], output[2 * k - 2]) << k;
        ASSERT_LT(output[2 * k - 2] - output[2 * k], 0.5f / fade + 1e-6f) << k;
    }
    EXPECT_GT(output[2 * (fade - 1)], 0.25f);
    EXPECT_EQ(frames_of(output, fade, kPeriod), filled(kPeriod - fade, 0.25f));
    EXPECT_EQ(period(), filled(kPeriod, 0.25f));
}

TEST_F(Mixing, PlaysFromTheTickHookNeverPassTheCap) {
    // Each period the hook starts a few loud players and then enough silent
    // ones to push them out before they sound: those go without a fade.
    auto loud = constant_buffer(1000, 0.5f);
    const auto silent = constant_buffer(1000, 0.0f);
    std::size_t most = 0;
    engine.tick_callback = [&](int, int) {
        for (int i = 0; i < 5; ++i)
            engine.play(loud, 1.0f, -150);
        for (std::size_t i = 0; i < AudioEngine::kMaxPlayers; ++i) {
            engine.play(silent, 1.0f, -150);
            most = std::max(most, engine.player_count());
        }
    };
    for (int p = 0; p < 20; ++p)
        ASSERT_EQ(period(), filled(kPeriod, 0.0f)) << p;
    EXPECT_EQ(most, AudioEngine::kMaxPlayers);
    EXPECT_EQ(engine.player_count(), AudioEngine::kMaxPlayers);
    // The players that gave way let go of their buffers too.
    engine.release_ended_players();
    EXPECT_EQ(loud.use_count(), 1);
}

TEST_F(Mixing, TwoPlaysOfOneBufferAreIndependentAndSummed) {
    std::vector<float> ramp(600 * 2);
    for (std::size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = static_cast<float>(i / 2) / 1024.0f;  // exact in float
    const auto sample = stereo_buffer(ramp);
    engine.play(sample, 1.0f, 0);
    period();
    engine.play(sample, 1.0f, 0);
    const auto output = period();
    for (int k = 0; k < kPeriod; ++k)
        ASSERT_EQ(output[2 * k], ramp[2 * (k + kPeriod)] + ramp[2 * k]) << k;
}

TEST_F(Mixing, PitchChangesTheLengthOfTheSoundUpToItsBound) {
    // A sound lasts at most its sample's length or 30 s, whichever is longer.
    constexpr std::size_t kBound = 30 * 96000;
    struct Case {
        std::size_t sample_frames;
        int semitones;
        std::size_t frames;
    };
    for (const Case& c : {Case{9600, 0, 9600}, Case{9600, 12, 4800}, Case{9600, -12, 19199},
                          Case{9600, 199, 1}, Case{1000, -999999, kBound},
                          Case{2000000, -12, kBound}, Case{kBound + 96000, -1, kBound + 96000}}) {
        engine.play(constant_buffer(c.sample_frames, 0.5f), 1.0f, c.semitones);
        const auto output = until_silent(20000);
        EXPECT_EQ(sounding_frames(output), c.frames) << c.semitones;
        if (c.frames < kBound)
            continue;
        // Cut short, it falls silent as a player giving way does.
        const std::size_t fade = AudioEngine::kFadeFrames;
        const auto end = frames_of(output, c.frames - fade, c.frames);
        EXPECT_NEAR(end[0], 0.5f, 0.01f) << c.semitones;
        for (std::size_t k = 1; k < fade; ++k) {
            ASSERT_LT(end[2 * k], end[2 * k - 2]) << c.semitones << " " << k;
            ASSERT_LT(end[2 * k - 2] - end[2 * k], 0.5f / fade + 1e-3f) << c.semitones << " " << k;
        }
        EXPECT_LT(end[2 * fade - 2], 0.5f / fade + 1e-3f) << c.semitones;
    }
    // Pitch 0 leaves the sample as it is.
    std::vector<float> noise(3000 * 2);
    for (std::size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<float>((i * 7919) % 2001) / 1000.0f - 1.0f;
    engine.play(stereo_buffer(noise), 1.0f, 0);
    const auto output = until_silent();
    EXPECT_EQ(frames_of(output, 0, 3000), noise);
}

TEST_F(Mixing, MasterVolumeScalesTheMixWithoutChangingHowLongPlayersLast) {
    engine.master_volume = 0.0f;
    engine.play(constant_buffer(1000, 0.5f), 0.8f, 0);
    EXPECT_EQ(period(), filled(kPeriod, 0.0f));
    period();
    period();
    EXPECT_EQ(engine.player_count(), 1u);
    period();  // frames 768 to 999 are consumed here
    EXPECT_EQ(engine.player_count(), 0u);

    // Not clamped: above 1 it amplifies, and the sum is not clipped here.
    engine.master_volume = 3.0f;
    engine.play(constant_buffer(1000, 0.5f), 0.5f, 0);
    EXPECT_EQ(period(), filled(kPeriod, 0.75f));
    engine.play(constant_buffer(1000, 0.5f), 1.0f, 0);
    EXPECT_EQ(period(), filled(kPeriod, 2.25f));
    until_silent();

    // Whatever the volumes, the device and the take get finite samples: a sum
    // past the float range is the largest float of its sign, NaN is silence.
    constexpr float kHuge = 3.0e38f;
    constexpr float kInfinity = std::numeric_limits<float>::infinity();
    constexpr float kLargest = std::numeric_limits<float>::max();
    struct Case {
        float master;
        std::vector<float> volumes;  // of players of a sample at 0.5
        float sum;
    };
    const std::vector<Case> cases = {
        {1.0f, {kHuge, kHuge}, kHuge},  // finite, however large: kept
        {1.0f, {kHuge, kHuge, kHuge}, kLargest},
        {1.0f, {-kHuge, -kHuge, -kHuge}, -kLargest},
        {kHuge, {kHuge}, kLargest},
        {kHuge, {kHuge, -kHuge}, 0.0f},  // infinities of both signs
        {kInfinity, {0.0f, 0.5f}, 0.0f},
        {std::numeric_limits<float>::quiet_NaN(), {1.0f}, 0.0f},
    };
    const auto path = (dir.path() / "take.wav").string();
    ASSERT_TRUE(engine.begin_recording(path));
    std::vector<float> played;
    for (const Case& c : cases) {
        engine.master_volume = c.master;
        for (const float volume : c.volumes)
            engine.play(constant_buffer(kPeriod, 0.5f), volume, 0);
        const auto output = period();
        EXPECT_EQ(output, filled(kPeriod, c.sum)) << c.master << " x " << c.volumes.front();
        played.insert(played.end(), output.begin(), output.end());
    }
    engine.end_recording();
    EXPECT_EQ(audio_test::read_sound(path).samples, played);
}

TEST_F(Mixing, PeriodsLongerThanTheMixBufferAreMixedWhole) {
    engine.play(constant_buffer(30000, 0.5f), 1.0f, 0);
    EXPECT_EQ(period(20000), filled(20000, 0.5f));
    const auto second = period(20000);
    EXPECT_EQ(frames_of(second, 0, 10000), filled(10000, 0.5f));
    EXPECT_EQ(frames_of(second, 10000, 20000), filled(10000, 0.0f));
    EXPECT_EQ(engine.player_count(), 0u);
}

TEST_F(Mixing, ABufferThatCannotBePlayedEndsItsPlayerAndThePeriodGoesOn) {
    // No data behind a frame count, and a channel count the mixer does not take.
    engine.play(std::make_shared<AudioBuffer>(nullptr, 100, 2), 1.0f, 0);
    auto mono = std::make_unique<float[]>(400);
    std::fill_n(mono.get(), 400, 0.5f);
    engine.play(std::make_shared<AudioBuffer>(mono.release(), 400, 1), 1.0f, 0);
    engine.play(constant_buffer(1000, 0.25f), 1.0f, 0);
    engine.play(nullptr, 1.0f, 0);
    EXPECT_EQ(period(), filled(kPeriod, 0.25f));
    EXPECT_EQ(engine.player_count(), 1u);
}

TEST_F(Mixing, ASampleHoldingNanOrInfinityLeavesTheRestOfTheMixIntact) {
    // Decoded from a float file: its bad values are silence, not poison for
    // every sound mixed with it.
    std::vector<float> samples = filled(1000, 0.5f);
    const std::vector<std::size_t> bad = {0, 301, 2 * 256, 2 * 999 + 1};
    samples[bad[0]] = std::numeric_limits<float>::quiet_NaN();
    samples[bad[1]] = std::numeric_limits<float>::infinity();
    samples[bad[2]] = -std::numeric_limits<float>::infinity();
    samples[bad[3]] = std::numeric_limits<float>::signaling_NaN();
    const auto path = (dir.path() / "bad.wav").string();
    ASSERT_TRUE(audio_test::write_sound(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 96000, 2, samples));
    const auto sample = engine.load_sample(path);
    ASSERT_TRUE(sample);
    engine.play(sample, 1.0f, 0);
    engine.play(constant_buffer(1000, 0.25f), 1.0f, 0);
    const auto output = until_silent();
    ASSERT_EQ(output.size(), 2u * 4 * kPeriod);
    auto expected = filled(1000, 0.75f);
    for (std::size_t index : bad)
        expected[index] = 0.25f;
    EXPECT_EQ(frames_of(output, 0, 1000), expected);
}

TEST_F(Mixing, TheRecordingHoldsEveryPeriodUnclipped) {
    const auto path = (dir.path() / "take.wav").string();
    period();  // before the recording: not in the file
    ASSERT_TRUE(engine.begin_recording(path));
    EXPECT_TRUE(engine.is_recording());
    engine.play(constant_buffer(600, 0.8f), 1.0f, 0);
    engine.play(constant_buffer(600, 0.8f), 1.0f, 0);
    std::vector<float> played;
    for (int p = 0; p < 3; ++p) {
        const auto output = period();
        played.insert(played.end(), output.begin(), output.end());
    }
    engine.end_recording();
    EXPECT_FALSE(engine.is_recording());
    EXPECT_EQ(engine.recording_path, path);
    period();  // after it: not in the file either

    const auto sound = audio_test::read_sound(path);
    ASSERT_TRUE(sound.opened);
    EXPECT_EQ(sound.channels, 2);
    EXPECT_EQ(sound.rate, 96000);
    EXPECT_EQ(sound.samples, played);
    EXPECT_EQ(*std::max_element(sound.samples.begin(), sound.samples.end()), 1.6f);
    EXPECT_EQ(quarn_test::read_file(path).size(), 44u + 3 * kPeriod * 8);
}

TEST_F(Mixing, StartingARecordingWhileOneIsOpenCompletesTheFirst) {
    const auto first = (dir.path() / "first.wav").string();
    const auto second = (dir.path() / "second.wav").string();
    engine.end_recording();  // nothing open: nothing happens
    EXPECT_FALSE(engine.is_recording());
    ASSERT_TRUE(engine.begin_recording(first));
    period();
    period();
    ASSERT_TRUE(engine.begin_recording(second));
    period();
    EXPECT_EQ(audio_test::read_sound(first).samples.size(), 2u * kPeriod * 2);
    engine.end_recording();
    EXPECT_EQ(audio_test::read_sound(second).samples.size(), 1u * kPeriod * 2);
    EXPECT_EQ(audio_test::read_sound(first).samples.size(), 2u * kPeriod * 2);
}

TEST_F(Mixing, AFailedRecordingStartLeavesNoRecordingAndKeepsThePath) {
    const auto good = (dir.path() / "good.wav").string();
    const auto bad = (dir.path() / "no-such-folder" / "take.wav").string();
    ASSERT_TRUE(engine.begin_recording(good));
    period();
    EXPECT_FALSE(engine.begin_recording(bad));
    EXPECT_FALSE(engine.is_recording());
    EXPECT_EQ(engine.recording_path, bad);
    period();
    // The open one was completed before the attempt.
    EXPECT_EQ(audio_test::read_sound(good).samples.size(), 1u * kPeriod * 2);
}

TEST_F(Mixing, ARecordingOpenAtTheEndIsCompletedByTheEngine) {
    const auto path = (dir.path() / "last.wav").string();
    {
        AudioEngine last;
        ASSERT_TRUE(last.begin_recording(path));
        std::vector<float> output(kPeriod * 2, 0.0f);
        last.process_period(output.data(), kPeriod);
    }
    const auto file = quarn_test::read_file(path);
    ASSERT_EQ(file.size(), 44u + kPeriod * 8);
    EXPECT_EQ(static_cast<unsigned char>(file[40]), (kPeriod * 8) & 0xff);
    EXPECT_EQ(static_cast<unsigned char>(file[41]), (kPeriod * 8) >> 8);
}

namespace {

// A disk whose writes wait until it is let go.
class StalledDisk {
  public:
    void write() {
        std::unique_lock<std::mutex> lock(mutex_);
        ++writes_;
        changed_.notify_all();
        changed_.wait(lock, [this] { return released_; });
    }
    bool wait_for_a_write() {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(5), [this] { return writes_ > 0; });
    }
    void release() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            released_ = true;
        }
        changed_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int writes_ = 0;
    bool released_ = false;
};

// What an audio thread did over some periods, and what it played.
struct AudioThreadRun {
    bool finished = false;
    int allocations = 0;
    int mutex_locks = 0;
    std::vector<float> played;
};

class RecordingToAStalledDisk : public ::testing::Test {
  protected:
    // The writer thread must get out of its write before the engine goes.
    ~RecordingToAStalledDisk() override { disk.release(); }

    // `count` periods on a thread of their own, as the device runs them.
    AudioThreadRun periods_on_an_audio_thread(int count) {
        AudioThreadRun run;
        run.played.assign(static_cast<std::size_t>(count) * kPeriod * 2, 0.0f);
        auto done = std::async(std::launch::async, [this, count, &run] {
            counting = true;
            for (int p = 0; p < count; ++p)
                engine.process_period(run.played.data() + p * kPeriod * 2, kPeriod);
            counting = false;
            run.allocations = allocations;
            run.mutex_locks = mutex_locks;
        });
        run.finished = done.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
        if (!run.finished)
            disk.release();  // so that the test ends, failed
        done.wait();
        return run;
    }

    std::vector<float> period() {
        std::vector<float> output(kPeriod * 2, 0.0f);
        engine.process_period(output.data(), kPeriod);
        return output;
    }

    StalledDisk disk;
    quarn_test::TempDir dir;
    const std::string path = (dir.path() / "take.wav").string();
    audio_test::PacedDiskEngine engine{[this] { disk.write(); }};
};

std::vector<float> joined(std::vector<float> first, const std::vector<float>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

}  // namespace

TEST_F(RecordingToAStalledDisk, PeriodsOfATakeAllocateNothingLockNothingMoreAndNeverWaitForIt) {
    engine.play(constant_buffer(96000 * 4, 0.25f), 1.0f, 0);
    const auto without_take = periods_on_an_audio_thread(400);
    ASSERT_TRUE(engine.begin_recording(path));
    const auto first = periods_on_an_audio_thread(4);
    // From here on the writer thread is held inside a write.
    ASSERT_TRUE(disk.wait_for_a_write());
    const auto during = periods_on_an_audio_thread(400);
    ASSERT_TRUE(first.finished && during.finished) << "a period waited for the disk";
    EXPECT_EQ(without_take.allocations, 0);
    EXPECT_EQ(during.allocations, 0);
    EXPECT_EQ(during.mutex_locks, without_take.mutex_locks);
    EXPECT_FALSE(engine.recording_failed());

    disk.release();
    engine.end_recording();
    EXPECT_EQ(engine.last_recording_error(), 0);
    // Every frame handed over is in the file once the take has ended.
    EXPECT_EQ(audio_test::read_sound(path).samples, joined(first.played, during.played));
}

TEST_F(RecordingToAStalledDisk, ARingThatFillsEndsTheTakeAsFailedAndKeepsAReadableFile) {
    std::atomic<int> told{0};
    engine.set_recording_failed_callback([&told] { ++told; });
    std::vector<float> ramp(96000 * 5 * 2);
    for (std::size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = static_cast<float>(i) / static_cast<float>(ramp.size());
    engine.play(stereo_buffer(ramp), 1.0f, 0);
    ASSERT_TRUE(engine.begin_recording(path));
    std::vector<float> played = period();
    ASSERT_TRUE(disk.wait_for_a_write());
    int periods = 1;
    for (; periods < 2000 && !engine.recording_failed(); ++periods)
        played = joined(std::move(played), period());
    // The ring holds four seconds; the period after them fails the take.
    EXPECT_EQ(periods * kPeriod, 4 * 96000 + kPeriod);
    EXPECT_TRUE(engine.is_recording());
    EXPECT_EQ(told, 0);  // not before the file is complete

    disk.release();
    EXPECT_TRUE(quarn_test::wait_until([&told] { return told > 0; }, std::chrono::seconds(1)));
    period();  // refused: the take has failed
    engine.end_recording();
    EXPECT_EQ(told, 1);
    EXPECT_FALSE(engine.is_recording());
    EXPECT_EQ(engine.last_recording_error(), ENOBUFS);
    // What reached the file stays, with a header that counts it.
    const std::string file = quarn_test::read_file(path);
    ASSERT_GT(file.size(), 44u);
    EXPECT_EQ(audio_test::u32_at(file, 40), file.size() - 44);
    const auto sound = audio_test::read_sound(path);
    ASSERT_LE(sound.samples.size(), played.size());
    EXPECT_TRUE(std::equal(sound.samples.begin(), sound.samples.end(), played.begin()));
}

namespace {

// An engine whose recordings reach the WAV size limit after 1000 frames.
class SmallLimitEngine : public AudioEngine {
  protected:
    std::unique_ptr<audio::WavWriter> make_recording_file() override {
        return std::make_unique<audio::WavWriter>(1000 * 8);
    }
};

// A disk whose third write throws `thrown`.
template <typename Thrown>
std::unique_ptr<AudioEngine> throwing_disk(Thrown thrown) {
    return std::make_unique<audio_test::PacedDiskEngine>([thrown, writes = 0]() mutable {
        if (++writes == 3)
            throw thrown;
    });
}

}  // namespace

TEST(RecordingEndedOnItsWriterThread, TheFileIsCompleteAndTheEndToldOnceWhateverItsCallbackThrows) {
    struct Case {
        const char* what;
        std::function<std::unique_ptr<AudioEngine>()> make_engine;
        int error;
    };
    const std::vector<Case> cases = {
        {"the size limit", [] { return std::make_unique<SmallLimitEngine>(); }, EFBIG},
        {"a runtime_error", [] { return throwing_disk(std::runtime_error("disk")); }, EIO},
        {"a bad_alloc", [] { return throwing_disk(std::bad_alloc()); }, ENOMEM},
        {"a system_error",
         [] { return throwing_disk(std::system_error(ENOSPC, std::generic_category())); }, ENOSPC},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        quarn_test::TempDir dir;
        const auto path = (dir.path() / "take.wav").string();
        auto engine = c.make_engine();
        std::atomic<int> told{0};
        // What the callback throws stays on the writer thread.
        engine->set_recording_failed_callback([&told] {
            ++told;
            throw std::runtime_error("the interface is gone");
        });
        engine->play(constant_buffer(96000, 0.25f), 1.0f, 0);
        ASSERT_TRUE(engine->begin_recording(path));
        std::vector<float> played;
        for (int p = 0; p < 2000 && told == 0; ++p) {
            std::vector<float> output(kPeriod * 2, 0.0f);
            engine->process_period(output.data(), kPeriod);
            played.insert(played.end(), output.begin(), output.end());
            if (p % 8 == 7)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_TRUE(quarn_test::wait_until([&told] { return told > 0; }, std::chrono::seconds(5)));
        EXPECT_TRUE(engine->recording_failed());
        engine->end_recording();
        EXPECT_EQ(told, 1);
        const audio::TakeEnd end = engine->last_recording_end();
        EXPECT_EQ(end.error, c.error);
        EXPECT_EQ(end.full, c.error == EFBIG);
        const std::string file = quarn_test::read_file(path);
        ASSERT_GE(file.size(), 44u);
        EXPECT_EQ(audio_test::u32_at(file, 40), file.size() - 44);
        EXPECT_EQ(audio_test::u32_at(file, 4), file.size() - 8);
        EXPECT_EQ(end.frames, (file.size() - 44) / 8);
        if (c.error == EFBIG) {
            EXPECT_EQ(end.frames, 1000u);
        }
        const auto sound = audio_test::read_sound(path);
        ASSERT_LE(sound.samples.size(), played.size());
        EXPECT_TRUE(std::equal(sound.samples.begin(), sound.samples.end(), played.begin()));
    }
}
