#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

#include "audio/LinearResampler.h"
#include "audio_test_util.h"

using audio::LinearResampler;
using audio::output_rate_for_semitones;
using audio::ResamplerConfig;
using audio::ResampleResult;

namespace {

std::vector<float> random_frames(std::size_t frames, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> sample(-1.0f, 1.0f);
    std::vector<float> samples(frames * 2);
    for (auto& value : samples)
        value = sample(random);
    return samples;
}

LinearResampler pitch_resampler(std::uint32_t rate_out) {
    ResamplerConfig config;
    config.sample_rate_out = rate_out;
    return LinearResampler(config);
}

// Feeds all of `input` through `resampler`, asking for at most `out_piece`
// output frames and offering at most `in_piece` input frames per call; checks
// that no call reports or writes more than it was allowed.
std::vector<float> run_in_pieces(LinearResampler& resampler, const std::vector<float>& input,
                                 std::uint64_t in_piece, std::uint64_t out_piece) {
    const std::uint64_t total_in = input.size() / 2;
    std::vector<float> output;
    std::vector<float> piece((out_piece + 1) * 2);
    std::uint64_t position = 0;
    for (int stalled = 0; stalled < 2;) {
        std::uint64_t frames_in = std::min(in_piece, total_in - position);
        std::uint64_t frames_out = out_piece;
        const std::uint64_t offered = frames_in;
        piece[out_piece * 2] = 12345.0f;  // must stay untouched
        EXPECT_EQ(
            resampler.process(input.data() + position * 2, frames_in, piece.data(), frames_out),
            ResampleResult::success);
        EXPECT_LE(frames_in, offered);
        EXPECT_LE(frames_out, out_piece);
        EXPECT_EQ(piece[out_piece * 2], 12345.0f);
        position += frames_in;
        output.insert(output.end(), piece.begin(), piece.begin() + frames_out * 2);
        stalled = frames_in == 0 && frames_out == 0 ? stalled + 1 : 0;
    }
    EXPECT_EQ(position, total_in);
    return output;
}

// Every input frame, straight from the definition in double precision: a
// one-pole low-pass on the side of the higher rate, at the lower rate's
// Nyquist; output frame k interpolated at input position k * in / out.
std::vector<double> linear_model(const std::vector<float>& input, int channel, double out) {
    const double in = 96000.0;
    const std::size_t frames = input.size() / 2;
    const double pole = std::exp(-std::numbers::pi * std::min(in, out) / std::max(in, out));
    std::vector<double> source(frames);
    double state = 0.0;
    for (std::size_t n = 0; n < frames; ++n) {
        source[n] = input[2 * n + channel];
        if (out < in)
            source[n] = state = (1.0 - pole) * source[n] + pole * state;
    }
    std::vector<double> output;
    state = 0.0;
    for (std::uint64_t k = 0;; ++k) {
        const double position = static_cast<double>(k) * in / out;
        const auto before = static_cast<std::size_t>(position);
        if (before >= frames || (position > before && before + 1 >= frames))
            break;
        const double after = before + 1 < frames ? source[before + 1] : 0.0;
        double value = source[before] + (after - source[before]) * (position - before);
        if (out > in)
            value = state = (1.0 - pole) * value + pole * state;
        output.push_back(value);
    }
    return output;
}

}  // namespace

TEST(ResamplerRate, FollowsSemitonesAndStaysWithin32Bits) {
    EXPECT_EQ(output_rate_for_semitones(0), 96000u);
    EXPECT_EQ(output_rate_for_semitones(12), 48000u);
    EXPECT_EQ(output_rate_for_semitones(-12), 192000u);
    EXPECT_EQ(output_rate_for_semitones(1), 90611u);  // 90611.93 truncated
    EXPECT_EQ(output_rate_for_semitones(7), 64072u);
    EXPECT_EQ(output_rate_for_semitones(198), 1u);
    EXPECT_EQ(output_rate_for_semitones(199), 1u);
    EXPECT_EQ(output_rate_for_semitones(INT_MAX), 1u);
    EXPECT_EQ(output_rate_for_semitones(-185), 4199043104u);
    EXPECT_EQ(output_rate_for_semitones(-186), UINT32_MAX);
    EXPECT_EQ(output_rate_for_semitones(INT_MIN), UINT32_MAX);
}

TEST(Resampler, EqualRatesCopyTheInputSampleForSample) {
    const auto input = random_frames(5000, 1);
    for (std::uint64_t out_piece : {1u, 7u, 256u, 8192u}) {
        auto resampler = pitch_resampler(96000);
        EXPECT_EQ(run_in_pieces(resampler, input, 5000, out_piece), input) << out_piece;
    }
}

TEST(Resampler, SplittingTheWorkDoesNotChangeTheOutput) {
    const auto input = random_frames(3000, 2);
    for (std::uint32_t rate : {48000u, 64072u, 90611u, 96001u, 192000u, 1000000u, 3000u, 16u, 1u}) {
        auto whole = pitch_resampler(rate);
        const auto expected = run_in_pieces(whole, input, 3000, 1u << 16);
        for (auto [in_piece, out_piece] :
             {std::pair<std::uint64_t, std::uint64_t>{1, 3}, {17, 1}, {256, 256}, {3000, 5}}) {
            auto split = pitch_resampler(rate);
            EXPECT_EQ(run_in_pieces(split, input, in_piece, out_piece), expected)
                << "rate " << rate << " pieces " << in_piece << "/" << out_piece;
        }
    }
}

