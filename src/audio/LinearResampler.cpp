#include "audio/LinearResampler.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "audio/Format.h"

namespace audio {

namespace {

// Up to this many input frames per output frame (+48 semitones), every one
// is read.
constexpr std::uint64_t kMostFramesRead = 16;
// Beyond, input frames are skipped so that at most this many are read per
// output frame: what is left of a sample so far up is a click, and reading
// it whole made a voice at +59 cost as much as a dozen at pitch 0.
constexpr std::uint64_t kFramesReadWhenSkipping = 4;

}  // namespace

LinearResampler::LinearResampler(const ResamplerConfig& config) : config_(config) {
    if (config_.sample_rate_in == 0)
        config_.sample_rate_in = 1;
    if (config_.sample_rate_out == 0)
        config_.sample_rate_out = 1;
    // Far below the input rate, the frames read are `stride_` apart: the
    // resampler then works as if the input rate were in / stride_.
    const std::uint64_t in_rate = config_.sample_rate_in;
    const std::uint64_t out_rate = config_.sample_rate_out;
    if (in_rate > kMostFramesRead * out_rate) {
        const std::uint64_t share = kFramesReadWhenSkipping * out_rate;
        stride_ = static_cast<std::uint32_t>((in_rate + share - 1) / share);
    }
    step_out_ = static_cast<std::int64_t>(config_.sample_rate_out) * stride_;
    const double in = config_.sample_rate_in;
    const double out = static_cast<double>(step_out_);
    inverse_step_out_ = static_cast<float>(1.0 / out);
    // The first output needs the first input frame loaded.
    phase_ = -step_out_;

    if (config_.lpf_order < 1 || in == out)
        return;
    // Filtering before a decimation keeps aliases out; after an interpolation
    // it smooths the corners of the straight lines.
    filter_ = out < in ? Filter::input : Filter::output;
    const double ratio = std::min(in, out) / std::max(in, out);
    const double factor = std::clamp(config_.lpf_nyquist_factor, 0.0, 1.0);
    pole_ = static_cast<float>(std::exp(-std::numbers::pi * factor * ratio));
}

ResampleResult LinearResampler::process(const float* input, std::uint64_t& frames_in, float* output,
                                        std::uint64_t& frames_out) {
    if ((input == nullptr && frames_in > 0) || (output == nullptr && frames_out > 0)) {
        frames_in = 0;
        frames_out = 0;
        return ResampleResult::invalid_args;
    }
    std::uint64_t used = 0;
    std::uint64_t made = 0;
    // The common case reads every frame and keeps its inner loop free of
    // skipping; only a decimation is ever strided.
    const bool strided = stride_ > 1;
    switch (filter_) {
        case Filter::none:
            if (strided)
                run<Filter::none, true>(input, frames_in, output, frames_out, used, made);
            else
                run<Filter::none, false>(input, frames_in, output, frames_out, used, made);
            break;
        case Filter::input:
            if (strided)
                run<Filter::input, true>(input, frames_in, output, frames_out, used, made);
            else
                run<Filter::input, false>(input, frames_in, output, frames_out, used, made);
            break;
        case Filter::output:
            run<Filter::output, false>(input, frames_in, output, frames_out, used, made);
            break;
    }
    frames_in = used;
    frames_out = made;
    return ResampleResult::success;
}

template <LinearResampler::Filter filter, bool strided>
void LinearResampler::run(const float* input, std::uint64_t frames_in, float* output,
                          std::uint64_t frames_out, std::uint64_t& used, std::uint64_t& made) {
    static_assert(kChannels == 2);
    const std::int64_t step_in = config_.sample_rate_in;
    const std::int64_t step_out = step_out_;
    const std::uint64_t stride = stride_;
    const float gain = 1.0f - pole_;
    const float pole = pole_;
    const float inverse_out = inverse_step_out_;
    std::int64_t phase = phase_;
    std::uint64_t skip = skip_;
    float previous_left = previous_[0], previous_right = previous_[1];
    float newest_left = newest_[0], newest_right = newest_[1];
    float filtered_left = filtered_[0], filtered_right = filtered_[1];

    while (made < frames_out) {
        while (phase < 0) {
            if constexpr (strided) {
                const std::uint64_t passed = std::min(skip, frames_in - used);
                used += passed;
                skip -= passed;
            }
            if (used == frames_in)
                goto out_of_input;
            previous_left = newest_left;
            previous_right = newest_right;
            newest_left = input[2 * used];
            newest_right = input[2 * used + 1];
            if constexpr (filter == Filter::input) {
                filtered_left = gain * newest_left + pole * filtered_left;
                filtered_right = gain * newest_right + pole * filtered_right;
                newest_left = filtered_left;
                newest_right = filtered_right;
            }
            ++used;
            if constexpr (strided)
                skip = stride - 1;
            phase += step_out;
        }
        const float weight = static_cast<float>(phase) * inverse_out;
        float left = newest_left + (previous_left - newest_left) * weight;
        float right = newest_right + (previous_right - newest_right) * weight;
        if constexpr (filter == Filter::output) {
            filtered_left = gain * left + pole * filtered_left;
            filtered_right = gain * right + pole * filtered_right;
            left = filtered_left;
            right = filtered_right;
        }
        output[2 * made] = left;
        output[2 * made + 1] = right;
        ++made;
        phase -= step_in;
    }
out_of_input:
    phase_ = phase;
    skip_ = skip;
    previous_[0] = previous_left;
    previous_[1] = previous_right;
    newest_[0] = newest_left;
    newest_[1] = newest_right;
    filtered_[0] = filtered_left;
    filtered_[1] = filtered_right;
}

std::uint32_t output_rate_for_semitones(int semitones) {
    constexpr std::uint32_t kLargest = std::numeric_limits<std::uint32_t>::max();
    // Negated as a 64-bit integer, so that the lowest int does not overflow.
    const double exponent = static_cast<double>(-static_cast<std::int64_t>(semitones)) / 12.0;
    const double product = static_cast<double>(kSampleRate) * std::pow(2.0, exponent);
    if (!(product >= 1.0))
        return 1;
    if (product >= static_cast<double>(kLargest))
        return kLargest;
    return static_cast<std::uint32_t>(product);
}

}  // namespace audio
