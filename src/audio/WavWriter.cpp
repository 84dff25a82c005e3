#include "audio/WavWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstring>
#include <limits>

namespace audio {

namespace {

constexpr std::size_t kHeaderBytes = 44;
constexpr std::uint64_t kHeaderBytesAfterRiffSize = 36;
constexpr off_t kRiffSizeOffset = 4;
constexpr off_t kDataSizeOffset = 40;
constexpr std::uint16_t kFormatIeeeFloat = 3;
constexpr std::size_t kFileBufferBytes = 64 * 1024;

void put_u16(unsigned char* at, std::uint16_t value) {
    at[0] = static_cast<unsigned char>(value & 0xff);
    at[1] = static_cast<unsigned char>(value >> 8);
}

void put_u32(unsigned char* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<unsigned char>((value >> (8 * i)) & 0xff);
}

std::uint32_t saturate_u32(std::uint64_t value) {
    constexpr std::uint64_t kLargest = std::numeric_limits<std::uint32_t>::max();
    return static_cast<std::uint32_t>(value < kLargest ? value : kLargest);
}

}  // namespace

WavSizes wav_sizes(std::uint64_t frames, int channels) {
    const std::uint64_t bytes_per_frame = sizeof(float) * static_cast<std::uint64_t>(channels);
    const std::uint64_t largest = std::numeric_limits<std::uint64_t>::max();
    const std::uint64_t data =
        frames > largest / bytes_per_frame ? largest : frames * bytes_per_frame;
    WavSizes sizes;
    sizes.data = saturate_u32(data);
    sizes.riff = saturate_u32(std::uint64_t{sizes.data} + kHeaderBytesAfterRiffSize);
    return sizes;
}

WavWriter::WavWriter(std::uint64_t most_data_bytes) : most_data_bytes_(most_data_bytes) {}

WavWriter::~WavWriter() {
    close();
}

bool WavWriter::open(const std::string& path, const EncoderConfig& config) {
    close();
    error_ = 0;
    if (config.channels < 1 || config.sample_rate < 1) {
        error_ = EINVAL;
        return false;
    }
    // Exclusive: two takes never share a file, whatever else runs.
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        error_ = errno;
        return false;
    }
    config_ = config;
    path_ = path;
    const auto slash = path.rfind('/');
    folder_ = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    buffer_.resize(kFileBufferBytes);
    buffered_ = 0;
    bytes_in_file_ = 0;
    frames_since_update_ = 0;
    full_ = false;
    place_ = FilePlace::at_path;
    if (!write_header()) {
        // Not even the header fits: no recording, and no empty file of ours.
        ::close(fd_);
        fd_ = -1;
        ::unlink(path.c_str());
        return false;
    }
    return true;
}

std::uint64_t WavWriter::write(const float* frames, std::uint64_t frame_count) {
    if (fd_ < 0 || error_ != 0 || frames == nullptr || frame_count == 0)
        return 0;
    static_assert(sizeof(float) == 4 && std::endian::native == std::endian::little,
                  "frames go to the file as they lie in memory");
    // At the size limit the take ends on the last whole frame that fits.
    const std::uint64_t taken = std::min(frame_count, most_frames() - frames_written());
    full_ = taken < frame_count;
    if (taken == 0)
        return 0;
    const char* bytes = reinterpret_cast<const char*>(frames);
    std::uint64_t left = taken * bytes_per_frame();
    while (left > 0) {
        const std::size_t room = buffer_.size() - buffered_;
        const std::size_t part = static_cast<std::size_t>(std::min<std::uint64_t>(room, left));
        std::memcpy(buffer_.data() + buffered_, bytes, part);
        buffered_ += part;
        bytes += part;
        left -= part;
        if (buffered_ == buffer_.size() && !flush())
            return 0;
    }
    frames_since_update_ += taken;
    if (frames_since_update_ >= config_.sample_rate) {
        update_sizes();
        check_place();
        if (error_ != 0)
            return 0;
    }
    return taken;
}

void WavWriter::close() {
    if (fd_ < 0)
        return;
    if (error_ == 0) {
        flush();
    } else {
        // A frame cut off by the failed write goes: the data holds whole frames.
        const std::uint64_t whole = frames_in_file() * bytes_per_frame();
        if (::ftruncate(fd_, static_cast<off_t>(kHeaderBytes + whole)) != 0)
            fail(errno);
    }
    update_sizes();
    check_place();
    if (::close(fd_) != 0 && error_ == 0)
        error_ = errno;
    fd_ = -1;
}

