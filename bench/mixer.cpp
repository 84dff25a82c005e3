// Mixer figures on one thread, against half of a 256-frame period at 96 kHz:
// - throughput: nanoseconds per voice-frame and how many voices fit;
// - the worst period when the last player of a large buffer ends;
// - the worst period with eight voices pitched far up on a long sample;
// - worst and typical periods with the engine full of voices, at pitches
//   from far down to far up; on a loaded machine the wall-clock worst holds
//   the time other programs had the core, the time on the CPU does not.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <random>
#include <vector>

#include "AudioEngine.h"
#include "audio_test_util.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPeriodFrames = 256;
constexpr double kHalfPeriodNs = 0.5 * kPeriodFrames / 96000.0 * 1e9;

std::shared_ptr<AudioBuffer> noise(unsigned long frames) {
    std::minstd_rand random(7);
    std::uniform_real_distribution<float> sample(-0.5f, 0.5f);
    std::vector<float> data(frames * 2);
    for (float& value : data)
        value = sample(random);
    return audio_test::stereo_buffer(data);
}

// Time this thread has run, which leaves out the time others had the core.
double thread_cpu_ns() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

double ns_since(Clock::time_point start) {
    return std::chrono::duration<double, std::nano>(Clock::now() - start).count();
}

// Nanoseconds per voice-frame for `voices` players at `semitones`.
double measure(const std::shared_ptr<AudioBuffer>& sample, int voices, int semitones) {
    constexpr int kPeriods = 200;
    AudioEngine engine;
    engine.master_volume = 0.001f;
    for (int v = 0; v < voices; ++v)
        engine.play(sample, 1.0f, semitones);
    std::vector<float> output(kPeriodFrames * 2);
    float checksum = 0.0f;
    // One warm-up period, then the timed ones.
    engine.process_period(output.data(), kPeriodFrames);
    const auto start = Clock::now();
    for (int p = 0; p < kPeriods; ++p) {
        std::fill(output.begin(), output.end(), 0.0f);
        engine.process_period(output.data(), kPeriodFrames);
        checksum += output[p % output.size()];
    }
    const double ns = ns_since(start);
    if (engine.player_count() != static_cast<std::size_t>(voices))
        std::printf("  (voices ended early: %zu left)\n", engine.player_count());
    volatile float sink = checksum;
    (void)sink;
    return ns / (static_cast<double>(voices) * kPeriodFrames * kPeriods);
}

struct Periods {
    double worst_ns = 0.0;
    double last_ns = 0.0;     // the period in which the last player ended
    double release_ns = 0.0;  // freeing the ended players afterwards
    int count = 0;

    void add(const Periods& run) {
        worst_ns = std::max(worst_ns, run.worst_ns);
        last_ns = std::max(last_ns, run.last_ns);
        release_ns = std::max(release_ns, run.release_ns);
        count += run.count;
    }
};

// Runs periods until every player has ended, timing each.
Periods run_to_the_end(AudioEngine& engine) {
    std::vector<float> output(kPeriodFrames * 2);
    Periods periods;
    while (engine.player_count() > 0) {
        std::fill(output.begin(), output.end(), 0.0f);
        const auto start = Clock::now();
        engine.process_period(output.data(), kPeriodFrames);
        periods.last_ns = ns_since(start);
        periods.worst_ns = std::max(periods.worst_ns, periods.last_ns);
        ++periods.count;
    }
    const auto start = Clock::now();
    engine.release_ended_players();
    periods.release_ns = ns_since(start);
    return periods;
}

const char* against_half(double ns) {
    return ns < kHalfPeriodNs ? "under" : "OVER";
}

void report(const char* what, const Periods& periods) {
    std::printf(
        "%s:\n  the period the last one ends in %.3f ms (%s half a period)\n"
        "  worst of all %d periods %.3f ms (%s)\n"
        "  then freeing the ended players off the audio thread %.3f ms\n",
        what, periods.last_ns / 1e6, against_half(periods.last_ns), periods.count,
        periods.worst_ns / 1e6, against_half(periods.worst_ns), periods.release_ns / 1e6);
}

