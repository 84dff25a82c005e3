// Pack switch, two cases.
//
// A real-sized kit first, while the process is fresh: 124 stereo 16-bit
// 44.1 kHz WAV files of 4.5 s. Prints the first switch to it, the same files
// decoded one after another on one thread, the peak resident memory against
// the size of the decoded audio and, when sox is on the machine, sox
// converting the same files to 96 kHz float in one process.
//
// Then 64 one-second files of the same format, switched to several times,
// and for comparison decoded one after another.
#include <sndfile.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "App.h"
#include "audio_test_util.h"

namespace {

constexpr int kRate = 44100;
constexpr int kRuns = 7;

// A drum-like sound: a decaying tone under decaying noise, different for
// every seed.
bool write_hit(const std::string& path, int seed, double seconds) {
    const auto frames = static_cast<sf_count_t>(seconds * kRate);
    std::vector<float> data(2 * frames);
    std::minstd_rand noise(static_cast<unsigned>(seed) + 1);
    std::uniform_real_distribution<float> spread(-1.0f, 1.0f);
    const double step = 0.01 + 0.001 * seed;
    for (sf_count_t i = 0; i < frames; ++i) {
        const double decay = std::exp(-3.0 * static_cast<double>(i) / frames);
        const float tone = static_cast<float>(0.4 * decay * std::sin(step * i));
        data[2 * i] = tone + 0.1f * static_cast<float>(decay) * spread(noise);
        data[2 * i + 1] = tone + 0.1f * static_cast<float>(decay) * spread(noise);
    }
    return audio_test::write_sound(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, kRate, 2, data);
}

// Writes `count` files into `pack` (created); their paths, or none on failure.
std::vector<std::string> write_pack(const std::filesystem::path& pack, int count, double seconds) {
    std::filesystem::create_directories(pack);
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "s%03d.wav", i);
        paths.push_back((pack / name).string());
        if (!write_hit(paths.back(), i, seconds)) {
            std::printf("cannot write %s\n", paths.back().c_str());
            return {};
        }
    }
    return paths;
}

double milliseconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

void print_runs(const char* label, std::vector<double> runs) {
    std::sort(runs.begin(), runs.end());
    std::printf("%-34s min %7.1f ms  median %7.1f ms  max %7.1f ms\n", label, runs.front(),
                runs[runs.size() / 2], runs.back());
}

double peak_resident_mb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // reported in KiB
}

void print_load() {
    double load[3] = {0, 0, 0};
    if (getloadavg(load, 3) == 3)
        std::printf("load average %.2f %.2f %.2f\n", load[0], load[1], load[2]);
}

// Milliseconds for sox to convert `paths` to 96 kHz float in one process, or
// a negative number when sox is missing or fails.
double time_sox(const std::vector<std::string>& paths) {
    if (std::system("command -v sox >/dev/null 2>&1") != 0)
        return -1.0;
    std::string command = "sox -q -V1";
    for (const auto& path : paths)
        command += " '" + path + "'";
    command += " -t raw -e floating-point -b 32 -c 2 -r 96000 /dev/null";
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    const double elapsed = milliseconds_since(start);
    return status == 0 ? elapsed : -1.0;
}

int real_kit(const std::filesystem::path& base) {
    constexpr int kFiles = 124;
    constexpr double kSeconds = 4.5;
    const auto paths = write_pack(base / "samples" / "kit", kFiles, kSeconds);
    if (paths.empty())
        return 1;
    std::printf("%d files of %.1f s, 16-bit stereo 44.1 kHz WAV\n", kFiles, kSeconds);
    print_load();

    App app(base.string());
    const double resident_before = peak_resident_mb();
    auto start = std::chrono::steady_clock::now();
    app.load_sample_pack("kit", false);
    const double first_switch = milliseconds_since(start);
    const double resident_peak = peak_resident_mb();
    if (app.get_sample_listing().find("s123") == std::string::npos) {
        std::printf("the kit did not load\n");
        return 1;
    }

    std::vector<std::shared_ptr<AudioBuffer>> kept;
    start = std::chrono::steady_clock::now();
    for (const auto& path : paths)
        kept.push_back(app.get_audio_engine().load_sample(path));
    const double one_thread = milliseconds_since(start);
    double decoded_mb = 0.0;
    for (const auto& buffer : kept)
        decoded_mb += buffer ? buffer->frame_count * buffer->channel_count * sizeof(float) : 0.0;
    decoded_mb /= 1024.0 * 1024.0;
    kept.clear();

    std::printf("%-34s %7.1f ms\n", "first switch to the kit", first_switch);
    std::printf("%-34s %7.1f ms  (%.2f x the switch)\n", "the same files on one thread", one_thread,
                one_thread / first_switch);
    std::printf("%-34s %7.1f MB  (%.1f MB before the switch)\n", "peak resident memory",
                resident_peak, resident_before);
    std::printf("%-34s %7.1f MB  (peak %.2f x the decoded audio)\n", "decoded audio", decoded_mb,
                resident_peak / decoded_mb);
    const double sox = time_sox(paths);
    if (sox < 0.0)
        std::printf("sox: not run (missing or failed)\n");
    else
        std::printf("%-34s %7.1f ms  (%.2f x the switch)\n", "sox, one process, to 96 kHz float",
                    sox, sox / first_switch);
    print_load();
    return 0;
}

int one_second_files(const std::filesystem::path& base) {
    constexpr int kFiles = 64;
    const auto paths = write_pack(base / "samples" / "big", kFiles, 1.0);
    if (paths.empty())
        return 1;
    std::vector<double> switches;
    std::vector<double> one_by_one;
    App app(base.string());
    for (int run = 0; run < kRuns; ++run) {
        const auto start = std::chrono::steady_clock::now();
        app.load_sample_pack("big", false);
        switches.push_back(milliseconds_since(start));
    }
    if (app.get_sample_listing().find("s063") == std::string::npos) {
        std::printf("the pack did not load\n");
        return 1;
    }
    for (int run = 0; run < kRuns; ++run) {
        const auto start = std::chrono::steady_clock::now();
        for (const auto& path : paths)
            app.get_audio_engine().load_sample(path);
        one_by_one.push_back(milliseconds_since(start));
    }
    std::printf("\n%d files of 1 s, 16-bit stereo 44.1 kHz WAV\n", kFiles);
    print_runs("switch to the pack", switches);
    print_runs("the same files decoded in turn", one_by_one);
    return 0;
}

}  // namespace

int main() {
    const auto base = std::filesystem::temp_directory_path() / "quarn-bench-packload";
    std::filesystem::remove_all(base);
    std::filesystem::create_directories(base / "samples" / "default");
    const int failed = real_kit(base) != 0 || one_second_files(base) != 0;
    std::filesystem::remove_all(base);
    return failed;
}
