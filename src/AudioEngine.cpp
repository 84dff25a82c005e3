#include "AudioEngine.h"

#include <algorithm>
#include <climits>
#include <iostream>

#include "audio/Format.h"
#include "audio/SampleDecoder.h"

namespace {

// Players appended before the list first has to grow, so that appends on the
// audio thread rarely allocate more than the player itself.
constexpr std::size_t kReservedPlayers = 1024;

audio::ResamplerConfig pitch_config(int semitones) {
    audio::ResamplerConfig config;
    config.sample_rate_in = audio::kSampleRate;
    config.sample_rate_out = audio::output_rate_for_semitones(semitones);
    config.lpf_order = 1;
    config.lpf_nyquist_factor = 1.0;
    return config;
}

void data_callback(audio::PlaybackDevice* device, float* output, const float* input,
                   std::uint32_t frame_count) {
    AudioEngineProcessor::data_callback(device, output, input, frame_count);
}

}  // namespace

AudioBuffer::AudioBuffer(float* data, unsigned long frames, int channels)
    : sample_data(data), frame_count(frames), channel_count(channels) {}

AudioBuffer::~AudioBuffer() {
    delete[] sample_data;
    sample_data = nullptr;
}

AudioPlayer::AudioPlayer(std::shared_ptr<AudioBuffer> buffer, float volume, int semitones)
    : resampler(pitch_config(semitones)),
      resampler_config(resampler.config()),
      buffer(std::move(buffer)),
      volume(volume),
      semitones(semitones) {}

AudioPlayer::~AudioPlayer() = default;

void AudioEngineProcessor::data_callback(audio::PlaybackDevice* device, float* output,
                                         const float* /*input*/, std::uint32_t frame_count) {
    auto* engine = static_cast<AudioEngine*>(device->user_data());
    engine->process_period(output, static_cast<int>(std::min<std::uint32_t>(frame_count, INT_MAX)));
}

AudioEngine::AudioEngine() {
    players.reserve(kReservedPlayers);
}

AudioEngine::~AudioEngine() {
    end_recording();
    stop();
    release_ended_players();
}

bool AudioEngine::start() {
    stop();
    device_config = audio::DeviceConfig{};
    // A refused value was reported at start-up; here it leaves the default.
    device_config.period_frames = audio::period_from_environment().frames;
    device_config.data_callback = &data_callback;
    device_config.user_data = this;
    // players_mutex is not held here: the device may run its first period
    // before `start` returns, and that period takes the mutex.
    if (!device.init(device_config)) {
        std::cout << "Failed to open playback device." << std::endl;
        device_started = false;
        return false;
    }
    if (!device.start()) {
        std::cout << "Failed to start playback device." << std::endl;
        device.uninit();
        device_started = false;
        return false;
    }
    device_started = true;
    return true;
}

void AudioEngine::stop() {
    if (!device_started)
        return;
    // Waits for a period in progress, which takes players_mutex: so not held.
    device.uninit();
    device_started = false;
}

void AudioEngine::play(std::shared_ptr<AudioBuffer> buffer, float volume, int semitones) {
    if (!buffer)
        return;
    auto player = std::make_shared<AudioPlayer>(std::move(buffer), volume, semitones);
    std::lock_guard<std::mutex> lock(players_mutex);
    players.push_back(std::move(player));
}

