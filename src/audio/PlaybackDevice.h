#pragma once

#include <cstdint>
#include <string>

#include "audio/Format.h"

namespace audio {

// The step clock moves on period boundaries, so a hit can be late by up to
// one period: 256 frames (2.7 ms) unless QUARN_PERIOD_FRAMES asks for a
// longer one that a desktop sound server can keep up with.
inline constexpr int kDefaultPeriodFrames = 256;
inline constexpr int kMinPeriodFrames = 64;
inline constexpr int kMaxPeriodFrames = 4096;
inline constexpr const char* kPeriodFramesVariable = "QUARN_PERIOD_FRAMES";

struct PeriodChoice {
    int frames = kDefaultPeriodFrames;
    std::string refusal;  // why the value was refused; empty when it was taken
};

// The period `value` asks for: a power of two from kMinPeriodFrames to
// kMaxPeriodFrames in decimal digits. Unset (null) or empty means the
// default; anything else is refused and leaves the default. Any thread.
PeriodChoice choose_period(const char* value);
// choose_period of QUARN_PERIOD_FRAMES. Main thread, which alone may change
// the environment.
PeriodChoice period_from_environment();

class PlaybackDevice;

// Called on the device's audio thread once per period. `output` holds
// `frame_count` interleaved frames, zeroed before the call; whatever the
// callback leaves there is clipped to [-1, 1] and played. `input` is always
// null (playback only).
using DataCallback = void (*)(PlaybackDevice* device, float* output, const float* input,
                              std::uint32_t frame_count);

struct DeviceConfig {
    int channels = kChannels;
    int sample_rate = static_cast<int>(kSampleRate);
    int period_frames = kDefaultPeriodFrames;
    DataCallback data_callback = nullptr;
    void* user_data = nullptr;
};

// The default output device, opened through SDL's audio subsystem alone (its
// event subsystem would take SIGINT from the terminal). SDL converts to the
// hardware's format, so the callback always sees exactly the configured one.
//
// Threads: every operation on one controlling thread (the main thread); the
// callback runs on SDL's audio thread between `start` and `uninit`.
class PlaybackDevice {
  public:
    PlaybackDevice() = default;
    ~PlaybackDevice();
    PlaybackDevice(const PlaybackDevice&) = delete;
    PlaybackDevice& operator=(const PlaybackDevice&) = delete;

    // Opens the device paused; false when no device could be opened.
    bool init(const DeviceConfig& config);
    // Lets the callback run; false when the device does not play.
    bool start();
    // Stops and closes the device; returns after a callback in progress has
    // finished, and none runs afterwards. Does nothing when closed.
    void uninit();

    bool is_open() const { return device_id_ != 0; }
    int sample_rate() const { return config_.sample_rate; }
    void* user_data() const { return config_.user_data; }

  private:
    static void on_period(void* self, unsigned char* stream, int length);

    DeviceConfig config_;
    std::uint32_t device_id_ = 0;
};

}  // namespace audio
