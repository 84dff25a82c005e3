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

// Where a file being written stands against the path it was created at: a
// file that no longer lies there is lost to whoever looks for it.
enum class FilePlace {
    at_path,
    removed,         // deleted, its folder still there
    folder_removed,  // deleted with its folder
    moved,           // renamed, or another file took its path
    folder_moved,    // its folder was renamed or moved away
};

// Writes a RIFF WAVE file of 32-bit IEEE float frames: a plain 44-byte header
// ("fmt " of 16 bytes, no "fact" or other chunk), then the frames. The two
// size fields are brought up to date about once a second of audio, so a
// process killed while recording still leaves a readable file holding what
// was written up to then; closing writes the final sizes.
//
// A write that fails (a full disk) ends the writing: the error is kept, the
// frames that reached the file stay, and the sizes never claim more than
// the file holds. So does a file found gone from its path (looked for with
// each size update and at close): its frames would reach no one.
//
// The data can grow only as far as both 32-bit size fields can count it:
// the writer takes the whole frames that fit and refuses the rest (full()).
//
// Threads: one thread at a time (opened on the main thread, then written and
// closed on a ThreadedWavWriter's thread).
class WavWriter {
  public:
    // The most data bytes a WAV file can count: the RIFF size, 36 + data,
    // must fit 32 bits. That is 93 minutes of 96 kHz stereo float.
    static constexpr std::uint64_t kMostDataBytes = 0xffffffffu - 36;

    // `most_data_bytes` is lowered only by tests, to reach the limit quickly;
    // the data is held to whole frames below it.
    explicit WavWriter(std::uint64_t most_data_bytes = kMostDataBytes);
    virtual ~WavWriter();
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    // Creates `path` and writes the header; false when the file cannot be
    // created or the header cannot be written (then no file is left). A file
    // that exists already is never replaced: error() is EEXIST then. Closes a
    // file still open first.
    bool open(const std::string& path, const EncoderConfig& config);
    // Appends `frame_count` interleaved frames; returns `frame_count`, 0 once
    // a write has failed or the file is lost, or the frames that still fit
    // when the size limit is reached. Allocates nothing and prints nothing.
    // Virtual so that a slow or stalling disk can be stood in for.
    virtual std::uint64_t write(const float* frames, std::uint64_t frame_count);
    // Writes the final sizes and closes the file; does nothing when closed.
    void close();

    bool is_open() const { return fd_ >= 0; }
    // The frames the file holds, or will hold once its buffer is written.
    std::uint64_t frames_written() const;
    // The most frames the file takes.
    std::uint64_t most_frames() const;
    // A write has reached the size limit: the file holds all it can.
    bool full() const { return full_; }
    // Where the file was last found (at each size update and at close).
    FilePlace place() const { return place_; }
    // The errno value of the first failure of open, write or close (ENOENT:
    // the file was lost); 0 while everything went well.
    int error() const { return error_; }

  private:
    bool write_header();
    // Writes out the buffer; false (with error_ set) when it fails.
    bool flush();
    // Writes `size` bytes at the end of the file, adding to `*counted` what
    // reached it; false (with error_ set) on failure.
    bool write_all(const char* bytes, std::size_t size, std::uint64_t* counted);
    void update_sizes();
    // Looks whether the file still lies at its path; a lost one ends the writing.
    void check_place();
    FilePlace find_place() const;
    // Writes one 32-bit header field in place.
    void put_field(off_t offset, std::uint32_t value);
    void fail(int error);
    std::uint64_t frames_in_file() const;
    std::uint64_t bytes_per_frame() const;

    // The file's buffer, made when the file is opened so that writing
    // allocates nothing.
    std::vector<char> buffer_;
    std::size_t buffered_ = 0;
    std::string path_;
    std::string folder_;
    std::uint64_t most_data_bytes_;
    int fd_ = -1;
    EncoderConfig config_;
    std::uint64_t bytes_in_file_ = 0;  // frame bytes that reached the file
    std::uint64_t frames_since_update_ = 0;
    int error_ = 0;
    bool full_ = false;
    FilePlace place_ = FilePlace::at_path;
};

}  // namespace audio
