#pragma once

// Sound files and buffers made by the audio tests themselves.

#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "AudioEngine.h"

namespace audio_test {

// Writes interleaved `samples` of `channels` channels at `rate` in `format`
// (SF_FORMAT_...); false when libsndfile refuses.
inline bool write_sound(const std::string& path, int format, int rate, int channels,
                        const std::vector<float>& samples) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr)
        return false;
    const auto frames = static_cast<sf_count_t>(samples.size() / channels);
    const bool written = sf_writef_float(file, samples.data(), frames) == frames;
    sf_close(file);
    return written;
}

// Writes an MP3 through libsndfile's LAME encoder, its bitrate chosen by
// `bitrate_mode` (SF_BITRATE_MODE_...) and `level` (0 the highest, 1 the
// lowest); false when libsndfile refuses. LAME puts a Xing or Info frame (the
// stream's length and the encoder's delay and padding) first, unless the
// bitrate leaves a frame too small for it.
inline bool write_mp3(const std::string& path, int rate, int channels,
                      const std::vector<float>& samples, int bitrate_mode, double level) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr)
        return false;
    // libsndfile answers the bitrate mode with false even where it takes it.
    sf_command(file, SFC_SET_BITRATE_MODE, &bitrate_mode, sizeof bitrate_mode);
    sf_command(file, SFC_SET_COMPRESSION_LEVEL, &level, sizeof level);
    const auto frames = static_cast<sf_count_t>(samples.size() / channels);
    const bool written = sf_writef_float(file, samples.data(), frames) == frames;
    sf_close(file);
    return written;
}

// The size in bytes of the MPEG layer III frame whose header starts at `at`
// in `bytes`; 0 when no such header starts there.
inline std::size_t mp3_frame_size(const std::string& bytes, std::size_t at) {
    if (at + 4 > bytes.size())
        return 0;
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[at + i]); };
    const int version = (byte(1) >> 3) & 3;  // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
    const int bitrate_index = byte(2) >> 4;
    const int rate_index = (byte(2) >> 2) & 3;
    if (byte(0) != 0xff || (byte(1) & 0xe0) != 0xe0 || ((byte(1) >> 1) & 3) != 1 || version == 1 ||
        bitrate_index == 0 || bitrate_index == 15 || rate_index == 3)
        return 0;
    static constexpr int kMpeg1Kbps[] = {0,   32,  40,  48,  56,  64,  80, 96,
                                         112, 128, 160, 192, 224, 256, 320};
    static constexpr int kMpeg2Kbps[] = {0,  8,  16, 24,  32,  40,  48, 56,
                                         64, 80, 96, 112, 128, 144, 160};
    static constexpr int kMpeg1Rates[] = {44100, 48000, 32000};
    const int rate = kMpeg1Rates[rate_index] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
    const int padding = (byte(2) >> 1) & 1;
    if (version == 3)
        return static_cast<std::size_t>(144000 * kMpeg1Kbps[bitrate_index] / rate + padding);
    return static_cast<std::size_t>(72000 * kMpeg2Kbps[bitrate_index] / rate + padding);
}

// An MP3 file's bytes without its first frame when that is a Xing or Info
// frame: a stream whose length is then known only by reading it all.
// "" when the first frame is no such frame.
inline std::string without_length_frame(const std::string& mp3) {
    const std::size_t size = mp3_frame_size(mp3, 0);
    const std::string first = mp3.substr(0, size);
    if (size == 0 ||
        (first.find("Xing") == std::string::npos && first.find("Info") == std::string::npos))
        return "";
    return mp3.substr(size);
}

// All frames of a sound file as floats, and its channel count and rate.
struct Sound {
    std::vector<float> samples;
    int channels = 0;
    int rate = 0;
    bool opened = false;
};

inline Sound read_sound(const std::string& path) {
    Sound sound;
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr)
        return sound;
    sound.opened = true;
    sound.channels = info.channels;
    sound.rate = info.samplerate;
    std::vector<float> block(4096 * static_cast<std::size_t>(info.channels));
    while (const sf_count_t frames = sf_readf_float(file, block.data(), 4096))
        sound.samples.insert(sound.samples.end(), block.begin(),
                             block.begin() + frames * info.channels);
    sf_close(file);
    return sound;
}

// A sine of `frequency` Hz, `frames` long, at `rate`, one channel.
inline std::vector<float> sine(double frequency, int rate, std::size_t frames, float amplitude) {
    std::vector<float> samples(frames);
    for (std::size_t i = 0; i < frames; ++i)
        samples[i] = amplitude * static_cast<float>(std::sin(2.0 * std::numbers::pi * frequency *
                                                             static_cast<double>(i) / rate));
    return samples;
}

// A stereo buffer holding `samples` (interleaved left, right).
inline std::shared_ptr<AudioBuffer> stereo_buffer(const std::vector<float>& samples) {
    auto data = std::make_unique<float[]>(samples.size());
    std::copy(samples.begin(), samples.end(), data.get());
    auto buffer = std::make_shared<AudioBuffer>(data.get(), samples.size() / 2, 2);
    data.release();
    return buffer;
}

// A stereo buffer of `frames` frames, every sample `value`.
inline std::shared_ptr<AudioBuffer> constant_buffer(std::size_t frames, float value) {
    return stereo_buffer(std::vector<float>(frames * 2, value));
}

// The little-endian 32-bit field at `offset` of a file's bytes.
inline std::uint32_t u32_at(const std::string& bytes, std::size_t offset) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(bytes[offset + i]);
    return value;
}

// A recording's file that runs `before_write` ahead of every write: a
// stand-in for a slow or stalled disk.
class PacedFile : public audio::WavWriter {
  public:
    explicit PacedFile(std::function<void()> before_write)
        : before_write_(std::move(before_write)) {}
    std::uint64_t write(const float* frames, std::uint64_t frame_count) override {
        before_write_();
        return WavWriter::write(frames, frame_count);
    }

  private:
    std::function<void()> before_write_;
};

// An engine whose recordings are written through a PacedFile.
class PacedDiskEngine : public AudioEngine {
  public:
    explicit PacedDiskEngine(std::function<void()> before_write)
        : before_write_(std::move(before_write)) {}

  protected:
    std::unique_ptr<audio::WavWriter> make_recording_file() override {
        return std::make_unique<PacedFile>(before_write_);
    }

  private:
    std::function<void()> before_write_;
};

// Sign changes of one channel of interleaved `samples`.
inline int zero_crossings(const std::vector<float>& samples, int channels, int channel) {
    int crossings = 0;
    for (std::size_t i = channels + channel; i < samples.size(); i += channels)
        if ((samples[i - channels] < 0.0f) != (samples[i] < 0.0f))
            ++crossings;
    return crossings;
}

// Root mean square of one channel of interleaved `samples`.
inline double rms(const std::vector<float>& samples, int channels, int channel) {
    double sum = 0.0;
    std::size_t count = 0;
    for (std::size_t i = channel; i < samples.size(); i += channels, ++count)
        sum += static_cast<double>(samples[i]) * samples[i];
    return count == 0 ? 0.0 : std::sqrt(sum / count);
}

}  // namespace audio_test
