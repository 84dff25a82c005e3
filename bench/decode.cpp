// Decoding speed: seconds of audio decoded per second of work, for WAV at a
// foreign rate, WAV at the engine's own rate and MP3.
#include <sndfile.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "AudioEngine.h"
#include "audio_test_util.h"

namespace {

constexpr double kSeconds = 30.0;

bool write_tone(const std::string& path, int format, int rate, int channels) {
    const auto frames = static_cast<std::size_t>(kSeconds * rate);
    std::vector<float> data(frames * channels);
    for (std::size_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            data[i * channels + c] =
                0.5f * static_cast<float>(std::sin(0.05 * static_cast<double>(i)));
    return audio_test::write_sound(path, format, rate, channels, data);
}

void measure(const AudioEngine& engine, const std::string& label, const std::string& path) {
    constexpr int kRuns = 3;
    double best = 1e30;
    unsigned long frames = 0;
    for (int run = 0; run < kRuns; ++run) {
        const auto start = std::chrono::steady_clock::now();
        const auto buffer = engine.load_sample(path);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!buffer) {
            std::printf("%-28s could not be decoded\n", label.c_str());
            return;
        }
        frames = buffer->frame_count;
        best = std::min(best, seconds);
    }
    const double audio_seconds = frames / 96000.0;
    std::printf("%-28s %6.2f s of audio in %7.4f s: %7.1f s of audio per second\n", label.c_str(),
                audio_seconds, best, audio_seconds / best);
}

}  // namespace

int main() {
    const auto folder = std::filesystem::temp_directory_path() / "quarn-bench-decode";
    std::filesystem::create_directories(folder);
    const std::string wav_44k = (folder / "mono44k.wav").string();
    const std::string wav_96k = (folder / "stereo96k.wav").string();
    const std::string mp3 = (folder / "mono44k.mp3").string();
    if (!write_tone(wav_44k, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 1) ||
        !write_tone(wav_96k, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 96000, 2) ||
        !write_tone(mp3, SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 44100, 1)) {
        std::printf("cannot write the test files in %s\n", folder.c_str());
        return 1;
    }
    AudioEngine engine;
    measure(engine, "WAV 16-bit mono 44.1 kHz", wav_44k);
    measure(engine, "WAV float stereo 96 kHz", wav_96k);
    measure(engine, "MP3 mono 44.1 kHz", mp3);
    std::filesystem::remove_all(folder);
    return 0;
}
