#include "AudioEngine.h"

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <iostream>

#include "audio/Format.h"
#include "audio/SampleDecoder.h"

namespace {

audio::ResamplerConfig pitch_config(int semitones) {
    audio::ResamplerConfig config;
    config.sample_rate_in = audio::kSampleRate;
    config.sample_rate_out = audio::output_rate_for_semitones(semitones);
    config.lpf_order = 1;
    config.lpf_nyquist_factor = 1.0;
    return config;
}

// Every sample finite, for the device and the take alike: a sum past the
// float range (volumes are not clamped) becomes the largest float of its
// sign, as loud as a float goes, which the device clips like any sum past 1;
// NaN (infinities of both signs met, or an infinite gain on silence) has no
// level and becomes silence. Finite sums stay as they are, unclipped.
void make_finite(float* samples, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const float value = samples[i];
        if (!std::isfinite(value))
            samples[i] = std::isnan(value) ? 0.0f : std::copysign(FLT_MAX, value);
    }
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

AudioPlayer::AudioPlayer() : AudioPlayer(nullptr, 0.0f, 0) {}

AudioPlayer::AudioPlayer(std::shared_ptr<AudioBuffer> buffer, float volume, int semitones)
    : resampler(pitch_config(semitones)),
      resampler_config(resampler.config()),
      buffer(std::move(buffer)),
      volume(volume),
      semitones(semitones),
      most_frames(this->buffer ? std::max<std::uint64_t>(this->buffer->frame_count, kShortestBound)
                               : 0) {}

AudioPlayer::~AudioPlayer() = default;

void AudioEngineProcessor::data_callback(audio::PlaybackDevice* device, float* output,
                                         const float* /*input*/, std::uint32_t frame_count) {
    auto* engine = static_cast<AudioEngine*>(device->user_data());
    engine->process_period(output, static_cast<int>(std::min<std::uint32_t>(frame_count, INT_MAX)));
}

AudioEngine::AudioEngine() {
    players.reserve(kMaxPlayers);
    idle_players.reserve(kMaxPlayers);
    for (AudioPlayer& player : player_pool)
        idle_players.push_back(&player);
    ended_buffers.reserve(kEndedBuffers);
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
    AudioPlayer started(std::move(buffer), volume, semitones);
    const float master = master_volume.load(std::memory_order_relaxed);
    std::lock_guard<std::mutex> lock(players_mutex);
    AudioPlayer* player = nullptr;
    if (idle_players.empty()) {
        player = &take_oldest_player(master);
    } else {
        player = idle_players.back();
        idle_players.pop_back();
    }
    *player = std::move(started);
    players.push_back(player);
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
    // The file is created and its writer thread started before the lock is
    // taken; under it the audio thread only ever copies frames into the
    // recording's ring, so it never waits for the disk.
    auto writer = std::make_unique<audio::ThreadedWavWriter>(
        make_recording_file(), kRecordingRingSeconds * audio::kSampleRate,
        [this] { tell_recording_failed(); });
    recording_end = audio::TakeEnd{};
    if (!writer->open(path, encoder_config)) {
        recording_end.error = writer->error();
        return false;
    }
    std::lock_guard<std::mutex> lock(players_mutex);
    encoder = std::move(writer);
    recording.store(true, std::memory_order_release);
    return true;
}

void AudioEngine::end_recording() {
    std::unique_ptr<audio::ThreadedWavWriter> finished;
    {
        std::lock_guard<std::mutex> lock(players_mutex);
        if (!recording.load(std::memory_order_relaxed))
            return;
        finished = std::move(encoder);
        recording.store(false, std::memory_order_release);
    }
    // No period hands frames over any more: the writer thread writes the last
    // of them, completes the header and ends.
    finished->close();
    recording_end = finished->end();
}

void AudioEngine::set_recording_failed_callback(std::function<void()> callback) {
    std::lock_guard<std::mutex> lock(recording_failed_mutex);
    recording_failed_callback = std::move(callback);
}

void AudioEngine::tell_recording_failed() {
    std::lock_guard<std::mutex> lock(recording_failed_mutex);
    if (recording_failed_callback)
        recording_failed_callback();
}

std::unique_ptr<audio::WavWriter> AudioEngine::make_recording_file() {
    return std::make_unique<audio::WavWriter>();
}

std::size_t AudioEngine::player_count() {
    std::lock_guard<std::mutex> lock(players_mutex);
    return players.size();
}

void AudioEngine::hand_over(std::shared_ptr<AudioBuffer> buffer) {
    // Full only when no one has released them for long: then the reference
    // goes here, which frees the buffer only if no one else holds it.
    if (ended_buffers.size() < kEndedBuffers)
        ended_buffers.push_back(std::move(buffer));
}

void AudioEngine::release_ended_players() {
    std::array<std::shared_ptr<AudioBuffer>, kEndedBuffers> released;
    {
        std::lock_guard<std::mutex> lock(players_mutex);
        std::move(ended_buffers.begin(), ended_buffers.end(), released.begin());
        ended_buffers.clear();
    }
}  // the buffers no one else holds are freed here, outside the lock

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
    if (frame_count > 0)
        make_finite(output, static_cast<std::size_t>(frame_count) * audio::kChannels);
    if (recording.load(std::memory_order_relaxed) && frame_count > 0)
        encoder->push(output, static_cast<std::uint64_t>(frame_count));
}

