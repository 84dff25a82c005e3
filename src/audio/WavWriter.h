#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
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
// Threads: one thread at a time (opened and closed on the main thread,
// written on the audio thread, serialised by the caller).
class WavWriter {
  public:
    WavWriter() = default;
    ~WavWriter();
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    // Creates or truncates `path` and writes the header; false when the file
    // cannot be created. Closes a file still open first.
    bool open(const std::string& path, const EncoderConfig& config);
    // Appends `frame_count` interleaved frames; returns the frames handed to
    // the file.
    std::uint64_t write(const float* frames, std::uint64_t frame_count);
    // Writes the final sizes and closes the file; does nothing when closed.
    void close();

    bool is_open() const { return file_ != nullptr; }
    std::uint64_t frames_written() const { return frames_written_; }

  private:
    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };

    void write_header();
    void update_sizes();

    // The file's buffer, made when the file is opened so that writing (on
    // the audio thread) allocates nothing; it outlives the file.
    std::vector<char> file_buffer_;
    std::unique_ptr<std::FILE, FileCloser> file_;
    EncoderConfig config_;
    std::uint64_t frames_written_ = 0;
    std::uint64_t frames_since_update_ = 0;
};

}  // namespace audio
