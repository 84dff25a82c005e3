#include "audio/SampleDecoder.h"

#include <soxr.h>

#include <algorithm>
#include <cmath>

#include "audio/FrameSource.h"

namespace audio {

namespace {

constexpr std::uint64_t kBlockFrames = 4096;
constexpr std::uint64_t kReadFrames = 4096;
// The widest conversion taken either way; files beyond it are no sound files
// anyone made.
constexpr std::uint64_t kMaxRatio = 256;
// Room past the declared length for the converter's rounding, so that a frame
// more than computed costs no copy.
constexpr std::uint64_t kSlackFrames = 16;

// Whether the converter takes `rate` to `sample_rate`.
bool convertible(std::uint64_t rate, std::uint64_t sample_rate) {
    return rate >= 1 && rate * kMaxRatio >= sample_rate && rate <= sample_rate * kMaxRatio;
}

// A new array of `capacity` frames holding the first `frames` of `samples`.
std::unique_ptr<float[]> moved_to(const std::unique_ptr<float[]>& samples, std::uint64_t frames,
                                  std::uint64_t capacity) {
    auto larger = std::make_unique_for_overwrite<float[]>(capacity * kChannels);
    std::copy_n(samples.get(), frames * kChannels, larger.get());
    return larger;
}

}  // namespace

void SampleDecoder::ConverterDeleter::operator()(soxr* converter) const {
    soxr_delete(converter);
}

SampleDecoder::SampleDecoder() = default;

SampleDecoder::~SampleDecoder() {
    close();
}

bool SampleDecoder::open(const std::string& path, std::uint32_t sample_rate) {
    close();
    if (sample_rate < 1)
        return false;
    sample_rate_ = sample_rate;
    source_ = open_frame_source(path);
    if (!source_ || !start_segment()) {
        close();
        return false;
    }
    declared_frames_ = source_->measured_frames(sample_rate);
    return true;
}

bool SampleDecoder::start_segment() {
    converter_.reset();
    stereo_frames_ = 0;
    stereo_position_ = 0;
    segment_ended_ = false;
    const std::uint64_t rate = source_->rate();
    if (rate == sample_rate_)
        return true;
    if (!convertible(rate, sample_rate_))
        return false;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    // One thread: a pack switch already decodes a file on every core.
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    soxr_error_t error = nullptr;
    converter_.reset(soxr_create(static_cast<double>(rate), sample_rate_, kChannels, &error, &io,
                                 &quality, &runtime));
    if (!converter_ || error != nullptr) {
        converter_.reset();
        return false;
    }
    stereo_.resize(kBlockFrames * kChannels);
    return true;
}

void SampleDecoder::close() {
    converter_.reset();
    source_.reset();
    declared_frames_ = 0;
    segment_ended_ = false;
    finished_ = false;
    stereo_frames_ = 0;
    stereo_position_ = 0;
}

std::uint64_t SampleDecoder::read(float* output, std::uint64_t frame_count) {
    if (!source_ || output == nullptr)
        return 0;
    std::uint64_t produced = 0;
    while (produced < frame_count && !finished_) {
        if (segment_ended_ && !(source_->next_segment() && start_segment())) {
            finished_ = true;
            break;
        }
        float* out = output + produced * kChannels;
        produced += converter_ ? read_converted(out, frame_count - produced)
                               : read_unconverted(out, frame_count - produced);
    }
    return produced;
}

std::uint64_t SampleDecoder::read_unconverted(float* output, std::uint64_t frame_count) {
    // At the output rate the frames go straight into place.
    const std::uint64_t frames = source_->read(output, frame_count);
    segment_ended_ = frames < frame_count;
    return frames;
}

std::uint64_t SampleDecoder::read_converted(float* output, std::uint64_t frame_count) {
    std::uint64_t produced = 0;
    while (produced < frame_count) {
        if (stereo_position_ == stereo_frames_) {
            stereo_position_ = 0;
            stereo_frames_ = source_->read(stereo_.data(), kBlockFrames);
        }
        // No input left in the segment: the converter drains its tail.
        const bool draining = stereo_position_ == stereo_frames_;
        std::size_t used = 0;
        std::size_t made = 0;
        const soxr_error_t error = soxr_process(
            converter_.get(), draining ? nullptr : stereo_.data() + stereo_position_ * kChannels,
            stereo_frames_ - stereo_position_, &used, output + produced * kChannels,
            frame_count - produced, &made);
        stereo_position_ += used;
        produced += made;
        if (error != nullptr || (made == 0 && (draining || used == 0))) {
            segment_ended_ = true;
            break;
        }
    }
    return produced;
}

namespace {

// A float file may hold NaN or infinite values, and one of them in the mix
// would spoil every other sound with it: they become silence.
void silence_non_finite(float* samples, std::uint64_t frames) {
    for (std::uint64_t i = 0; i < frames * kChannels; ++i)
        samples[i] = std::isfinite(samples[i]) ? samples[i] : 0.0f;
}

DecodedSound failed(DecodeFailure why) {
    DecodedSound sound;
    sound.failure = why;
    return sound;
}

}  // namespace

std::optional<std::uint64_t> declared_frames_of(const std::string& path,
                                                std::uint32_t sample_rate) {
    // The source alone: no converter is set up for a file only measured.
    const auto source = sample_rate < 1 ? nullptr : open_frame_source(path);
    if (!source || !convertible(source->rate(), sample_rate))
        return std::nullopt;
    return source->measured_frames(sample_rate);
}

DecodedSound decode_file(const std::string& path, std::uint32_t sample_rate,
                         std::uint64_t max_frames, const RoomCheck& room) {
    SampleDecoder decoder;
    if (!decoder.open(path, sample_rate))
        return failed(DecodeFailure::not_a_sound);
    if (decoder.declared_frames() > max_frames)
        return failed(DecodeFailure::too_long);
    std::uint64_t capacity =
        decoder.declared_frames() + std::min(kSlackFrames, max_frames - decoder.declared_frames());
    if (room && !room(capacity))
        return failed(DecodeFailure::no_room);
    auto samples = std::make_unique_for_overwrite<float[]>(capacity * kChannels);
    std::uint64_t frames = 0;
    std::vector<float> overflow;
    for (;;) {
        if (frames == capacity) {
            // The file runs on past its measured length (it grew since): the
            // array grows, within the bound and as far as `room` allows.
            overflow.resize(kReadFrames * kChannels);
            const std::uint64_t more = decoder.read(overflow.data(), kReadFrames);
            if (more == 0)
                break;
            if (more > max_frames - frames)
                return failed(DecodeFailure::too_long);
            const std::uint64_t grown =
                std::min(max_frames, std::max(frames + more, capacity + capacity / 2));
            if (room && !room(grown))
                return failed(DecodeFailure::no_room);
            silence_non_finite(overflow.data(), more);
            samples = moved_to(samples, frames, grown);
            std::copy_n(overflow.data(), more * kChannels, samples.get() + frames * kChannels);
            capacity = grown;
            frames += more;
            continue;
        }
        const std::uint64_t read = decoder.read(samples.get() + frames * kChannels,
                                                std::min(kReadFrames, capacity - frames));
        if (read == 0)
            break;
        silence_non_finite(samples.get() + frames * kChannels, read);
        frames += read;
    }
    if (frames == 0)
        return failed(DecodeFailure::not_a_sound);
    // A file that ends well before its declared length gives back the rest.
    if (capacity - frames > kReadFrames)
        samples = moved_to(samples, frames, frames);
    return {std::move(samples), frames, DecodeFailure::none};
}

}  // namespace audio
