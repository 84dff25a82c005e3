// Pack switch: milliseconds to switch to a pack of 64 one-second samples
// (16-bit stereo WAV at 44.1 kHz, so every file is also converted to 96 kHz),
// and for comparison the same files decoded one after another.
#include <sndfile.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "App.h"

namespace {

constexpr int kSamples = 64;
constexpr int kRate = 44100;
constexpr int kRuns = 7;

bool write_second(const std::string& path, int seed) {
    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr)
        return false;
    std::vector<float> data(2 * kRate);
    const double step = 0.01 + 0.001 * seed;
    for (int i = 0; i < kRate; ++i)
        data[2 * i] = data[2 * i + 1] = 0.4f * static_cast<float>(std::sin(step * i));
    const bool complete = sf_writef_float(file, data.data(), kRate) == kRate;
    sf_close(file);
    return complete;
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

}  // namespace

int main() {
    const auto base = std::filesystem::temp_directory_path() / "quarn-bench-packload";
    std::filesystem::remove_all(base);
    const auto pack = base / "samples" / "big";
    std::filesystem::create_directories(pack);
    std::filesystem::create_directories(base / "samples" / "default");
    std::vector<std::string> paths;
    for (int i = 0; i < kSamples; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "s%02d.wav", i);
        paths.push_back((pack / name).string());
        if (!write_second(paths.back(), i)) {
            std::printf("cannot write %s\n", paths.back().c_str());
            return 1;
        }
    }

    std::vector<double> switches;
    std::vector<double> one_by_one;
    {
        App app(base.string());
        for (int run = 0; run < kRuns; ++run) {
            const auto start = std::chrono::steady_clock::now();
            app.load_sample_pack("big", false);
            switches.push_back(milliseconds_since(start));
        }
        if (app.get_sample_listing().find("s63") == std::string::npos) {
            std::printf("the pack did not load\n");
            return 1;
        }
        for (int run = 0; run < kRuns; ++run) {
            const auto start = std::chrono::steady_clock::now();
            for (const auto& path : paths)
                app.get_audio_engine().load_sample(path);
            one_by_one.push_back(milliseconds_since(start));
        }
    }
    std::printf("%d samples of 1 s, 16-bit stereo 44.1 kHz WAV\n", kSamples);
    print_runs("switch to the pack", switches);
    print_runs("the same files decoded in turn", one_by_one);
    std::filesystem::remove_all(base);
    return 0;
}
