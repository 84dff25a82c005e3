#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio/Format.h"

struct soxr;

namespace audio {

class FrameSource;

// The longest sound decoded: 30 minutes (about 1.4 GB at the engine's
// format). A longer file would take the memory of the whole program.
inline constexpr std::uint64_t kMaxDecodedFrames = 30ull * 60 * kSampleRate;

// The number of frames the file holds at `sample_rate`, told without decoding
// it; nothing when it does not open as a sound file. A WAV file's header says
// it; an MP3's frame headers are walked to the end of the file, which takes
// well under a hundredth of the time its decoding does. decode_file gives this many
// frames, give or take the converter's rounding, unless the file is damaged
// (fewer) or grows meanwhile (more).
//
// Threads: any thread, several at once.
std::optional<std::uint64_t> declared_frames_of(const std::string& path,
                                                std::uint32_t sample_rate = kSampleRate);

// Reads a WAV file (or any other libsndfile reads) or an MP3 stream (through
// libmpg123, to the end of the file) as interleaved stereo float frames at
// `sample_rate`: a mono file gives two equal channels; of more than two
// channels the first two are left and right and the others are shared by
// both sides, each side averaged. Other rates are converted with libsoxr at
// its high quality; MP3s joined end to end may change their rate on the way,
// and each part is converted from its own. Only regular files are opened,
// and never in a way that can wait (a FIFO named like a sample is refused at
// once).
//
// Threads: one thread at a time; any thread (it shares nothing).
class SampleDecoder {
  public:
    SampleDecoder();
    ~SampleDecoder();
    SampleDecoder(const SampleDecoder&) = delete;
    SampleDecoder& operator=(const SampleDecoder&) = delete;

    // False when the file is missing, unreadable, not a regular file or not a
    // sound file the libraries know, or its rate is beyond what the converter
    // takes.
    bool open(const std::string& path, std::uint32_t sample_rate = kSampleRate);
    // The number of frames the file holds, at `sample_rate` (see
    // declared_frames_of).
    std::uint64_t declared_frames() const { return declared_frames_; }
    // Fills up to `frame_count` frames; fewer only at the end of the sound, 0
    // after it (or when the file turns out damaged).
    std::uint64_t read(float* output, std::uint64_t frame_count);
    void close();

  private:
    struct ConverterDeleter {
        void operator()(soxr* converter) const;
    };

    // Sets the converter up for the source's current rate.
    bool start_segment();
    std::uint64_t read_unconverted(float* output, std::uint64_t frame_count);
    std::uint64_t read_converted(float* output, std::uint64_t frame_count);

    std::unique_ptr<FrameSource> source_;
    std::unique_ptr<soxr, ConverterDeleter> converter_;  // null at equal rates
    std::uint32_t sample_rate_ = kSampleRate;
    std::uint64_t declared_frames_ = 0;
    bool segment_ended_ = false;  // and its converter drained
    bool finished_ = false;
    std::vector<float> stereo_;  // a block of the source, for the converter
    std::size_t stereo_frames_ = 0;
    std::size_t stereo_position_ = 0;
};

// Why a decode gave nothing.
enum class DecodeFailure {
    none,
    not_a_sound,  // it does not open, holds no frames, or is damaged at its start
    too_long,     // it holds, or turns out to hold, more than the frames allowed
    no_room,      // the caller's RoomCheck refused the memory
};

// A whole sound: `frames` interleaved stereo frames.
struct DecodedSound {
    std::unique_ptr<float[]> samples;  // null when the file gave nothing
    std::uint64_t frames = 0;
    DecodeFailure failure = DecodeFailure::none;  // set when samples is null
};

// Asked, on the decoding thread, before the decoded array is made or grows,
// with the frames it would then hold in all (its first size included); false
// refuses the memory: the decode stops and gives nothing (no_room).
using RoomCheck = std::function<bool(std::uint64_t frames)>;

// Decodes the whole file, to the end of its stream, into one array made at
// its declared length (see declared_frames_of) and grown only when the file
// runs on past it, read 4096 frames at a time. Nothing (null samples) for a
// file that is no sound, that holds or turns out to hold more than
// `max_frames`, or whose memory `room` refuses; no partial sound is ever
// given for those. A damaged file gives the frames before the damage. An
// empty RoomCheck allows any size up to `max_frames`. Allocation failure is
// thrown as std::bad_alloc.
//
// Threads: any thread, several at once.
DecodedSound decode_file(const std::string& path, std::uint32_t sample_rate = kSampleRate,
                         std::uint64_t max_frames = kMaxDecodedFrames, const RoomCheck& room = {});

}  // namespace audio