// The last player of a 92 MB buffer ends; the buffer is no one else's.
void last_player_of_a_large_buffer() {
    constexpr unsigned long kFrames = 92'000'000 / (2 * sizeof(float));
    Periods periods;
    for (int round = 0; round < 3; ++round) {
        AudioEngine one;
        auto buffer = noise(kFrames);
        one.play(buffer, 1.0f, 0);
        buffer.reset();
        periods.add(run_to_the_end(one));
    }
    report("last player of a 92 MB buffer ends", periods);
}

// Eight voices at +150 semitones on an 8 s sample, all started in one period.
void eight_voices_far_up() {
    const auto sample = noise(96000 * 8);
    Periods periods;
    for (int round = 0; round < 5; ++round) {
        AudioEngine engine;
        for (int v = 0; v < 8; ++v)
            engine.play(sample, 1.0f, 150);
        periods.add(run_to_the_end(engine));
    }
    report("eight voices at +150 on an 8 s sample", periods);
}

// Periods with the engine full of players at `semitones`: the tick hook
// tops it up before every mix, and at every step of 240 bpm plays four more,
// which take the places of the oldest. The plays are timed with the mix.
void full_engine(const std::shared_ptr<AudioBuffer>& sample, int semitones) {
    constexpr int kPeriods = 3000;
    constexpr int kPeriodsPerStep = 47;  // 0.125 s
    AudioEngine engine;
    engine.master_volume = 0.001f;
    int period = 0;
    engine.tick_callback = [&](int, int) {
        while (engine.player_count() < AudioEngine::kMaxPlayers)
            engine.play(sample, 1.0f, semitones);
        for (int extra = 0; period % kPeriodsPerStep == 0 && extra < 4; ++extra)
            engine.play(sample, 1.0f, semitones);
    };
    std::vector<float> output(kPeriodFrames * 2);
    std::vector<double> wall;
    std::vector<double> cpu;
    for (; period < kPeriods; ++period) {
        std::fill(output.begin(), output.end(), 0.0f);
        const double cpu_start = thread_cpu_ns();
        const auto start = Clock::now();
        engine.process_period(output.data(), kPeriodFrames);
        wall.push_back(ns_since(start));
        cpu.push_back(thread_cpu_ns() - cpu_start);
        engine.release_ended_players();
    }
    std::sort(wall.begin(), wall.end());
    std::sort(cpu.begin(), cpu.end());
    const auto percentile = [](const std::vector<double>& sorted, int p) {
        return sorted[sorted.size() * p / 100] / 1e6;
    };
    std::printf(
        "pitch %+4d, %zu voices: period median %.3f, 99th percentile %.3f, worst %.3f ms; on the "
        "CPU 99th percentile %.3f, worst %.3f ms (%s half a period)\n",
        semitones, AudioEngine::kMaxPlayers, percentile(wall, 50), percentile(wall, 99),
        wall.back() / 1e6, percentile(cpu, 99), cpu.back() / 1e6, against_half(cpu.back()));
}

}  // namespace

int main() {
    std::printf("mixer: %d-frame periods at 96 kHz, half a period = %.0f us\n", kPeriodFrames,
                kHalfPeriodNs / 1000.0);
    last_player_of_a_large_buffer();
    eight_voices_far_up();
    const auto sample = noise(96000 * 10);
    for (int semitones : {-150, 0, 48, 59, 60, 150})
        full_engine(sample, semitones);
    for (int semitones : {0, 7, -12}) {
        const int voices = static_cast<int>(AudioEngine::kMaxPlayers);
        const double ns = measure(sample, voices, semitones);
        std::printf(
            "pitch %+3d  %5d voices: %6.2f ns per voice-frame, %6.0f voices fit in half a "
            "period\n",
            semitones, voices, ns, kHalfPeriodNs / (ns * kPeriodFrames));
    }
    return 0;
}
