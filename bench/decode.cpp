// Decoding speed: seconds of audio decoded per second of work, for WAV at a
// foreign rate, WAV at the engine's own rate and MP3 (constant and variable
// bitrate); then what measuring a file's length before decoding it costs
// against the decoding, for each.
#include <sndfile.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "AudioEngine.h"
#include "audio/SampleDecoder.h"
#include "audio_test_util.h"

namespace {

constexpr double kSeconds = 30.0;

std::vector<float> tone(int rate, int channels) {
    const auto frames = static_cast<std::size_t>(kSeconds * rate);
    std::vector<float> data(frames * channels);
    for (std::size_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            data[i * channels + c] =
                0.5f * static_cast<float>(std::sin(0.05 * static_cast<double>(i)));
    return data;
}

bool write_tone(const std::string& path, int format, int rate, int channels) {
    return audio_test::write_sound(path, format, rate, channels, tone(rate, channels));
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The best of a few runs of audio::declared_frames_of, in seconds.
double measuring_time(const std::string& path) {
    double best = 1e30;
    for (int run = 0; run < 5; ++run) {
        const auto start = std::chrono::steady_clock::now();
        if (!audio::declared_frames_of(path))
            return -1.0;
        best = std::min(best, seconds_since(start));
    }
    return best;
}

// Prints the decoding speed of `path`; the best time of a few runs, or a
// negative one when it does not decode.
double measure(const AudioEngine& engine, const std::string& label, const std::string& path) {
    constexpr int kRuns = 3;
    double best = 1e30;
    unsigned long frames = 0;
    for (int run = 0; run < kRuns; ++run) {
        const auto start = std::chrono::steady_clock::now();
        const auto buffer = engine.load_sample(path);
        const double seconds = seconds_since(start);
        if (!buffer) {
            std::printf("%-28s could not be decoded\n", label.c_str());
            return -1.0;
        }
        frames = buffer->frame_count;
        best = std::min(best, seconds);
    }
    const double audio_seconds = frames / 96000.0;
    std::printf("%-28s %6.2f s of audio in %7.4f s: %7.1f s of audio per second\n", label.c_str(),
                audio_seconds, best, audio_seconds / best);
    return best;
}

}  // namespace

int main() {
    const auto folder = std::filesystem::temp_directory_path() / "quarn-bench-decode";
    std::filesystem::create_directories(folder);
    struct File {
        std::string label;
        std::string path;
        bool written;
    };
    const auto at = [&](const char* name) { return (folder / name).string(); };
    const std::vector<File> files = {
        {"WAV 16-bit mono 44.1 kHz", at("mono44k.wav"),
         write_tone(at("mono44k.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 1)},
        {"WAV float stereo 96 kHz", at("stereo96k.wav"),
         write_tone(at("stereo96k.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 96000, 2)},
        {"MP3 mono 44.1 kHz", at("mono44k.mp3"),
         write_tone(at("mono44k.mp3"), SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 44100, 1)},
        {"MP3 VBR stereo 44.1 kHz", at("vbr44k.mp3"),
         audio_test::write_mp3(at("vbr44k.mp3"), 44100, 2, tone(44100, 2), SF_BITRATE_MODE_VARIABLE,
                               0.3)},
    };
    AudioEngine engine;
    std::vector<double> decoding;
    for (const File& file : files) {
        if (!file.written) {
            std::printf("cannot write %s\n", file.path.c_str());
            return 1;
        }
        decoding.push_back(measure(engine, file.label, file.path));
    }
    std::printf("\nmeasuring the length before decoding (declared_frames_of):\n");
    for (std::size_t i = 0; i < files.size(); ++i) {
        const double seconds = measuring_time(files[i].path);
        if (seconds < 0.0 || decoding[i] <= 0.0)
            std::printf("%-28s not measured\n", files[i].label.c_str());
        else
            std::printf("%-28s %8.3f ms: %5.2f %% of decoding it\n", files[i].label.c_str(),
                        seconds * 1000.0, 100.0 * seconds / decoding[i]);
    }
    std::filesystem::remove_all(folder);
    return 0;
}
