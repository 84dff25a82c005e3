#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "audio/FrameRing.h"
#include "audio/WavWriter.h"
#include "audio_test_util.h"
#include "test_support.h"

using audio::EncoderConfig;
using audio::WavWriter;
using audio_test::u32_at;

namespace {

std::vector<unsigned char> bytes_of(const std::string& text) {
    return {text.begin(), text.end()};
}

// While it lives, writes of this process past `bytes` into any file fail
// (EFBIG), as on a full disk; the signal that would end the process is ignored.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &before_);
        old_handler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = before_;
        limit.rlim_cur = bytes;
        ok_ = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &before_);
        std::signal(SIGXFSZ, old_handler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool ok() const { return ok_; }

  private:
    rlimit before_{};
    void (*old_handler_)(int) = SIG_DFL;
    bool ok_ = false;
};

// Period `p` of 256 frames, every sample a number of its own.
std::vector<float> numbered_period(int p) {
    std::vector<float> period(256 * 2);
    for (std::size_t i = 0; i < period.size(); ++i)
        period[i] = static_cast<float>(p * 1000 + static_cast<int>(i));
    return period;
}

// The file at `path` holds the first 1000 frames of `offered`, and both of
// its sizes count exactly those.
void expect_first_1000_frames(const std::string& path, const std::vector<float>& offered) {
    const std::string file = quarn_test::read_file(path);
    ASSERT_EQ(file.size(), 44u + 1000u * 8u);
    EXPECT_EQ(u32_at(file, 40), 1000u * 8u);
    EXPECT_EQ(u32_at(file, 4), 36u + 1000u * 8u);
    const auto sound = audio_test::read_sound(path);
    ASSERT_EQ(sound.samples.size(), 2000u);
    EXPECT_TRUE(std::equal(sound.samples.begin(), sound.samples.end(), offered.begin()));
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

TEST(WavWriter, AtTheSizeLimitTheTakeEndsOnTheLastWholeFrameWithExactSizes) {
    // What the program writes to: the most whole frames that both 32-bit
    // sizes count exactly, 93:12 of 96 kHz stereo float.
    EXPECT_EQ(WavWriter().most_frames(), 536870907u);
    EXPECT_EQ(536870907u / 96000 / 60, 93u);
    const auto largest = audio::wav_sizes(536870907, 2);
    EXPECT_EQ(largest.data, 536870907u * 8);
    EXPECT_EQ(largest.riff, largest.data + 36);

    // A limit lowered to reach: room for 1000 frames and 5 bytes more.
    quarn_test::TempDir dir;
    const auto path = (dir.path() / "long.wav").string();
    std::vector<float> everything;
    std::vector<std::uint64_t> taken;
    {
        WavWriter writer(1000 * 8 + 5);
        ASSERT_TRUE(writer.open(path, EncoderConfig{}));
        EXPECT_EQ(writer.most_frames(), 1000u);
        for (int p = 0; p < 5; ++p) {
            const auto period = numbered_period(p);
            everything.insert(everything.end(), period.begin(), period.end());
            taken.push_back(writer.write(period.data(), 256));
        }
        EXPECT_TRUE(writer.full());
        EXPECT_EQ(writer.error(), 0);
        writer.close();
        EXPECT_EQ(writer.error(), 0);
    }
    EXPECT_EQ(taken, (std::vector<std::uint64_t>{256, 256, 256, 232, 0}));
    expect_first_1000_frames(path, everything);
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

TEST(WavWriter, AFailedWriteEndsTheTakeWithAHeaderTrueToWhatTheFileHolds) {
    quarn_test::TempDir dir;
    const auto path = (dir.path() / "full.wav").string();
    std::vector<float> everything;
    {
        // Room for the header, 1000 frames and 3 bytes of the next one.
        const FileSizeLimit full(44 + 1000 * 8 + 3);
        ASSERT_TRUE(full.ok());
        WavWriter writer;
        ASSERT_TRUE(writer.open(path, EncoderConfig{}));
        bool failed = false;
        for (int p = 0; p < 100; ++p) {
            const auto period = numbered_period(p);
            everything.insert(everything.end(), period.begin(), period.end());
            const bool written = writer.write(period.data(), 256) == 256;
            // Once a write has failed, nothing more is written.
            EXPECT_FALSE(failed && written) << p;
            failed = failed || !written;
        }
        EXPECT_TRUE(failed);
        EXPECT_EQ(writer.error(), EFBIG);
        writer.close();
        EXPECT_EQ(writer.error(), EFBIG);
    }
    expect_first_1000_frames(path, everything);
}

TEST(WavWriter, AHeaderThatDoesNotFitLeavesNoFile) {
    quarn_test::TempDir dir;
    const auto path = dir.path() / "full.wav";
    const FileSizeLimit full(20);
    ASSERT_TRUE(full.ok());
    WavWriter writer;
    EXPECT_FALSE(writer.open(path.string(), EncoderConfig{}));
    EXPECT_EQ(writer.error(), EFBIG);
    EXPECT_FALSE(writer.is_open());
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(WavWriter, NeverReplacesAFileThatExists) {
    quarn_test::TempDir dir;
    const auto path = dir.path() / "take.wav";
    quarn_test::write_file(path, "an earlier take");
    WavWriter writer;
    EXPECT_FALSE(writer.open(path.string(), EncoderConfig{}));
    EXPECT_EQ(writer.error(), EEXIST);
    EXPECT_EQ(quarn_test::read_file(path), "an earlier take");
}

TEST(FrameRing, KeepsTheOrderAcrossTheWrapAndTakesAPushWholeOrNotAtAll) {
    audio::FrameRing ring(10, 2);
    float next = 0.0f;      // the value of the next sample pushed
    float expected = 0.0f;  // the value of the next sample popped
    auto frames = [&next](std::size_t count) {
        std::vector<float> samples(count * 2);
        for (float& sample : samples)
            sample = next++;
        return samples;
    };
    // Frames pushed and popped per round: the read and write points pass the
    // end of the storage at every offset.
    const std::vector<std::pair<std::size_t, std::size_t>> rounds = {
        {3, 2}, {7, 4}, {4, 5}, {6, 6}, {9, 9}, {1, 0}, {6, 1}, {2, 7}, {1, 7}, {5, 4}};
    std::size_t held = 0;
    for (const auto& [pushed, popped] : rounds) {
        const auto samples = frames(pushed);
        const bool fits = held + pushed <= ring.capacity();
        ASSERT_EQ(ring.push(samples.data(), pushed), fits) << held << " + " << pushed;
        if (!fits) {
            next -= static_cast<float>(samples.size());
            continue;
        }
        held += pushed;
        for (std::size_t left = std::min(popped, held); left > 0;) {
            const auto piece = ring.front();
            ASSERT_FALSE(piece.empty());
            const std::size_t taken = std::min(left, piece.size() / 2);
            for (std::size_t i = 0; i < taken * 2; ++i)
                ASSERT_EQ(piece[i], expected++);
            ring.pop(taken);
            left -= taken;
            held -= taken;
        }
    }
    EXPECT_EQ(expected + static_cast<float>(held * 2), next);
}

TEST(FrameRing, OneProducerAndOneConsumerPassEveryFrameInOrder) {
    constexpr std::uint32_t kFrames = 200000;
    audio::FrameRing ring(1000, 2);
    std::thread producer([&ring] {
        float period[2 * 37];
        for (std::uint32_t frame = 0; frame < kFrames;) {
            const std::uint32_t count = std::min<std::uint32_t>(37, kFrames - frame);
            for (std::uint32_t i = 0; i < 2 * count; ++i)
                period[i] = static_cast<float>(frame * 2 + i);
            if (ring.push(period, count))
                frame += count;
            else
                std::this_thread::yield();
        }
    });
    std::uint32_t sample = 0;
    bool in_order = true;
    while (sample < 2 * kFrames) {
        const auto piece = ring.front();
        for (float value : piece)
            in_order = in_order && value == static_cast<float>(sample++);
        ring.pop(piece.size() / 2);
        if (piece.empty())
            std::this_thread::yield();
    }
    producer.join();
    EXPECT_TRUE(in_order);
    EXPECT_TRUE(ring.front().empty());
}
