#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio/Format.h"

struct sf_private_tag;
struct soxr;

namespace audio {

// The longest sound decoded: 30 minutes (about 1.4 GB at the engine's
// format). A longer file would take the memory of the whole program.
inline constexpr std::uint64_t kMaxDecodedFrames = 30ull * 60 * kSampleRate;

// The number of frames the file says it holds at `sample_rate`, read from its
// header without decoding it; nothing when it does not open as a sound file.
// What decode_file makes of it is at most a little longer (see there).
//
// Threads: any thread, several at once.
std::optional<std::uint64_t> declared_frames_of(const std::string& path,
                                                std::uint32_t sample_rate = kSampleRate);

// Reads a WAV or MP3 file (anything libsndfile reads) as interleaved stereo
// float frames at `sample_rate`: a mono file gives two equal channels; of more
// than two channels the first two are left and right and the others are
// shared by both sides, each side averaged. Other rates are converted with
// libsoxr at its high quality. Only regular files are opened, and never in a way that can
// wait (a FIFO named like a sample is refused at once).
//
// Threads: one thread at a time; any thread (it shares nothing).
class SampleDecoder {
  public:
    SampleDecoder();
    ~SampleDecoder();
    SampleDecoder(const SampleDecoder&) = delete;
    SampleDecoder& operator=(const SampleDecoder&) = delete;

    // False when the file is missing, unreadable, not a regular file or not a
    // sound file libsndfile knows, or its rate is beyond what the converter
    // takes.
    bool open(const std::string& path, std::uint32_t sample_rate = kSampleRate);
    // The number of frames the file says it holds, at `sample_rate`. A
    // damaged file may end earlier; a compressed one whose length is only
    // estimated may run a little longer.
    std::uint64_t declared_frames() const { return declared_frames_; }
    // Fills up to `frame_count` frames; fewer only at the end of the sound, 0
    // after it (or when the file turns out damaged).
    std::uint64_t read(float* output, std::uint64_t frame_count);
    void close();

  private:
    struct FileCloser {
        void operator()(sf_private_tag* file) const;
    };
    struct ConverterDeleter {
        void operator()(soxr* converter) const;
    };

    friend std::optional<std::uint64_t> declared_frames_of(const std::string&, std::uint32_t);

    // The file and its header, without the converter: false as open() is.
    bool open_file(const std::string& path, std::uint32_t sample_rate);
    // Reads the next block of the file into `stereo_`; false at its end.
    bool refill();
    std::uint64_t read_unconverted(float* output, std::uint64_t frame_count);
    std::uint64_t read_converted(float* output, std::uint64_t frame_count);

    std::unique_ptr<sf_private_tag, FileCloser> file_;
    std::unique_ptr<soxr, ConverterDeleter> converter_;  // null at equal rates
    int file_channels_ = 0;
    std::uint32_t file_rate_ = 0;
    double ratio_ = 1.0;
    std::uint64_t declared_frames_ = 0;
    bool end_of_file_ = false;
    std::vector<float> file_block_;  // one block as the file stores it
    std::vector<float> stereo_;      // the same block as stereo
    std::size_t stereo_frames_ = 0;
    std::size_t stereo_position_ = 0;
};

// Why a decode gave nothing.
enum class DecodeFailure { none, not_a_sound, too_long, no_room };

// A whole sound: `frames` interleaved stereo frames; `samples` null when the
// file gave nothing, and `failure` then says why.
struct DecodedSound {
    std::unique_ptr<float[]> samples;
    std::uint64_t frames = 0;
    DecodeFailure failure = DecodeFailure::none;
};

// Asked on the decoding thread before the decoded array is made or grows,
// with the frames it would then hold in all; false refuses the memory, and
// the decode gives nothing.
using RoomCheck = std::function<bool(std::uint64_t frames)>;

// Decodes the whole file into one array of its final size, read 4096 frames
// at a time. Nothing (null samples) for a file that does not open or holds
// no frames, one that would pass `max_frames`, or one whose memory `room`
// refuses; a damaged file gives the frames before the damage. Allocation
// failure is thrown as std::bad_alloc.
//
// Threads: any thread, several at once.
DecodedSound decode_file(const std::string& path, std::uint32_t sample_rate = kSampleRate,
                         std::uint64_t max_frames = kMaxDecodedFrames, const RoomCheck& room = {});

}  // namespace audio
