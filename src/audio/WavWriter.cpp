#include "audio/WavWriter.h"

#include <array>
#include <bit>
#include <cstring>
#include <limits>

namespace audio {

namespace {

constexpr std::uint64_t kHeaderBytesAfterRiffSize = 36;
constexpr long kRiffSizeOffset = 4;
constexpr long kDataSizeOffset = 40;
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

WavWriter::~WavWriter() {
    close();
}

bool WavWriter::open(const std::string& path, const EncoderConfig& config) {
    close();
    if (config.channels < 1 || config.sample_rate < 1)
        return false;
    file_.reset(std::fopen(path.c_str(), "wb"));
    if (!file_)
        return false;
    file_buffer_.resize(kFileBufferBytes);
    std::setvbuf(file_.get(), file_buffer_.data(), _IOFBF, file_buffer_.size());
    config_ = config;
    frames_written_ = 0;
    frames_since_update_ = 0;
    write_header();
    std::fflush(file_.get());
    return true;
}

std::uint64_t WavWriter::write(const float* frames, std::uint64_t frame_count) {
    if (!file_ || frames == nullptr || frame_count == 0)
        return 0;
    static_assert(sizeof(float) == 4 && std::endian::native == std::endian::little,
                  "frames go to the file as they lie in memory");
    const std::size_t written = std::fwrite(frames, sizeof(float) * config_.channels,
                                            static_cast<std::size_t>(frame_count), file_.get());
    frames_written_ += written;
    frames_since_update_ += written;
    if (frames_since_update_ >= config_.sample_rate)
        update_sizes();
    return written;
}

void WavWriter::close() {
    if (!file_)
        return;
    update_sizes();
    file_.reset();
}

void WavWriter::write_header() {
    const auto channels = static_cast<std::uint16_t>(config_.channels);
    const std::uint16_t block_align = static_cast<std::uint16_t>(sizeof(float) * channels);
    std::array<unsigned char, 44> header{};
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
    std::fwrite(header.data(), 1, header.size(), file_.get());
}

void WavWriter::update_sizes() {
    // The frames go to the file before the sizes that count them, so that the
    // header never claims more than the file holds.
    std::fflush(file_.get());
    const WavSizes sizes = wav_sizes(frames_written_, config_.channels);
    unsigned char field[4];
    put_u32(field, sizes.riff);
    std::fseek(file_.get(), kRiffSizeOffset, SEEK_SET);
    std::fwrite(field, 1, 4, file_.get());
    put_u32(field, sizes.data);
    std::fseek(file_.get(), kDataSizeOffset, SEEK_SET);
    std::fwrite(field, 1, 4, file_.get());
    std::fseek(file_.get(), 0, SEEK_END);
    std::fflush(file_.get());
    frames_since_update_ = 0;
}

}  // namespace audio
