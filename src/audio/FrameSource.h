#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace audio {

// The frames of one sound file as interleaved stereo floats at the file's own
// rate, read from the start to the end once. A stream of MP3s joined end to
// end may change its rate on the way: its frames then come in segments, one
// per rate, and the reader converts each on its own.
//
// Threads: one thread at a time.
class FrameSource {
  public:
    virtual ~FrameSource() = default;

    // The rate of the current segment's frames.
    virtual std::uint32_t rate() const = 0;
    // Up to `frame_count` frames of the current segment; fewer only where the
    // segment ends, and 0 after it.
    virtual std::uint64_t read(float* stereo, std::uint64_t frame_count) = 0;
    // Moves on to the next segment once the current one has ended; false at
    // the end of the sound.
    virtual bool next_segment() = 0;
    // The number of frames the sound holds at `rate`, as far as can be told
    // without decoding it.
    virtual std::uint64_t measured_frames(std::uint32_t rate) const = 0;
};

// `frames` at `from_rate` counted at `to_rate`, rounded up (and saturating).
std::uint64_t frames_at_rate(std::uint64_t frames, std::uint32_t from_rate, std::uint32_t to_rate);

// Opens `path` as a sound: MP3 streams through libmpg123, anything else
// through libsndfile. Null when it is missing, unreadable, not a regular file
// or no sound either library knows. Only regular files are opened, and never
// in a way that can wait (a FIFO named like a sample is refused at once).
//
// Threads: any thread, several at once.
std::unique_ptr<FrameSource> open_frame_source(const std::string& path);

}  // namespace audio
