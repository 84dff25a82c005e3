#include "audio/SampleDecoder.h"

#include <sndfile.h>
#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>

#include "io/RegularFile.h"

namespace audio {

namespace {

constexpr sf_count_t kBlockFrames = 4096;
constexpr std::uint64_t kReadFrames = 4096;
// The widest conversion taken either way; files beyond it are no sound files
// anyone made.
constexpr double kMaxRatio = 256.0;
// Room past the declared length for the converter's rounding, so that a frame
// more than computed costs no copy.
constexpr std::uint64_t kSlackFrames = 16;

// A failed sf_open records its error in libsndfile's one global slot, so two
// threads opening files at once would race on it.
std::mutex open_mutex;

// `frames` of the file's rate at the output rate, rounded up.
std::uint64_t frames_at_ratio(sf_count_t frames, double ratio) {
    const double converted =
        std::ceil(static_cast<double>(std::max<sf_count_t>(frames, 0)) * ratio);
    constexpr double kLargest = static_cast<double>(std::numeric_limits<std::uint64_t>::max());
    return converted >= kLargest ? std::numeric_limits<std::uint64_t>::max()
                                 : static_cast<std::uint64_t>(converted);
}

// One frame of `channels` samples to stereo.
void to_stereo(const float* frame, int channels, float& left, float& right) {
    if (channels == 1) {
        left = right = frame[0];
        return;
    }
    float shared = 0.0f;
    for (int c = 2; c < channels; ++c)
        shared += frame[c];
    const float sources = static_cast<float>(channels - 1);
    left = (frame[0] + shared) / sources;
    right = (frame[1] + shared) / sources;
}

// A new array of `capacity` frames holding the first `frames` of `samples`.
std::unique_ptr<float[]> moved_to(const std::unique_ptr<float[]>& samples, std::uint64_t frames,
                                  std::uint64_t capacity) {
    auto larger = std::make_unique_for_overwrite<float[]>(capacity * kChannels);
    std::copy_n(samples.get(), frames * kChannels, larger.get());
    return larger;
}

}  // namespace

void SampleDecoder::FileCloser::operator()(sf_private_tag* file) const {
    sf_close(file);
}

void SampleDecoder::ConverterDeleter::operator()(soxr* converter) const {
    soxr_delete(converter);
}

SampleDecoder::SampleDecoder() = default;

SampleDecoder::~SampleDecoder() {
    close();
}

bool SampleDecoder::open_file(const std::string& path, std::uint32_t sample_rate) {
    close();
    if (sample_rate < 1)
        return false;
    const int descriptor = io::open_regular_file(path).release();
    if (descriptor < 0)
        return false;
    SF_INFO info{};
    {
        std::lock_guard<std::mutex> lock(open_mutex);
        // libsndfile owns the descriptor from here: a failed open closes it
        // even when asked not to, so closing it again here could close a
        // file another thread has just been given the same number for.
        file_.reset(sf_open_fd(descriptor, SFM_READ, &info, SF_TRUE));
    }
    if (!file_ || info.channels < 1 || info.samplerate < 1) {
        close();
        return false;
    }
    file_channels_ = info.channels;
    ratio_ = static_cast<double>(sample_rate) / info.samplerate;
    declared_frames_ = frames_at_ratio(info.frames, ratio_);
    if (ratio_ > kMaxRatio || ratio_ < 1.0 / kMaxRatio) {
        close();
        return false;
    }
    file_rate_ = static_cast<std::uint32_t>(info.samplerate);
    return true;
}

bool SampleDecoder::open(const std::string& path, std::uint32_t sample_rate) {
    if (!open_file(path, sample_rate))
        return false;
    if (file_rate_ != sample_rate) {
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
        // One thread: a pack switch already decodes a file on every core.
        const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
        soxr_error_t error = nullptr;
        converter_.reset(
            soxr_create(file_rate_, sample_rate, kChannels, &error, &io, &quality, &runtime));
        if (!converter_ || error != nullptr) {
            close();
            return false;
        }
    }
    if (file_channels_ != kChannels)
        file_block_.resize(static_cast<std::size_t>(kBlockFrames) * file_channels_);
    stereo_.resize(static_cast<std::size_t>(kBlockFrames) * kChannels);
    return true;
}

void SampleDecoder::close() {
    converter_.reset();
    file_.reset();
    file_channels_ = 0;
    declared_frames_ = 0;
    end_of_file_ = false;
    stereo_frames_ = 0;
    stereo_position_ = 0;
}

std::uint64_t SampleDecoder::read(float* output, std::uint64_t frame_count) {
    if (!file_ || output == nullptr)
        return 0;
    return converter_ ? read_converted(output, frame_count) : read_unconverted(output, frame_count);
}

bool SampleDecoder::refill() {
    stereo_frames_ = 0;
    stereo_position_ = 0;
    if (end_of_file_)
        return false;
    const bool stereo = file_channels_ == kChannels;
    float* block = stereo ? stereo_.data() : file_block_.data();
    const sf_count_t frames = sf_readf_float(file_.get(), block, kBlockFrames);
    if (frames <= 0) {
        // A damaged file ends where reading fails.
        end_of_file_ = true;
        return false;
    }
    if (!stereo) {
        for (sf_count_t i = 0; i < frames; ++i)
            to_stereo(&file_block_[i * file_channels_], file_channels_, stereo_[2 * i],
                      stereo_[2 * i + 1]);
    }
    stereo_frames_ = static_cast<std::size_t>(frames);
    return true;
}

std::uint64_t SampleDecoder::read_unconverted(float* output, std::uint64_t frame_count) {
    std::uint64_t produced = 0;
    while (produced < frame_count) {
        if (stereo_position_ == stereo_frames_ && file_channels_ == kChannels) {
            // Stereo at the output rate goes straight into place.
            const sf_count_t frames =
                end_of_file_ ? 0
                             : sf_readf_float(file_.get(), output + produced * kChannels,
                                              static_cast<sf_count_t>(frame_count - produced));
            if (frames <= 0) {
                end_of_file_ = true;
                break;
            }
            produced += static_cast<std::uint64_t>(frames);
            continue;
        }
        if (stereo_position_ == stereo_frames_ && !refill())
            break;
        const std::uint64_t frames =
            std::min<std::uint64_t>(frame_count - produced, stereo_frames_ - stereo_position_);
        std::copy_n(&stereo_[stereo_position_ * kChannels], frames * kChannels,
                    output + produced * kChannels);
        stereo_position_ += frames;
        produced += frames;
    }
    return produced;
}

std::uint64_t SampleDecoder::read_converted(float* output, std::uint64_t frame_count) {
    std::uint64_t produced = 0;
    while (produced < frame_count) {
        if (stereo_position_ == stereo_frames_)
            refill();
        // No input left: the converter drains its tail.
        const bool draining = stereo_position_ == stereo_frames_;
        std::size_t used = 0;
        std::size_t made = 0;
        const soxr_error_t error = soxr_process(
            converter_.get(), draining ? nullptr : stereo_.data() + stereo_position_ * kChannels,
            stereo_frames_ - stereo_position_, &used, output + produced * kChannels,
            frame_count - produced, &made);
        if (error != nullptr)
            break;
        stereo_position_ += used;
        produced += made;
        if (made == 0 && (draining || used == 0))
            break;
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

}  // namespace

std::optional<std::uint64_t> declared_frames_of(const std::string& path,
                                                std::uint32_t sample_rate) {
    // The header alone: no converter is set up for a file only measured.
    SampleDecoder decoder;
    if (!decoder.open_file(path, sample_rate))
        return std::nullopt;
    return decoder.declared_frames();
}

DecodedSound decode_file(const std::string& path, std::uint32_t sample_rate,
                         std::uint64_t max_frames, const RoomCheck& room) {
    auto failed = [](DecodeFailure why) {
        DecodedSound nothing;
        nothing.failure = why;
        return nothing;
    };
    auto may_hold = [&](std::uint64_t frames) { return !room || room(frames); };
    SampleDecoder decoder;
    if (!decoder.open(path, sample_rate))
        return failed(DecodeFailure::not_a_sound);
    const std::uint64_t declared = decoder.declared_frames();
    if (declared > max_frames)
        return failed(DecodeFailure::too_long);
    std::uint64_t capacity = std::min(declared + kSlackFrames, max_frames);
    if (!may_hold(capacity))
        return failed(DecodeFailure::no_room);
    auto samples = std::make_unique_for_overwrite<float[]>(capacity * kChannels);
    std::uint64_t frames = 0;
    std::vector<float> overflow;
    for (;;) {
        if (frames == capacity) {
            // The file runs longer than it said (an estimated length): the
            // array grows, as far as there is room for it.
            overflow.resize(kReadFrames * kChannels);
            const std::uint64_t more = decoder.read(overflow.data(), kReadFrames);
            if (more == 0)
                break;
            if (more > max_frames - frames)
                return failed(DecodeFailure::too_long);
            silence_non_finite(overflow.data(), more);
            const std::uint64_t grown =
                std::min(max_frames, std::max(frames + more, capacity + capacity / 2));
            if (!may_hold(grown))
                return failed(DecodeFailure::no_room);
            capacity = grown;
            samples = moved_to(samples, frames, capacity);
            std::copy_n(overflow.data(), more * kChannels, samples.get() + frames * kChannels);
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
    return {std::move(samples), frames};
}

}  // namespace audio
