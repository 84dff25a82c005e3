// Mixer throughput: nanoseconds per voice-frame and how many voices fit in
// half of a 256-frame period at 96 kHz, at pitch 0 and +7, on one thread.
#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <vector>

#include "AudioEngine.h"

namespace {

constexpr int kPeriodFrames = 256;
constexpr double kHalfPeriodNs = 0.5 * kPeriodFrames / 96000.0 * 1e9;

std::shared_ptr<AudioBuffer> noise(unsigned long frames) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> sample(-0.5f, 0.5f);
    auto data = std::make_unique<float[]>(frames * 2);
    for (unsigned long i = 0; i < frames * 2; ++i)
        data[i] = sample(random);
    auto buffer = std::make_shared<AudioBuffer>(data.get(), frames, 2);
    data.release();
    return buffer;
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
    const auto start = std::chrono::steady_clock::now();
    for (int p = 0; p < kPeriods; ++p) {
        std::fill(output.begin(), output.end(), 0.0f);
        engine.process_period(output.data(), kPeriodFrames);
        checksum += output[p % output.size()];
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    if (engine.player_count() != static_cast<std::size_t>(voices))
        std::printf("  (voices ended early: %zu left)\n", engine.player_count());
    volatile float sink = checksum;
    (void)sink;
    const double ns = std::chrono::duration<double, std::nano>(elapsed).count();
    return ns / (static_cast<double>(voices) * kPeriodFrames * kPeriods);
}

}  // namespace

int main() {
    const auto sample = noise(96000 * 10);
    std::printf("mixer: %d-frame periods at 96 kHz, half a period = %.0f us\n", kPeriodFrames,
                kHalfPeriodNs / 1000.0);
    for (int semitones : {0, 7, -12}) {
        for (int voices : {100, 1000, 4000}) {
            const double ns = measure(sample, voices, semitones);
            std::printf(
                "pitch %+3d  %5d voices: %6.2f ns per voice-frame, %6.0f voices fit in half a "
                "period\n",
                semitones, voices, ns, kHalfPeriodNs / (ns * kPeriodFrames));
        }
    }
    return 0;
}
