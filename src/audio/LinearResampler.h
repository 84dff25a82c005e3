#pragma once

#include <cstdint>

namespace audio {

// Settings of a LinearResampler; the channel count is always kChannels.
struct ResamplerConfig {
    std::uint32_t sample_rate_in = 96000;
    std::uint32_t sample_rate_out = 96000;  // at least 1
    int lpf_order = 1;                      // 0: no low-pass, 1: one-pole low-pass
    double lpf_nyquist_factor = 1.0;        // cut-off as a share of the lower rate's Nyquist
};

enum class ResampleResult { success, invalid_args };

// Stereo linear-interpolating resampler that turns every `sample_rate_in`
// input frames into `sample_rate_out` output frames. Output frame k lies at
// input position k * in / out; an integer position yields that input frame
// unchanged, so equal rates copy the input sample for sample (the low-pass is
// skipped then). When the rates differ a one-pole low-pass at the lower rate's
// Nyquist runs on the side with the higher rate. Allocates nothing; state is
// carried across calls, so splitting the input or output into pieces gives
// the same frames.
//
// The work per output frame is bounded: where the input rate is more than 16
// times the output rate (+49 semitones and up), only every `input_stride()`th
// input frame is read, 3 to 4 of them per output frame, and the frames
// between are passed over unread. Up to that ratio every frame is read.
//
// Threads: one thread at a time; made off the audio thread, run on it.
class LinearResampler {
  public:
    explicit LinearResampler(const ResamplerConfig& config);

    // Reads at most `frames_in` frames from `input` and writes at most
    // `frames_out` frames to `output`, then sets both counts to the frames it
    // consumed and produced. Stops early only when it needs more input.
    ResampleResult process(const float* input, std::uint64_t& frames_in, float* output,
                           std::uint64_t& frames_out);

    const ResamplerConfig& config() const { return config_; }
    // 1 when every input frame is read; otherwise the distance between the
    // frames that are.
    std::uint32_t input_stride() const { return stride_; }

  private:
    enum class Filter { none, input, output };
    template <Filter filter, bool strided>
    void run(const float* input, std::uint64_t frames_in, float* output, std::uint64_t frames_out,
             std::uint64_t& used, std::uint64_t& made);

    ResamplerConfig config_;
    Filter filter_ = Filter::none;
    float pole_ = 0.0f;  // feedback coefficient of the low-pass
    std::uint32_t stride_ = 1;
    std::int64_t step_out_ = 1;  // sample_rate_out x stride_
    float inverse_step_out_ = 1.0f;
    // How far the next output lies before the newest loaded frame, in units of
    // 1/sample_rate_out input frames; below 0 means more input is needed first.
    std::int64_t phase_ = 0;
    std::uint64_t skip_ = 0;            // input frames to pass over before the next one read
    float previous_[2] = {0.0f, 0.0f};  // the frame before the newest one
    float newest_[2] = {0.0f, 0.0f};
    float filtered_[2] = {0.0f, 0.0f};  // low-pass state
};

// The output rate that shifts a 96 kHz sample by `semitones` (positive is
// higher): 96000 * 2^(-semitones/12) truncated, at least 1 and at most the
// largest 32-bit value. Any thread.
std::uint32_t output_rate_for_semitones(int semitones);

}  // namespace audio
