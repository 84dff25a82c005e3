#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/Format.h"

struct sf_private_tag;
struct SRC_STATE_tag;

namespace audio {

// Reads a WAV or MP3 file (anything libsndfile reads) as interleaved stereo
// float frames at `sample_rate`: a mono file gives two equal channels; of more
// than two channels the first two are left and right and the others are
// shared by both sides, each side averaged. Other rates are converted with
// libsamplerate.
//
// Threads: one thread at a time; any thread (it shares nothing).
class SampleDecoder {
  public:
    SampleDecoder();
    ~SampleDecoder();
    SampleDecoder(const SampleDecoder&) = delete;
    SampleDecoder& operator=(const SampleDecoder&) = delete;

    // False when the file is missing, unreadable or not a sound file libsndfile
    // knows, or its rate is beyond what the converter takes.
    bool open(const std::string& path, std::uint32_t sample_rate = kSampleRate);
    // Fills up to `frame_count` frames; fewer only at the end of the sound, 0
    // after it (or when the file turns out damaged).
    std::uint64_t read(float* output, std::uint64_t frame_count);
    void close();

  private:
    struct FileCloser {
        void operator()(sf_private_tag* file) const;
    };
    struct ConverterDeleter {
        void operator()(SRC_STATE_tag* state) const;
    };

    // Reads the next block of the file into `stereo_`; false at its end.
    bool refill();
    std::uint64_t read_unconverted(float* output, std::uint64_t frame_count);
    std::uint64_t read_converted(float* output, std::uint64_t frame_count);

    std::unique_ptr<sf_private_tag, FileCloser> file_;
    std::unique_ptr<SRC_STATE_tag, ConverterDeleter> converter_;  // null at equal rates
    int file_channels_ = 0;
    double ratio_ = 1.0;
    bool end_of_file_ = false;
    std::vector<float> file_block_;  // one block as the file stores it
    std::vector<float> stereo_;      // the same block as stereo
    std::size_t stereo_frames_ = 0;
    std::size_t stereo_position_ = 0;
};

}  // namespace audio
