#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/LinearResampler.h"
#include "audio/PlaybackDevice.h"
#include "audio/ThreadedWavWriter.h"
#include "audio/WavWriter.h"

// A decoded sample in memory: `frame_count` frames of `channel_count`
// interleaved floats at 96 kHz. Owns `sample_data` and frees it when the last
// holder lets go, which may be the audio thread. The data never changes.
// Threads: any; shared read-only once made.
class AudioBuffer {
  public:
    // Takes ownership of `data`, an array of `frames` x `channels` floats.
    AudioBuffer(float* data, unsigned long frames, int channels);
    virtual ~AudioBuffer();
    AudioBuffer(const AudioBuffer&) = delete;
    AudioBuffer& operator=(const AudioBuffer&) = delete;

    float* sample_data;
    unsigned long frame_count;
    int channel_count;
};

// One sounding instance of a sample, pitched by resampling: the output rate
// follows the semitones, so a sample pitched up is shorter, one pitched down
// longer, up to a bound: a sound lasts at most its sample's own length or
// kShortestBound, whichever is longer, and its last kFadeFrames fade out.
// Far down a short sample would otherwise sound for hours: from -181
// semitones on, each input frame stretches over some 44,000 output frames.
//
// Threads: built on any thread and moved into one of the engine's players
// under its lock; from then on touched only under that lock.
class AudioPlayer {
  public:
    // Silent, holding no buffer: a player not in use.
    AudioPlayer();
    AudioPlayer(std::shared_ptr<AudioBuffer> buffer, float volume, int semitones);
    virtual ~AudioPlayer();
    AudioPlayer(const AudioPlayer&) = delete;
    AudioPlayer& operator=(const AudioPlayer&) = delete;
    // Allocates nothing, so that a play on the audio thread need not either.
    AudioPlayer(AudioPlayer&&) = default;
    AudioPlayer& operator=(AudioPlayer&&) = default;

    // 30 seconds at 96 kHz.
    static constexpr std::uint64_t kShortestBound = 30 * 96000;

    audio::LinearResampler resampler;
    audio::ResamplerConfig resampler_config;
    std::shared_ptr<AudioBuffer> buffer;  // keeps the data alive while it plays
    std::uint64_t read_position = 0;      // next frame of `buffer` for the resampler
    float volume;
    int semitones;
    std::uint64_t most_frames;        // the frames it may sound, fade included
    std::uint64_t frames_played = 0;  // the frames it has sounded
};

// The playback device, the mixer and the recorder.
//
// Lock order: `players_mutex` is the last lock of the system; under it the
// engine calls nothing outside itself. Never copied or moved: its address is
// the device's user data.
class AudioEngine {
  public:
    // Main thread. Opens nothing.
    AudioEngine();
    // Main thread. Completes an open recording, then closes the device.
    virtual ~AudioEngine();
    AudioEngine(const AudioEngine&) = delete;
    AudioEngine& operator=(const AudioEngine&) = delete;

    // Called at the start of every period with its frame count and the
    // device's rate, holding no lock. Set before `start`, never changed after.
    std::function<void(int frames, int sample_rate)> tick_callback;
    // Gain on the whole mix, not clamped. Written by any thread, read by the
    // audio thread once per period.
    std::atomic<float> master_volume{1.0f};
    // The current or last recording, or the last failed attempt. Main thread.
    std::string recording_path;

    // Main thread. Closes a running device, then opens and starts the default
    // one; false (with a line on standard output) when it cannot.
    bool start();
    // Main thread. Closes the device; no period runs once it returns. May be
    // called again while stopped.
    void stop();
    // The most players sounding at once. Each costs up to about 8 us of a
    // 2.7 ms period (a sample pitched four octaves up reads 16 frames for each
    // it plays), so a full engine takes a fifth of the period; and 64 is more
    // than 8-step patterns of short samples overlap.
    static constexpr std::size_t kMaxPlayers = 64;
    // The fade of a player that gives way to a new one or reaches its bound:
    // 1 ms, short enough not to be heard as sound, long enough not to click.
    static constexpr int kFadeFrames = 96;

    // Any thread, including the audio thread from the tick hook. The player is
    // built before the lock is taken and sounds from the next mix on. With
    // kMaxPlayers sounding, it takes the place of the oldest, which fades out
    // over kFadeFrames (or goes silently when it has not sounded yet).
    // Allocates nothing.
    void play(std::shared_ptr<AudioBuffer> buffer, float volume, int semitones);
    // Any thread; touches no member. Decodes a whole WAV or MP3 file to
    // stereo at 96 kHz; null when it is not a regular file, cannot be
    // decoded, holds no frames or would pass 30 minutes.
    std::shared_ptr<AudioBuffer> load_sample(std::string path) const;
    // Main thread. Completes an open recording, then starts writing the mix to
    // a new WAV file at `path` on a writer thread of the recording's own;
    // false when the file cannot be created (one that exists is never
    // replaced) or the thread cannot be started.
    bool begin_recording(const std::string& path);
    // Main thread. Completes the open recording, if any: returns once every
    // frame of it is in the file and the header is final.
    void end_recording();
    // Main thread. Why the last recording failed, as an errno value: it could
    // not be created (EEXIST: the name is taken), a write to it failed, the
    // disk fell seconds behind the audio (ENOBUFS), it reached the WAV size
    // limit (EFBIG), or its file was lost (ENOENT); the file then holds what
    // was written before. 0 when it went well.
    int last_recording_error() const { return recording_end.error; }
    // Main thread. How the last recording ended, after end_recording().
    const audio::TakeEnd& last_recording_end() const { return recording_end; }
    // Any thread, no lock. Stays true for a recording that has failed until
    // end_recording().
    bool is_recording() const { return recording.load(std::memory_order_acquire); }
    // Main thread. The open recording has failed: nothing more goes to its
    // file, and end_recording() completes it at once and tells why.
    bool recording_failed() const { return encoder && encoder->failed(); }
    // Main thread. `callback` runs on the recording's writer thread when an
    // open recording fails (after its file is complete); it must not block.
    // Replacing it waits for a call in progress.
    void set_recording_failed_callback(std::function<void()> callback);

