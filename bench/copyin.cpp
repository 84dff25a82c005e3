// Files copied into the running pack: milliseconds from the first copy until
// all of 100 one-second samples (16-bit stereo WAV at 44.1 kHz) are loaded,
// and for comparison a switch to the pack that holds the same files.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "App.h"
#include "audio_test_util.h"

namespace {

constexpr int kSamples = 100;
constexpr int kRate = 44100;
constexpr int kRuns = 5;
constexpr auto kPatience = std::chrono::seconds(120);

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

bool write_second(const std::string& path, int seed) {
    std::vector<float> data(2 * kRate);
    const double step = 0.01 + 0.001 * seed;
    for (int i = 0; i < kRate; ++i)
        data[2 * i] = data[2 * i + 1] = 0.4f * static_cast<float>(std::sin(step * i));
    return audio_test::write_sound(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, kRate, 2, data);
}

std::size_t loaded_count(App& app) {
    const std::string listing = app.get_sample_listing();
    if (listing.starts_with("You have no samples loaded."))
        return 0;
    std::istringstream words(listing);
    std::size_t count = 0;
    for (std::string word; words >> word;)
        ++count;
    return count;
}

double milliseconds_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void print_runs(const char* label, std::vector<double> runs) {
    std::sort(runs.begin(), runs.end());
    std::printf("%-34s min %7.1f ms  median %7.1f ms  max %7.1f ms\n", label, runs.front(),
                runs[runs.size() / 2], runs.back());
}

}  // namespace

int main() {
    const auto base = fs::temp_directory_path() / "quarn-bench-copyin";
    fs::remove_all(base);
    const auto staging = base / "staging";
    fs::create_directories(staging);
    fs::create_directories(base / "samples" / "default");
    std::vector<std::string> names;
    for (int i = 0; i < kSamples; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "s%03d.wav", i);
        names.push_back(name);
        if (!write_second((staging / name).string(), i)) {
            std::printf("cannot write %s\n", name);
            return 1;
        }
    }

    std::vector<double> copies;
    std::vector<double> switches;
    {
        App app(base.string());
        for (int run = 0; run < kRuns; ++run) {
            const std::string pack = "run" + std::to_string(run);
            fs::create_directories(base / "samples" / pack);
            app.load_sample_pack(pack, false);
            const auto start = Clock::now();
            for (const auto& name : names)
                fs::copy_file(staging / name, base / "samples" / pack / name);
            while (loaded_count(app) < names.size() && Clock::now() - start < kPatience)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            copies.push_back(milliseconds_since(start));
            if (loaded_count(app) < names.size()) {
                std::printf("the copied files did not all load\n");
                return 1;
            }
            const auto switch_start = Clock::now();
            app.load_sample_pack(pack, false);
            switches.push_back(milliseconds_since(switch_start));
        }
    }
    std::printf("%d samples of 1 s, 16-bit stereo 44.1 kHz WAV\n", kSamples);
    print_runs("copied into the active pack", copies);
    print_runs("switch to the same files", switches);
    fs::remove_all(base);
    return 0;
}
