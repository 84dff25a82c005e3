#include "audio/Mp3Source.h"

#include <mpg123.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "audio/Format.h"

namespace audio {

namespace {

constexpr std::size_t kFrameBytes = kChannels * sizeof(float);

// Hands the file to libmpg123 from blocks of 64 KiB: it asks for a frame's
// few hundred bytes at a time, and a system call for each would cost more
// than walking the frame headers does.
class BlockReader {
  public:
    explicit BlockReader(io::UniqueFd file) : file_(std::move(file)), block_(64 * 1024) {}

    static mpg123_ssize_t read(void* self, void* out, std::size_t bytes) {
        return static_cast<BlockReader*>(self)->read(static_cast<unsigned char*>(out), bytes);
    }
    static off_t seek(void* self, off_t offset, int whence) {
        return static_cast<BlockReader*>(self)->seek(offset, whence);
    }

  private:
    mpg123_ssize_t read(unsigned char* out, std::size_t bytes) {
        std::size_t copied = 0;
        while (copied < bytes) {
            if (position_ == fill_) {
                const ssize_t got = refill();
                if (got < 0 && copied == 0)
                    return -1;
                if (got <= 0)
                    break;
            }
            const std::size_t part = std::min(bytes - copied, fill_ - position_);
            std::memcpy(out + copied, block_.data() + position_, part);
            position_ += part;
            copied += part;
        }
        offset_ += static_cast<off_t>(copied);
        return static_cast<mpg123_ssize_t>(copied);
    }

    // What read(2) gave for the next block: 0 at the end of the file.
    ssize_t refill() {
        ssize_t got = 0;
        do {
            got = ::read(file_.get(), block_.data(), block_.size());
        } while (got < 0 && errno == EINTR);
        position_ = 0;
        fill_ = got > 0 ? static_cast<std::size_t>(got) : 0;
        return got;
    }

    off_t seek(off_t offset, int whence) {
        off_t target = offset;
        if (whence == SEEK_CUR)
            target = offset_ + offset;
        else if (whence != SEEK_SET)
            target = ::lseek(file_.get(), offset, whence);
        if (target < 0)
            return -1;
        // A seek within the block at hand (libmpg123 looks back a few bytes
        // now and then) keeps it.
        const off_t block_start = offset_ - static_cast<off_t>(position_);
        if (whence != SEEK_END && target >= block_start &&
            target <= block_start + static_cast<off_t>(fill_)) {
            position_ = static_cast<std::size_t>(target - block_start);
            offset_ = target;
            return target;
        }
        position_ = fill_ = 0;
        offset_ = ::lseek(file_.get(), target, SEEK_SET);
        return offset_;
    }

    io::UniqueFd file_;
    std::vector<unsigned char> block_;
    std::size_t position_ = 0;  // of the next byte in block_
    std::size_t fill_ = 0;
    off_t offset_ = 0;  // of the next byte in the file
};

struct HandleDeleter {
    void operator()(mpg123_handle* handle) const { mpg123_delete(handle); }
};
using Handle = std::unique_ptr<mpg123_handle, HandleDeleter>;

// A decoder giving stereo floats at every rate an MPEG stream can have.
Handle new_handle() {
    int error = MPG123_OK;
    Handle handle(mpg123_new(nullptr, &error));
    if (!handle)
        return nullptr;
    mpg123_handle* h = handle.get();
    // Nothing printed: the terminal is the program's screen. A stream of
    // joined files is read on past the end the first one announces and
    // through changes of its format; gapless decoding (the library's
    // default) still leaves out a tagged file's delay and padding.
    if (mpg123_param(h, MPG123_ADD_FLAGS, MPG123_QUIET, 0) != MPG123_OK ||
        mpg123_param(h, MPG123_REMOVE_FLAGS, MPG123_NO_FRANKENSTEIN, 0) != MPG123_OK ||
        mpg123_format_none(h) != MPG123_OK)
        return nullptr;
    const long* rates = nullptr;
    std::size_t rate_count = 0;
    mpg123_rates(&rates, &rate_count);
    for (std::size_t i = 0; i < rate_count; ++i)
        if (mpg123_format(h, rates[i], MPG123_STEREO, MPG123_ENC_FLOAT_32) != MPG123_OK)
            return nullptr;
    if (mpg123_replace_reader_handle(h, BlockReader::read, BlockReader::seek, nullptr) != MPG123_OK)
        return nullptr;
    return handle;
}

class Mp3Stream : public FrameSource {
  public:
    explicit Mp3Stream(io::UniqueFd file)
        : reader_(std::make_unique<BlockReader>(std::move(file))) {}

    // False when no MPEG frame is found.
    bool open() {
        handle_ = new_handle();
        if (!handle_ || mpg123_open_handle(handle_.get(), reader_.get()) != MPG123_OK || !measure())
            return false;
        // Decoding starts over from the top of the file.
        mpg123_close(handle_.get());
        long rate = 0;
        int channels = 0;
        int encoding = 0;
        if (BlockReader::seek(reader_.get(), 0, SEEK_SET) != 0 ||
            mpg123_open_handle(handle_.get(), reader_.get()) != MPG123_OK ||
            mpg123_getformat(handle_.get(), &rate, &channels, &encoding) != MPG123_OK || rate <= 0)
            return false;
        rate_ = static_cast<std::uint32_t>(rate);
        return true;
    }