std::shared_ptr<AudioBuffer> AudioEngine::load_sample(std::string path) const {
    // A sound too large for the memory left gives null like any file that
    // does not decode; the caller goes on with its other files.
    try {
        audio::DecodedSound sound = audio::decode_file(path);
        if (!sound.samples)
            return nullptr;
        auto sample =
            std::make_shared<AudioBuffer>(sound.samples.get(), sound.frames, audio::kChannels);
        sound.samples.release();  // now owned by the buffer
        return sample;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

bool AudioEngine::begin_recording(const std::string& path) {
    end_recording();
    recording_path = path;
    encoder_config = audio::EncoderConfig{};
    // The file is created before the lock is taken, so the audio thread never
    // waits for the disk on our behalf.
    auto writer = std::make_unique<audio::WavWriter>();
    if (!writer->open(path, encoder_config)) {
        recording_error = writer->error();
        return false;
    }
    recording_error = 0;
    std::lock_guard<std::mutex> lock(players_mutex);
    encoder = std::move(writer);
    recording.store(true, std::memory_order_release);
    return true;
}

void AudioEngine::end_recording() {
    std::unique_ptr<audio::WavWriter> finished;
    {
        std::lock_guard<std::mutex> lock(players_mutex);
        if (!recording.load(std::memory_order_relaxed))
            return;
        finished = std::move(encoder);
        recording.store(false, std::memory_order_release);
    }
    finished->close();
    // The audio thread only notes a failed write; it is told from here.
    recording_error = finished->error();
}

std::size_t AudioEngine::player_count() {
    std::lock_guard<std::mutex> lock(players_mutex);
    return players.size();
}

void AudioEngine::retire(std::shared_ptr<AudioPlayer> player) {
    AudioPlayer* ended = player.get();
    ended->retired_self = std::move(player);
    ended->retired_next = retired.load(std::memory_order_relaxed);
    while (!retired.compare_exchange_weak(ended->retired_next, ended, std::memory_order_release,
                                          std::memory_order_relaxed)) {
    }
}

void AudioEngine::release_ended_players() {
    AudioPlayer* player = retired.exchange(nullptr, std::memory_order_acquire);
    while (player != nullptr) {
        AudioPlayer* next = player->retired_next;
        std::shared_ptr<AudioPlayer> last = std::move(player->retired_self);
        player = next;
    }  // each `last` frees its player here, and maybe the buffer with it
}

void AudioEngine::process_period(float* output, int frame_count) {
    if (tick_callback)
        tick_callback(frame_count, static_cast<int>(audio::kSampleRate));
    const float master = master_volume.load(std::memory_order_relaxed);

    std::lock_guard<std::mutex> lock(players_mutex);
    // mix_buffer holds kMixFrames; a longer period is mixed in slices.
    for (int offset = 0; offset < frame_count; offset += kMixFrames) {
        const int frames = std::min(kMixFrames, frame_count - offset);
        mix_slice(output + static_cast<std::ptrdiff_t>(offset) * audio::kChannels, frames, master);
    }
    if (recording.load(std::memory_order_relaxed) && frame_count > 0)
        encoder->write(output, static_cast<std::uint64_t>(frame_count));
}

void AudioEngine::mix_slice(float* output, int frame_count, float master) {
    // Compacts the list in place, keeping the order of the players that go on.
    // An ended player leaves an empty slot behind, so nothing is freed here.
    std::size_t kept = 0;
    for (std::size_t i = 0; i < players.size(); ++i) {
        if (!mix_player(*players[i], output, frame_count, master)) {
            retire(std::move(players[i]));
            continue;
        }
        if (kept != i)
            players[kept] = std::move(players[i]);
        ++kept;
    }
    players.erase(players.begin() + static_cast<std::ptrdiff_t>(kept), players.end());
}

bool AudioEngine::mix_player(AudioPlayer& player, float* output, int frame_count, float master) {
    const AudioBuffer& sample = *player.buffer;
    if (player.read_position >= sample.frame_count)
        return false;
    std::uint64_t frames_in = sample.frame_count - player.read_position;
    std::uint64_t frames_out = static_cast<std::uint64_t>(frame_count);
    const float* source = sample.sample_data == nullptr
                              ? nullptr
                              : sample.sample_data + audio::kChannels * player.read_position;
    const auto result =
        sample.channel_count == audio::kChannels
            ? player.resampler.process(source, frames_in, mix_buffer.data(), frames_out)
            : audio::ResampleResult::invalid_args;
    if (result != audio::ResampleResult::success) {
        // A player that cannot be resampled ends here instead of being retried.
        player.read_position = sample.frame_count;
        return false;
    }
    const float gain = master * player.volume;
    const std::uint64_t samples = frames_out * audio::kChannels;
    for (std::uint64_t i = 0; i < samples; ++i)
        output[i] += mix_buffer[i] * gain;
    player.read_position += frames_in;
    return player.read_position < sample.frame_count;
}
