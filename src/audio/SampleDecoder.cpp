#include "audio/SampleDecoder.h"

#include <samplerate.h>
#include <sndfile.h>

#include <algorithm>
#include <mutex>

namespace audio {

namespace {

constexpr sf_count_t kBlockFrames = 4096;

// A failed sf_open records its error in libsndfile's one global slot, so two
// threads opening files at once would race on it.
std::mutex open_mutex;

// One frame of `channels` samples to stereo.
void to_stereo(const float* frame, int channels, float& left, float& right) {
    if (channels == 1) {
        left = right = frame[0];
        return;
    }
    if (channels == 2) {
        left = frame[0];
        right = frame[1];
        return;
    }
    float shared = 0.0f;
    for (int c = 2; c < channels; ++c)
        shared += frame[c];
    const float sources = static_cast<float>(channels - 1);
    left = (frame[0] + shared) / sources;
    right = (frame[1] + shared) / sources;
}

}  // namespace

void SampleDecoder::FileCloser::operator()(sf_private_tag* file) const {
    sf_close(file);
}

void SampleDecoder::ConverterDeleter::operator()(SRC_STATE_tag* state) const {
    src_delete(state);
}

SampleDecoder::SampleDecoder() = default;

SampleDecoder::~SampleDecoder() = default;

bool SampleDecoder::open(const std::string& path, std::uint32_t sample_rate) {
    close();
    SF_INFO info{};
    {
        std::lock_guard<std::mutex> lock(open_mutex);
        file_.reset(sf_open(path.c_str(), SFM_READ, &info));
    }
    if (!file_ || info.channels < 1 || info.samplerate < 1 || sample_rate < 1) {
        close();
        return false;
    }
    file_channels_ = info.channels;
    ratio_ = static_cast<double>(sample_rate) / info.samplerate;
    if (static_cast<std::uint32_t>(info.samplerate) != sample_rate) {
        if (src_is_valid_ratio(ratio_) == 0) {
            close();
            return false;
        }
        int error = 0;
        converter_.reset(src_new(SRC_SINC_FASTEST, kChannels, &error));
        if (!converter_) {
            close();
            return false;
        }
    }
    file_block_.resize(static_cast<std::size_t>(kBlockFrames) * file_channels_);
    stereo_.resize(static_cast<std::size_t>(kBlockFrames) * kChannels);
    return true;
}

void SampleDecoder::close() {
    converter_.reset();
    file_.reset();
    file_channels_ = 0;
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
    const sf_count_t frames = sf_readf_float(file_.get(), file_block_.data(), kBlockFrames);
    if (frames <= 0) {
        // A damaged file ends where reading fails.
        end_of_file_ = true;
        return false;
    }
    for (sf_count_t i = 0; i < frames; ++i)
        to_stereo(&file_block_[i * file_channels_], file_channels_, stereo_[2 * i],
                  stereo_[2 * i + 1]);
    stereo_frames_ = static_cast<std::size_t>(frames);
    return true;
}

std::uint64_t SampleDecoder::read_unconverted(float* output, std::uint64_t frame_count) {
    std::uint64_t produced = 0;
    while (produced < frame_count) {
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
        SRC_DATA data{};
        data.data_in = stereo_.data() + stereo_position_ * kChannels;
        data.input_frames = static_cast<long>(stereo_frames_ - stereo_position_);
        data.data_out = output + produced * kChannels;
        data.output_frames = static_cast<long>(frame_count - produced);
        data.end_of_input = end_of_file_ ? 1 : 0;
        data.src_ratio = ratio_;
        if (src_process(converter_.get(), &data) != 0)
            break;
        stereo_position_ += static_cast<std::size_t>(data.input_frames_used);
        produced += static_cast<std::uint64_t>(data.output_frames_gen);
        // After the last input the converter drains its tail; once a call
        // moves nothing the sound is over.
        if (data.input_frames_used == 0 && data.output_frames_gen == 0)
            break;
    }
    return produced;
}

}  // namespace audio