std::uint64_t WavWriter::frames_written() const {
    return (bytes_in_file_ + buffered_) / bytes_per_frame();
}

std::uint64_t WavWriter::most_frames() const {
    return most_data_bytes_ / bytes_per_frame();
}

std::uint64_t WavWriter::frames_in_file() const {
    return bytes_in_file_ / bytes_per_frame();
}

std::uint64_t WavWriter::bytes_per_frame() const {
    return sizeof(float) * static_cast<std::uint64_t>(config_.channels);
}

void WavWriter::fail(int error) {
    if (error_ == 0)
        error_ = error;
}

bool WavWriter::write_all(const char* bytes, std::size_t size, std::uint64_t* counted) {
    while (size > 0) {
        const ssize_t n = ::write(fd_, bytes, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            fail(n < 0 ? errno : ENOSPC);
            return false;
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
        if (counted != nullptr)
            *counted += static_cast<std::uint64_t>(n);
    }
    return true;
}

bool WavWriter::flush() {
    const bool written = write_all(buffer_.data(), buffered_, &bytes_in_file_);
    buffered_ = 0;
    return written;
}

bool WavWriter::write_header() {
    const auto channels = static_cast<std::uint16_t>(config_.channels);
    const std::uint16_t block_align = static_cast<std::uint16_t>(sizeof(float) * channels);
    std::array<unsigned char, kHeaderBytes> header{};
    std::memcpy(&header[0], "RIFF", 4);
    std::memcpy(&header[8], "WAVE", 4);
    std::memcpy(&header[12], "fmt ", 4);
    put_u32(&header[16], 16);
    put_u16(&header[20], kFormatIeeeFloat);
    put_u16(&header[22], channels);
    put_u32(&header[24], config_.sample_rate);
    put_u32(&header[28], config_.sample_rate * block_align);
    put_u16(&header[32], block_align);
    put_u16(&header[34], 32);
    std::memcpy(&header[36], "data", 4);
    const WavSizes sizes = wav_sizes(0, config_.channels);
    put_u32(&header[4], sizes.riff);
    put_u32(&header[40], sizes.data);
    return write_all(reinterpret_cast<const char*>(header.data()), header.size(), nullptr);
}

void WavWriter::put_field(off_t offset, std::uint32_t value) {
    unsigned char field[4];
    put_u32(field, value);
    const ssize_t n = ::pwrite(fd_, field, sizeof field, offset);
    if (n != static_cast<ssize_t>(sizeof field))
        fail(n < 0 ? errno : EIO);
}

void WavWriter::update_sizes() {
    // The frames go to the file before the sizes that count them, so that the
    // header never claims more than the file holds.
    if (error_ == 0)
        flush();
    const WavSizes sizes = wav_sizes(frames_in_file(), config_.channels);
    put_field(kRiffSizeOffset, sizes.riff);
    put_field(kDataSizeOffset, sizes.data);
    frames_since_update_ = 0;
}

void WavWriter::check_place() {
    if (place_ != FilePlace::at_path)
        return;
    place_ = find_place();
    if (place_ != FilePlace::at_path)
        fail(ENOENT);
}

FilePlace WavWriter::find_place() const {
    struct stat open_file {};
    if (::fstat(fd_, &open_file) != 0)
        return FilePlace::at_path;  // cannot tell
    struct stat at_path {};
    const bool found = ::stat(path_.c_str(), &at_path) == 0;
    if (found && at_path.st_dev == open_file.st_dev && at_path.st_ino == open_file.st_ino)
        return FilePlace::at_path;
    if (!found && errno != ENOENT && errno != ENOTDIR)
        return FilePlace::at_path;  // no right to look: cannot tell
    struct stat folder {};
    // A folder deleted while it is the process's working folder still
    // answers to ".", with no links left.
    const bool folder_there = ::stat(folder_.c_str(), &folder) == 0 && folder.st_nlink > 0;
    if (open_file.st_nlink == 0)
        return folder_there ? FilePlace::removed : FilePlace::folder_removed;
    return folder_there ? FilePlace::moved : FilePlace::folder_moved;
}

}  // namespace audio