    std::uint32_t rate() const override { return rate_; }

    std::uint64_t read(float* stereo, std::uint64_t frame_count) override {
        std::uint64_t produced = 0;
        while (produced < frame_count && !segment_ended_) {
            std::size_t bytes = 0;
            const int result = mpg123_read(handle_.get(), stereo + produced * kChannels,
                                           (frame_count - produced) * kFrameBytes, &bytes);
            produced += bytes / kFrameBytes;
            if (result == MPG123_NEW_FORMAT) {
                take_new_format();
            } else if (result != MPG123_OK || bytes == 0) {
                // The end, or a stream damaged past what the library skips:
                // it ends where it fails. A good read fills the buffer; an
                // empty one would only come again.
                segment_ended_ = finished_ = true;
            }
        }
        return produced;
    }

    bool next_segment() override {
        if (finished_ || !segment_ended_)
            return false;
        rate_ = next_rate_;
        segment_ended_ = false;
        return true;
    }

    std::uint64_t measured_frames(std::uint32_t rate) const override {
        if (frames_by_rate_.size() == 1 && gapless_frames_ > 0)
            return frames_at_rate(gapless_frames_, frames_by_rate_[0].first, rate);
        std::uint64_t frames = 0;
        for (const auto& [frame_rate, count] : frames_by_rate_)
            frames = std::min(std::numeric_limits<std::uint64_t>::max() - frames,
                              frames_at_rate(count, frame_rate, rate)) +
                     frames;
        return frames;
    }

  private:
    // Walks the frame headers to the end of the file, counting the frames'
    // samples at each rate; false when there is none.
    bool measure() {
        mpg123_handle* h = handle_.get();
        std::uint64_t total = 0;
        for (;;) {
            const int result = mpg123_framebyframe_next(h);
            mpg123_frameinfo2 info{};
            if ((result != MPG123_OK && result != MPG123_NEW_FORMAT) ||
                mpg123_info2(h, &info) != MPG123_OK || info.rate <= 0 || mpg123_spf(h) <= 0)
                break;
            count(static_cast<std::uint32_t>(info.rate), static_cast<std::uint64_t>(mpg123_spf(h)));
            total += static_cast<std::uint64_t>(mpg123_spf(h));
        }
        // At one rate the library counts what decoding gives, the tagged
        // delay and padding left out; across rates it cannot, and the frames
        // count whole.
        const off_t gapless = mpg123_length(h);
        if (frames_by_rate_.size() == 1 && gapless > 0 &&
            static_cast<std::uint64_t>(gapless) <= total)
            gapless_frames_ = static_cast<std::uint64_t>(gapless);
        return total > 0;
    }

    void count(std::uint32_t rate, std::uint64_t frames) {
        for (auto& [known, count] : frames_by_rate_) {
            if (known == rate) {
                count += frames;
                return;
            }
        }
        frames_by_rate_.emplace_back(rate, frames);
    }

    // A new format ends the segment when the rate changes; the channels are
    // always two.
    void take_new_format() {
        long rate = 0;
        int channels = 0;
        int encoding = 0;
        if (mpg123_getformat(handle_.get(), &rate, &channels, &encoding) != MPG123_OK ||
            rate <= 0 || channels != kChannels || encoding != MPG123_ENC_FLOAT_32) {
            segment_ended_ = finished_ = true;
            return;
        }
        if (static_cast<std::uint32_t>(rate) != rate_) {
            next_rate_ = static_cast<std::uint32_t>(rate);
            segment_ended_ = true;
        }
    }

    std::unique_ptr<BlockReader> reader_;  // the handle keeps its address
    Handle handle_;
    std::uint32_t rate_ = 0;
    std::uint32_t next_rate_ = 0;
    bool segment_ended_ = false;
    bool finished_ = false;
    std::vector<std::pair<std::uint32_t, std::uint64_t>> frames_by_rate_;
    std::uint64_t gapless_frames_ = 0;  // what decoding gives, for a stream of one rate
};

}  // namespace

bool starts_like_mpeg_audio(const unsigned char* head, std::size_t size) {
    if (size >= 3 && std::memcmp(head, "ID3", 3) == 0)
        return true;
    if (size < 4 || head[0] != 0xff || (head[1] & 0xe0) != 0xe0)
        return false;
    const int version = (head[1] >> 3) & 3;  // 1 is reserved
    const int layer = (head[1] >> 1) & 3;    // 0 is reserved
    const int bitrate = head[2] >> 4;        // 15 is invalid
    const int rate = (head[2] >> 2) & 3;     // 3 is reserved
    return version != 1 && layer != 0 && bitrate != 15 && rate != 3;
}

std::unique_ptr<FrameSource> open_mp3_stream(io::UniqueFd file) {
    auto stream = std::make_unique<Mp3Stream>(std::move(file));
    if (!stream->open())
        return nullptr;
    return stream;
}

}  // namespace audio
