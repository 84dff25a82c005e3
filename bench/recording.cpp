// The worst period while a take goes to a slow disk (every write of the
// recording's file sleeps 50 ms), against the same periods with no take, in
// one run: eight voices, 256-frame periods paced as a 96 kHz device runs them.
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "AudioEngine.h"
#include "audio_test_util.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPeriodFrames = 256;
constexpr int kVoices = 8;
// Rounds of a second with no take, then a second of a take: the two are
// measured side by side, under the same load of the machine.
constexpr int kRounds = 5;
constexpr int kPeriodsPerSecond = 96000 / kPeriodFrames;
constexpr auto kSlowWrite = std::chrono::milliseconds(50);
constexpr auto kPeriodTime = std::chrono::nanoseconds(1'000'000'000LL * kPeriodFrames / 96000);

double thread_cpu_us() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

// What the periods took: wall-clock time, and the time the thread spent on a
// CPU, which leaves out waiting (and being put aside by other programs).
struct Periods {
    std::vector<double> wall_us;
    std::vector<double> cpu_us;
};

// A second of periods, each started on the device's schedule.
void paced_second(AudioEngine& engine, Periods& periods) {
    std::vector<float> output(kPeriodFrames * 2);
    auto next = Clock::now();
    for (int p = 0; p < kPeriodsPerSecond; ++p) {
        std::this_thread::sleep_until(next);
        next += kPeriodTime;
        std::fill(output.begin(), output.end(), 0.0f);
        const double cpu_start = thread_cpu_us();
        const auto start = Clock::now();
        engine.process_period(output.data(), kPeriodFrames);
        periods.wall_us.push_back(
            std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        periods.cpu_us.push_back(thread_cpu_us() - cpu_start);
    }
}

void print(const char* what, Periods periods) {
    double mean = 0.0;
    for (double us : periods.wall_us)
        mean += us / static_cast<double>(periods.wall_us.size());
    std::sort(periods.wall_us.begin(), periods.wall_us.end());
    std::printf("%-34s worst %7.1f us (on a CPU %5.1f us)   99.9%% %6.1f us   mean %5.1f us\n",
                what, periods.wall_us.back(),
                *std::max_element(periods.cpu_us.begin(), periods.cpu_us.end()),
                periods.wall_us[periods.wall_us.size() * 999 / 1000], mean);
}

}  // namespace

int main() {
    std::atomic<int> writes{0};
    audio_test::PacedDiskEngine engine([&writes] {
        ++writes;
        std::this_thread::sleep_for(kSlowWrite);
    });
    engine.master_volume = 0.1f;
    const auto sample = audio_test::constant_buffer(96000 * (2 * kRounds + 2), 0.5f);
    for (int v = 0; v < kVoices; ++v)
        engine.play(sample, 1.0f, 0);
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("quarn_bench_recording_" + std::to_string(::getpid()) + ".wav"))
                                 .string();

    std::printf(
        "recording: %d voices, %d-frame periods (%.0f us), %d rounds of 1 s without and 1 s "
        "with a take, writes sleep %lld ms\n",
        kVoices, kPeriodFrames, kPeriodTime.count() / 1000.0, kRounds,
        static_cast<long long>(kSlowWrite.count()));
    Periods without_take;
    Periods during_take;
    double slowest_end_ms = 0.0;
    int failed = 0;
    for (int round = 0; round < kRounds; ++round) {
        paced_second(engine, without_take);
        std::filesystem::remove(path);
        if (!engine.begin_recording(path)) {
            std::printf("cannot record to %s\n", path.c_str());
            return 1;
        }
        paced_second(engine, during_take);
        failed += engine.recording_failed() ? 1 : 0;
        const auto start = Clock::now();
        engine.end_recording();
        slowest_end_ms =
            std::max(slowest_end_ms,
                     std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::filesystem::remove(path);

    print("periods with no take:", without_take);
    print("periods of a take to a slow disk:", during_take);
    std::printf(
        "takes: %d slow writes, %d of %d takes failed; end_recording took at most %.1f ms\n",
        writes.load(), failed, kRounds, slowest_end_ms);
    return 0;
}