TEST(Resampler, OutputLengthFollowsTheRate) {
    const auto input = random_frames(9600, 3);
    struct Case {
        std::uint32_t rate;
        std::size_t frames;
    };
    // The last frame of the input ends the output: one octave up keeps every
    // second frame, one octave down adds a frame between each pair.
    for (const Case& c : {Case{96000, 9600}, Case{48000, 4800}, Case{192000, 19199}}) {
        auto resampler = pitch_resampler(c.rate);
        EXPECT_EQ(run_in_pieces(resampler, input, 9600, 256).size() / 2, c.frames) << c.rate;
    }
    // The lowest rate yields one frame per 96000 input frames.
    const auto long_input = random_frames(96000 * 3 + 10, 4);
    auto slowest = pitch_resampler(1);
    EXPECT_EQ(run_in_pieces(slowest, long_input, 1u << 20, 256).size() / 2, 4u);
}

TEST(Resampler, ReadsEveryFrameAndFollowsTheLinearModelWithin48Semitones) {
    const auto input = random_frames(4000, 5);
    for (int semitones : {-48, -12, -1, 1, 7, 12, 48}) {
        const std::uint32_t rate = output_rate_for_semitones(semitones);
        auto resampler = pitch_resampler(rate);
        EXPECT_EQ(resampler.input_stride(), 1u) << semitones;
        const auto output = run_in_pieces(resampler, input, 256, 256);
        for (int channel : {0, 1}) {
            const auto expected = linear_model(input, channel, rate);
            ASSERT_EQ(output.size() / 2, expected.size()) << semitones;
            for (std::size_t k = 0; k < expected.size(); ++k)
                ASSERT_NEAR(output[2 * k + channel], expected[k], 1e-4)
                    << semitones << " frame " << k;
        }
    }
}

TEST(Resampler, FarUpReadsABoundedShareOfTheInputAndKeepsItsLength) {
    // Only the frames it reads hold a value: one read in passing would
    // spoil every output after it.
    constexpr std::size_t kFrames = 96000 * 8;
    for (int semitones : {49, 59, 60, 150, 199}) {
        const std::uint32_t rate = output_rate_for_semitones(semitones);
        auto resampler = pitch_resampler(rate);
        const std::uint32_t stride = resampler.input_stride();
        ASSERT_GT(stride, 1u) << semitones;
        const double read_per_output = 96000.0 / (static_cast<double>(stride) * rate);
        EXPECT_LE(read_per_output, 4.0) << semitones;
        EXPECT_GT(read_per_output, 3.0) << semitones;
        std::vector<float> input(kFrames * 2, std::numeric_limits<float>::quiet_NaN());
        for (std::size_t n = 0; n < kFrames; n += stride)
            input[2 * n] = input[2 * n + 1] = 0.5f;
        const auto output = run_in_pieces(resampler, input, 100000, 64);
        EXPECT_EQ(output.size() / 2, (kFrames - 1) * rate / 96000 + 1) << semitones;
        for (float value : output)
            ASSERT_TRUE(std::isfinite(value)) << semitones;
        EXPECT_NEAR(output.back(), 0.5f, 1e-3) << semitones;
    }
}

TEST(Resampler, KeepsTheLevelAndScalesTheFrequencyOfATone) {
    // A 300 Hz tone, well below every low-pass involved.
    const auto mono = audio_test::sine(300.0, 96000, 96000, 0.5f);
    std::vector<float> input;
    for (float value : mono)
        input.insert(input.end(), {value, -value});
    const int input_crossings = audio_test::zero_crossings(input, 2, 0);
    for (int semitones : {-12, -5, 0, 7, 12, 24}) {
        const std::uint32_t rate = output_rate_for_semitones(semitones);
        auto resampler = pitch_resampler(rate);
        const auto output = run_in_pieces(resampler, input, 96000, 256);
        EXPECT_NEAR(audio_test::rms(output, 2, 0), 0.5 / std::sqrt(2.0), 0.01) << semitones;
        EXPECT_NEAR(audio_test::rms(output, 2, 1), 0.5 / std::sqrt(2.0), 0.01) << semitones;
        // Same number of cycles in a sound of a different length.
        EXPECT_NEAR(audio_test::zero_crossings(output, 2, 0), input_crossings, 2) << semitones;
        EXPECT_NEAR(static_cast<double>(output.size() / 2), 96000.0 * rate / 96000.0, 2.0)
            << semitones;
    }
}

TEST(Resampler, DampsTonesThatWouldFoldBackWhenPitchedUp) {
    // 40 kHz lies above the 24 kHz that an octave up can hold; unfiltered it
    // would come back at full level as an 8 kHz tone.
    const auto mono = audio_test::sine(40000.0, 96000, 9600, 0.5f);
    std::vector<float> input;
    for (float value : mono)
        input.insert(input.end(), {value, value});
    auto octave_up = pitch_resampler(48000);
    const auto output = run_in_pieces(octave_up, input, 9600, 256);
    EXPECT_LT(audio_test::rms(output, 2, 0), 0.8 * audio_test::rms(input, 2, 0));
}

TEST(Resampler, RejectsMissingBuffersWithoutTouchingState) {
    auto resampler = pitch_resampler(48000);
    std::vector<float> output(16);
    std::uint64_t frames_in = 4;
    std::uint64_t frames_out = 8;
    EXPECT_EQ(resampler.process(nullptr, frames_in, output.data(), frames_out),
              ResampleResult::invalid_args);
    EXPECT_EQ(frames_in, 0u);
    EXPECT_EQ(frames_out, 0u);
    // Nothing to read and nowhere to write is not an error.
    frames_in = 0;
    frames_out = 0;
    EXPECT_EQ(resampler.process(nullptr, frames_in, nullptr, frames_out), ResampleResult::success);
}
