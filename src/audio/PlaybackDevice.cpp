#include "audio/PlaybackDevice.h"

#include <SDL2/SDL.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sstream>
#include <string_view>

namespace audio {

namespace {

// SDL's audio subsystem is process-wide and SDL_AudioInit restarts it when
// called twice, closing every open device; so it is started for the first
// open device and stopped after the last one closes.
std::mutex subsystem_mutex;
int subsystem_users = 0;

bool acquire_audio_subsystem() {
    std::lock_guard<std::mutex> lock(subsystem_mutex);
    if (subsystem_users == 0) {
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        if (SDL_AudioInit(nullptr) != 0)
            return false;
    }
    ++subsystem_users;
    return true;
}

void release_audio_subsystem() {
    std::lock_guard<std::mutex> lock(subsystem_mutex);
    if (--subsystem_users == 0)
        SDL_AudioQuit();
}

}  // namespace

PeriodChoice choose_period(const char* value) {
    PeriodChoice choice;
    if (value == nullptr || *value == '\0')
        return choice;
    const std::string_view text(value);
    int frames = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), frames);
    const bool is_number = error == std::errc{} && end == text.data() + text.size() &&
                           text.front() >= '0' && text.front() <= '9';
    if (is_number && frames >= kMinPeriodFrames && frames <= kMaxPeriodFrames &&
        (frames & (frames - 1)) == 0) {
        choice.frames = frames;
        return choice;
    }
    std::ostringstream refusal;
    refusal << kPeriodFramesVariable << " must be a power of two from " << kMinPeriodFrames
            << " to " << kMaxPeriodFrames << ", not " << text;
    choice.refusal = refusal.str();
    return choice;
}

PeriodChoice period_from_environment() {
    return choose_period(std::getenv(kPeriodFramesVariable));
}

PlaybackDevice::~PlaybackDevice() {
    uninit();
}

bool PlaybackDevice::init(const DeviceConfig& config) {
    uninit();
    if (config.channels < 1 || config.sample_rate < 1 || config.period_frames < 1 ||
        !acquire_audio_subsystem())
        return false;
    config_ = config;
    SDL_AudioSpec wanted{};
    wanted.freq = config.sample_rate;
    wanted.format = AUDIO_F32SYS;
    wanted.channels = static_cast<Uint8>(config.channels);
    wanted.samples = static_cast<Uint16>(std::min(config.period_frames, 32768));
    wanted.callback = &PlaybackDevice::on_period;
    wanted.userdata = this;
    SDL_AudioSpec obtained{};
    // No allowed changes: SDL converts whatever the hardware wants.
    device_id_ = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    if (device_id_ == 0) {
        release_audio_subsystem();
        return false;
    }
    return true;
}

bool PlaybackDevice::start() {
    if (device_id_ == 0)
        return false;
    SDL_PauseAudioDevice(device_id_, 0);
    return SDL_GetAudioDeviceStatus(device_id_) == SDL_AUDIO_PLAYING;
}

void PlaybackDevice::uninit() {
    if (device_id_ == 0)
        return;
    SDL_CloseAudioDevice(device_id_);
    device_id_ = 0;
    release_audio_subsystem();
}

void PlaybackDevice::on_period(void* self, unsigned char* stream, int length) {
    auto* device = static_cast<PlaybackDevice*>(self);
    const int channels = device->config_.channels;
    const int frames = length / static_cast<int>(sizeof(float) * channels);
    // SDL hands over the buffer uninitialised.
    std::memset(stream, 0, static_cast<std::size_t>(length));
    if (device->config_.data_callback == nullptr || frames <= 0)
        return;
    auto* output = reinterpret_cast<float*>(stream);
    device->config_.data_callback(device, output, nullptr, static_cast<std::uint32_t>(frames));
    // NaN fails every comparison, so std::clamp would pass it on: it is
    // played as silence.
    for (int i = 0; i < frames * channels; ++i) {
        const float value = output[i];
        output[i] = value >= -1.0f ? std::min(value, 1.0f) : (value < -1.0f ? -1.0f : 0.0f);
    }
}

}  // namespace audio