    // Runs one period into `output` (`frame_count` interleaved stereo frames,
    // zeroed by the caller): the tick hook, then the mix of every player under
    // the master volume, made finite (a sum past the float range becomes the
    // largest float of its sign, NaN silence; finite sums stay unclipped),
    // then the recording (a copy into its ring: the disk is written on the
    // recording's own thread). The device's audio thread, or a test with no
    // device open.
    void process_period(float* output, int frame_count);

    // Any thread. The players still sounding, at most kMaxPlayers.
    std::size_t player_count();

    // Any thread but the audio thread: lets go of the buffers of the players
    // that have ended or given way, freeing each that no one else holds. The
    // mixer hands them over instead of freeing them, since freeing a large
    // buffer takes longer than a period; the application calls this on each
    // event of its interface, and the engine once more when it goes.
    void release_ended_players();

  protected:
    // The file a recording writes through; a stand-in for a slow disk can be
    // given here. Main thread.
    virtual std::unique_ptr<audio::WavWriter> make_recording_file();

  private:
    static constexpr int kMixFrames = 8192;
    // Seconds of audio the recording's ring holds while the disk lags.
    static constexpr std::size_t kRecordingRingSeconds = 4;
    // Buffers handed over between two releases before the mixer lets go of
    // them itself (which frees one only if no one else holds it).
    static constexpr std::size_t kEndedBuffers = 256;

    // Adds the next `frame_count` frames of every player and of the fades to
    // `output` and drops the players that ended. Under `players_mutex`.
    void mix_slice(float* output, int frame_count, float master);
    // Adds one player's frames; false once it has ended.
    bool mix_player(AudioPlayer& player, float* output, int frame_count, float master);
    // The recording's writer thread, when the recording has failed.
    void tell_recording_failed();
    // Resamples up to `frame_count` frames of `player` into mix_buffer and
    // moves it on; returns the frames made. Under `players_mutex`.
    std::uint64_t render(AudioPlayer& player, int frame_count);
    // The oldest player, taken out of `players` and faded out, to be used
    // again. Under `players_mutex`.
    AudioPlayer& take_oldest_player(float master);
    // Renders the next kFadeFrames of `player`, fading, into `fade_tail`.
    void fade_out(AudioPlayer& player, float master);
    // The level, 1 falling towards 0, of frame `k` of a fade.
    static float fade_level(std::uint64_t k);
    // The level of `player`'s next frame but `k` under its bound: 1 until its
    // last kFadeFrames, which fade.
    static float bound_level(const AudioPlayer& player, std::uint64_t k);
    void add_fade_tail(float* output, int frame_count);
    // Gives an ended player's buffer to release_ended_players().
    void hand_over(std::shared_ptr<AudioBuffer> buffer);

    audio::DeviceConfig device_config;
    audio::PlaybackDevice device;
    audio::EncoderConfig encoder_config;
    std::unique_ptr<audio::ThreadedWavWriter> encoder;  // set while recording
    audio::TakeEnd recording_end;                       // main thread only
    bool device_started = false;                        // main thread only
    std::atomic<bool> recording{false};
    std::mutex players_mutex;  // guards `players`, `encoder` and `recording`
    // Under `players_mutex` too, as are the fades further below: all the
    // players there can be, made with the engine, so that no play allocates.
    std::array<AudioPlayer, kMaxPlayers> player_pool;
    std::vector<AudioPlayer*> players;                        // the sounding ones, oldest first
    std::vector<AudioPlayer*> idle_players;                   // the rest
    std::vector<std::shared_ptr<AudioBuffer>> ended_buffers;  // at most kEndedBuffers
    std::array<float, kMixFrames * audio::kChannels> mix_buffer;
    std::mutex recording_failed_mutex;  // guards the callback below; taken with no other
    std::function<void()> recording_failed_callback;
    // Under `players_mutex`: the fades of players that gave way, summed: a
    // ring whose next frame to play is `fade_start`; the `fade_frames` from
    // there hold sound, the rest 0.
    std::array<float, kFadeFrames * audio::kChannels> fade_tail{};
    int fade_start = 0;
    int fade_frames = 0;
};

// The body of the device callback.
class AudioEngineProcessor {
  public:
    // The device's audio thread. `device`'s user data is the engine.
    static void data_callback(audio::PlaybackDevice* device, float* output, const float* input,
                              std::uint32_t frame_count);
};
