#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/Format.h"

namespace audio {

struct EncoderConfig {
    int channels = kChannels;
    std::uint32_t sample_rate = kSampleRate;
};

// The two size fields of a float WAV header for `frames` frames: the RIFF
// chunk (36 + data) and the data chunk, each held to the 32-bit range. Any
// thread.
struct WavSizes {
    std::uint32_t riff = 0;
    std::uint32_t data = 0;
};
WavSizes wav_sizes(std::uint64_t frames, int channels);

// Writes a RIFF WAVE file of 32-bit IEEE float frames: a plain 44-byte header
// ("fmt " of 16 bytes, no "fact" or other chunk), then the frames. The two
// size fields are brought up to date about once a second of audio, so a
// process killed while recording still leaves a readable file holding what
// was written up to then; closing writes the final sizes.
//
// A write that fails (a full disk) ends the writing: the error is kept, the
// frames that reached the file stay, and the sizes never claim more than
// the file holds.
//
// Threads: one thread at a time (opened on the main thread, then written and
// closed on a ThreadedWavWriter's thread).
class WavWriter {
  public:
    WavWriter() = default;
    virtual ~WavWriter();
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    // Creates `path` and writes the header; false when the file cannot be
    // created or the header cannot be written (then no file is left). A file
    // that exists already is never replaced: error() is EEXIST then. Closes a
    // file still open first.
    bool open(const std::string& path, const EncoderConfig& config);
    // Appends `frame_count` interleaved frames; returns `frame_count`, or 0
    // once a write has failed. Allocates nothing and prints nothing. Virtual
    // so that a slow or stalling disk can be stood in for.
    virtual std::uint64_t write(const float* frames, std::uint64_t frame_count);
    // Writes the final sizes and closes the file; does nothing when closed.
    void close();

    bool is_open() const { return fd_ >= 0; }
    // The frames the file holds, or will hold once its buffer is written.
    std::uint64_t frames_written() const;
    // The errno value of the first failure of open, write or close; 0 while
    // everything went well.
    int error() const { return error_; }

  private:
    bool write_header();
    // Writes out the buffer; false (with error_ set) when it fails.
    bool flush();
    // Writes `size` bytes at the end of the file, adding to `*counted` what
    // reached it; false (with error_ set) on failure.
    bool write_all(const char* bytes, std::size_t size, std::uint64_t* counted);
    void update_sizes();
    // Writes one 32-bit header field in place.
    void put_field(off_t offset, std::uint32_t value);
    void fail(int error);
    std::uint64_t frames_in_file() const;
    std::uint64_t bytes_per_frame() const;

    // The file's buffer, made when the file is opened so that writing
    // allocates nothing.
    std::vector<char> buffer_;
    std::size_t buffered_ = 0;
    int fd_ = -1;
    EncoderConfig config_;
    std::uint64_t bytes_in_file_ = 0;  // frame bytes that reached the file
    std::uint64_t frames_since_update_ = 0;
    int error_ = 0;
};

}  // namespace audio
