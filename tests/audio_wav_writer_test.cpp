#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "audio/WavWriter.h"
#include "audio_test_util.h"
#include "test_support.h"

using audio::EncoderConfig;
using audio::WavWriter;

namespace {

std::vector<unsigned char> bytes_of(const std::string& text) {
    return {text.begin(), text.end()};
}

}  // namespace

TEST(WavWriter, WritesThePlainFloatHeaderAndTheFramesAsGiven) {
    quarn_test::TempDir dir;
    const auto path = (dir.path() / "take.wav").string();
    // Sums above 1 are stored as they are.
    const std::vector<float> frames = {0.5f, -0.25f, 1.75f, -3.0f, 0.0f, 1.0f};
    {
        WavWriter writer;
        ASSERT_TRUE(writer.open(path, EncoderConfig{}));
        EXPECT_EQ(writer.write(frames.data(), 3), 3u);
        writer.close();
    }
    const auto file = bytes_of(quarn_test::read_file(path));
    const std::vector<unsigned char> header = {
        'R',  'I',  'F',  'F',  60,  0,   0,   0,                 // 36 + 24 data bytes
        'W',  'A',  'V',  'E',  'f', 'm', 't', ' ', 16, 0, 0, 0,  // fmt chunk size
        3,    0,    2,    0,                                      // IEEE float, 2 channels
        0x00, 0x77, 0x01, 0x00,                                   // 96000 frames per second
        0x00, 0xb8, 0x0b, 0x00,                                   // 768000 bytes per second
        8,    0,    32,   0,                                      // block align, bits per sample
        'd',  'a',  't',  'a',  24,  0,   0,   0};
    ASSERT_EQ(file.size(), 44u + 24u);
    EXPECT_EQ(std::vector<unsigned char>(file.begin(), file.begin() + 44), header);
    std::vector<float> stored(6);
    std::memcpy(stored.data(), file.data() + 44, 24);
    EXPECT_EQ(stored, frames);

    const auto sound = audio_test::read_sound(path);
    ASSERT_TRUE(sound.opened);
    EXPECT_EQ(sound.channels, 2);
    EXPECT_EQ(sound.rate, 96000);
    EXPECT_EQ(sound.samples, frames);
}

TEST(WavWriter, AnUnclosedRecordingIsReadableUpToTheLastSecond) {
    quarn_test::TempDir dir;
    const auto path = (dir.path() / "killed.wav").string();
    WavWriter writer;
    ASSERT_TRUE(writer.open(path, EncoderConfig{}));
    // Just over one second, written in periods, as the mixer does.
    std::vector<float> period(256 * 2);
    std::vector<float> everything;
    for (int p = 0; p < 380; ++p) {
        for (std::size_t i = 0; i < period.size(); ++i)
            period[i] = static_cast<float>(p) + static_cast<float>(i) / 1024.0f;
        writer.write(period.data(), 256);
        everything.insert(everything.end(), period.begin(), period.end());
    }
    // The file as a crash would leave it: the writer is still open.
    const auto sound = audio_test::read_sound(path);
    ASSERT_TRUE(sound.opened);
    const std::size_t frames = sound.samples.size() / 2;
    EXPECT_GE(frames, 96000u);
    EXPECT_LE(frames, 380u * 256u);
    EXPECT_TRUE(std::equal(sound.samples.begin(), sound.samples.end(), everything.begin()));
}

TEST(WavWriter, SizesSaturateInsteadOfWrapping) {
    EXPECT_EQ(audio::wav_sizes(0, 2).data, 0u);
    EXPECT_EQ(audio::wav_sizes(0, 2).riff, 36u);
    // The largest data size that leaves room for the RIFF size.
    const auto below = audio::wav_sizes((UINT32_MAX - 36) / 8, 2);
    EXPECT_EQ(below.data, (UINT32_MAX - 36) / 8 * 8);
    EXPECT_EQ(below.riff, below.data + 36);
    const auto edge = audio::wav_sizes(UINT32_MAX / 8, 2);
    EXPECT_EQ(edge.riff, UINT32_MAX);
    const auto beyond = audio::wav_sizes(std::uint64_t{1} << 40, 2);
    EXPECT_EQ(beyond.data, UINT32_MAX);
    EXPECT_EQ(beyond.riff, UINT32_MAX);
}

TEST(WavWriter, ReportsAFileThatCannotBeCreated) {
    quarn_test::TempDir dir;
    WavWriter writer;
    EXPECT_FALSE(writer.open((dir.path() / "missing" / "take.wav").string(), EncoderConfig{}));
    EXPECT_FALSE(writer.is_open());
    const float frame[2] = {0.0f, 0.0f};
    EXPECT_EQ(writer.write(frame, 1), 0u);
    writer.close();
}