void AudioEngine::mix_slice(float* output, int frame_count, float master) {
    // Compacts the list in place, keeping the order of the players that go on.
    std::size_t kept = 0;
    for (std::size_t i = 0; i < players.size(); ++i) {
        AudioPlayer* player = players[i];
        if (!mix_player(*player, output, frame_count, master)) {
            hand_over(std::move(player->buffer));
            idle_players.push_back(player);
            continue;
        }
        players[kept++] = player;
    }
    players.resize(kept);
    add_fade_tail(output, frame_count);
}

std::uint64_t AudioEngine::render(AudioPlayer& player, int frame_count) {
    const AudioBuffer& sample = *player.buffer;
    if (player.read_position >= sample.frame_count)
        return 0;
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
        return 0;
    }
    player.read_position += frames_in;
    return frames_out;
}

bool AudioEngine::mix_player(AudioPlayer& player, float* output, int frame_count, float master) {
    const std::uint64_t allowed = player.most_frames - player.frames_played;
    const std::uint64_t frames =
        render(player, static_cast<int>(std::min<std::uint64_t>(frame_count, allowed)));
    const float gain = master * player.volume;
    // The frames before the fade at the bound take the gain as it is.
    const std::uint64_t fade_from =
        player.most_frames - std::min<std::uint64_t>(player.most_frames, kFadeFrames);
    const std::uint64_t whole =
        player.frames_played < fade_from ? std::min(frames, fade_from - player.frames_played) : 0;
    for (std::uint64_t i = 0; i < whole * audio::kChannels; ++i)
        output[i] += mix_buffer[i] * gain;
    for (std::uint64_t k = whole; k < frames; ++k) {
        const float level = gain * bound_level(player, k);
        for (std::uint64_t c = 0; c < audio::kChannels; ++c)
            output[k * audio::kChannels + c] += mix_buffer[k * audio::kChannels + c] * level;
    }
    player.frames_played += frames;
    return player.read_position < player.buffer->frame_count &&
           player.frames_played < player.most_frames;
}

float AudioEngine::fade_level(std::uint64_t k) {
    return static_cast<float>(kFadeFrames - std::min<std::uint64_t>(k, kFadeFrames)) /
           static_cast<float>(kFadeFrames);
}

float AudioEngine::bound_level(const AudioPlayer& player, std::uint64_t k) {
    const std::uint64_t left = player.most_frames - player.frames_played - k;
    return left >= kFadeFrames ? 1.0f : fade_level(kFadeFrames - left);
}

AudioPlayer& AudioEngine::take_oldest_player(float master) {
    AudioPlayer& oldest = *players.front();
    players.erase(players.begin());
    // One started in this same period has not sounded: it goes silently.
    if (oldest.read_position > 0)
        fade_out(oldest, master);
    hand_over(std::move(oldest.buffer));
    return oldest;
}

void AudioEngine::fade_out(AudioPlayer& player, float master) {
    // Not past the bound, nor louder than a fade at the bound under way.
    const std::uint64_t allowed = player.most_frames - player.frames_played;
    const auto frames = static_cast<int>(
        render(player, static_cast<int>(std::min<std::uint64_t>(kFadeFrames, allowed))));
    const float gain = master * player.volume;
    for (int k = 0; k < frames; ++k) {
        const auto at_k = static_cast<std::uint64_t>(k);
        const float level = gain * std::min(fade_level(at_k), bound_level(player, at_k));
        const int at = (fade_start + k) % kFadeFrames;
        for (int c = 0; c < audio::kChannels; ++c)
            fade_tail[at * audio::kChannels + c] += mix_buffer[k * audio::kChannels + c] * level;
    }
    fade_frames = std::max(fade_frames, frames);
}

void AudioEngine::add_fade_tail(float* output, int frame_count) {
    const int frames = std::min(fade_frames, frame_count);
    for (int k = 0; k < frames; ++k) {
        const int at = (fade_start + k) % kFadeFrames;
        for (int c = 0; c < audio::kChannels; ++c) {
            output[k * audio::kChannels + c] += fade_tail[at * audio::kChannels + c];
            fade_tail[at * audio::kChannels + c] = 0.0f;
        }
    }
    fade_start = (fade_start + frames) % kFadeFrames;
    fade_frames -= frames;
}
