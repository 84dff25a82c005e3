#include "audio/SoundFileSource.h"

#include <sndfile.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "audio/Format.h"

namespace audio {

namespace {

constexpr sf_count_t kBlockFrames = 4096;

// A failed sf_open records its error in libsndfile's one global slot, so two
// threads opening files at once would race on it.
std::mutex open_mutex;

struct FileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};
using SoundFile = std::unique_ptr<SNDFILE, FileCloser>;

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

class SoundFileSource : public FrameSource {
  public:
    SoundFileSource(SoundFile file, const SF_INFO& info)
        : file_(std::move(file)),
          channels_(info.channels),
          rate_(static_cast<std::uint32_t>(info.samplerate)),
          frames_(static_cast<std::uint64_t>(std::max<sf_count_t>(info.frames, 0))) {
        if (channels_ != kChannels)
            block_.resize(static_cast<std::size_t>(kBlockFrames) * channels_);
    }

    std::uint32_t rate() const override { return rate_; }

    std::uint64_t read(float* stereo, std::uint64_t frame_count) override {
        std::uint64_t produced = 0;
        while (produced < frame_count && !ended_) {
            const std::uint64_t wanted = frame_count - produced;
            float* out = stereo + produced * kChannels;
            // Stereo goes straight into place; other layouts through a block.
            const sf_count_t frames =
                channels_ == kChannels
                    ? sf_readf_float(file_.get(), out, static_cast<sf_count_t>(wanted))
                    : sf_readf_float(
                          file_.get(), block_.data(),
                          std::min<sf_count_t>(kBlockFrames, static_cast<sf_count_t>(wanted)));
            if (frames <= 0) {
                // A damaged file ends where reading fails.
                ended_ = true;
                break;
            }
            if (channels_ != kChannels) {
                for (sf_count_t i = 0; i < frames; ++i)
                    to_stereo(&block_[i * channels_], channels_, out[2 * i], out[2 * i + 1]);
            }
            produced += static_cast<std::uint64_t>(frames);
        }
        return produced;
    }

    bool next_segment() override { return false; }

    std::uint64_t measured_frames(std::uint32_t rate) const override {
        return frames_at_rate(frames_, rate_, rate);
    }

  private:
    SoundFile file_;
    int channels_;
    std::uint32_t rate_;
    std::uint64_t frames_;
    bool ended_ = false;
    std::vector<float> block_;  // one block as the file stores it
};

}  // namespace

std::unique_ptr<FrameSource> open_sound_file(io::UniqueFd file) {
    SF_INFO info{};
    SoundFile opened;
    {
        std::lock_guard<std::mutex> lock(open_mutex);
        // libsndfile owns the descriptor from here: a failed open closes it
        // even when asked not to, so closing it again here could close a
        // file another thread has just been given the same number for.
        opened.reset(sf_open_fd(file.release(), SFM_READ, &info, SF_TRUE));
    }
    if (!opened || info.channels < 1 || info.samplerate < 1)
        return nullptr;
    return std::make_unique<SoundFileSource>(std::move(opened), info);
}

}  // namespace audio
