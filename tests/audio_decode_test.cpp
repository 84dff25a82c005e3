#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <future>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "AudioEngine.h"
#include "audio/SampleDecoder.h"
#include "audio_test_util.h"
#include "test_support.h"

using audio_test::write_sound;

namespace {

constexpr int kWavFloat = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
constexpr int kWav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
constexpr int kMp3 = SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
constexpr int kFlac = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;

std::vector<float> samples_of(const AudioBuffer& buffer) {
    return {buffer.sample_data, buffer.sample_data + buffer.frame_count * buffer.channel_count};
}

std::vector<float> counting_frames(std::size_t frames) {
    std::vector<float> samples(frames * 2);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<float>(i % 1000) / 1000.0f - 0.5f;
    return samples;
}

// The 44-byte header of a PCM WAV file whose data chunk holds `data_bytes`.
std::string wav_header(int channels, std::uint32_t rate, int bits, std::uint32_t data_bytes) {
    std::string header;
    auto number = [&](std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            header += static_cast<char>((value >> (8 * i)) & 0xff);
    };
    const std::uint32_t block = static_cast<std::uint32_t>(channels * bits / 8);
    header += "RIFF";
    number(36 + data_bytes, 4);
    header += "WAVEfmt ";
    number(16, 4);
    number(1, 2);  // PCM
    number(static_cast<std::uint32_t>(channels), 2);
    number(rate, 4);
    number(rate * block, 4);
    number(block, 2);
    number(static_cast<std::uint32_t>(bits), 2);
    header += "data";
    number(data_bytes, 4);
    return header;
}

// A tone encoded by LAME into an MP3 stream's bytes; "" when it cannot be
// written.
struct Mp3Part {
    int rate;
    int channels;
    double seconds;
    int bitrate_mode;  // SF_BITRATE_MODE_...
    double level;      // 0 the highest bitrate, 1 the lowest
    bool without_length_frame = false;
};

// Parts of the kinds the tests join: a VBR file and a 320 kbit/s one, both
// with a Xing or Info frame; 32 and 8 kbit/s ones, whose frames are too small
// for one.
constexpr Mp3Part kVbr{44100, 1, 3.0, SF_BITRATE_MODE_VARIABLE, 0.5};
constexpr Mp3Part k320{44100, 2, 2.0, SF_BITRATE_MODE_CONSTANT, 0.0};
constexpr Mp3Part k320Untagged{44100, 2, 2.0, SF_BITRATE_MODE_CONSTANT, 0.0, true};
constexpr Mp3Part k32{44100, 1, 2.0, SF_BITRATE_MODE_CONSTANT, 1.0};
constexpr Mp3Part k8{8000, 1, 5.0, SF_BITRATE_MODE_CONSTANT, 1.0};

std::string mp3_bytes(const Mp3Part& part, const std::string& scratch) {
    const auto frames = static_cast<std::size_t>(part.seconds * part.rate);
    std::vector<float> samples;
    for (float value : audio_test::sine(300.0, part.rate, frames, 0.5f))
        samples.insert(samples.end(), static_cast<std::size_t>(part.channels), value);
    if (!audio_test::write_mp3(scratch, part.rate, part.channels, samples, part.bitrate_mode,
                               part.level))
        return "";
    const std::string bytes = quarn_test::read_file(scratch);
    return part.without_length_frame ? audio_test::without_length_frame(bytes) : bytes;
}

class Decoding : public ::testing::Test {
  protected:
    std::string file(const std::string& name) const { return (dir.path() / name).string(); }

    // Writes the parts joined end to end, as `cat` joins files, into `name`.
    std::string joined_mp3(const std::string& name, const std::vector<Mp3Part>& parts) {
        std::string bytes;
        for (const Mp3Part& part : parts) {
            const std::string part_bytes = mp3_bytes(part, file("scratch.mp3"));
            EXPECT_FALSE(part_bytes.empty()) << name;
            bytes += part_bytes;
        }
        quarn_test::write_file(file(name), bytes);
        return file(name);
    }

    quarn_test::TempDir dir;
    AudioEngine engine;
};

}  // namespace

TEST_F(Decoding, MonoAt44100BecomesTwoEqualChannelsAt96000) {
    const auto tone = audio_test::sine(441.0, 44100, 4410, 0.5f);
    ASSERT_TRUE(write_sound(file("tone.wav"), kWav16, 44100, 1, tone));
    const auto buffer = engine.load_sample(file("tone.wav"));
    ASSERT_TRUE(buffer);
    EXPECT_EQ(buffer->channel_count, 2);
    EXPECT_NEAR(static_cast<double>(buffer->frame_count), 4410.0 * 96000 / 44100, 2.0);
    const auto samples = samples_of(*buffer);
    for (std::size_t i = 0; i < samples.size(); i += 2)
        ASSERT_EQ(samples[i], samples[i + 1]) << "frame " << i / 2;
    // Same tone: level and number of cycles kept.
    EXPECT_NEAR(audio_test::rms(samples, 2, 0), 0.5 / std::sqrt(2.0), 0.01);
    EXPECT_NEAR(audio_test::zero_crossings(samples, 2, 0), 2 * 44, 2);
}

TEST_F(Decoding, FramesAcrossReadBoundariesArriveWholeAndInOrder) {
    // At the engine's own rate nothing is converted, so every sample comes back.
    for (std::size_t frames : {1u, 4095u, 4096u, 3u * 4096u, 3u * 4096u + 1u}) {
        const auto samples = counting_frames(frames);
        const auto path = file("frames" + std::to_string(frames) + ".wav");
        ASSERT_TRUE(write_sound(path, kWavFloat, 96000, 2, samples));
        const auto buffer = engine.load_sample(path);
        ASSERT_TRUE(buffer) << frames;
        EXPECT_EQ(buffer->frame_count, frames);
        EXPECT_EQ(samples_of(*buffer), samples) << frames;
    }
}

TEST_F(Decoding, ReadsMp3Files) {
    const auto tone = audio_test::sine(441.0, 44100, 44100, 0.5f);
    ASSERT_TRUE(write_sound(file("tone.mp3"), kMp3, 44100, 1, tone));
    const auto buffer = engine.load_sample(file("tone.mp3"));
    ASSERT_TRUE(buffer);
    EXPECT_EQ(buffer->channel_count, 2);
    // The encoder pads a little at both ends.
    EXPECT_NEAR(static_cast<double>(buffer->frame_count), 96000.0, 96000.0 * 0.05);
    const auto samples = samples_of(*buffer);
    EXPECT_NEAR(audio_test::rms(samples, 2, 0), 0.5 / std::sqrt(2.0), 0.05);
    for (std::size_t i = 0; i < samples.size(); i += 2)
        ASSERT_EQ(samples[i], samples[i + 1]) << "frame " << i / 2;
}

TEST_F(Decoding, AnMp3PlaysToTheEndOfItsStream) {
    // Without its Xing frame a VBR file's length is known only by reading it
    // all: it must give the frames of the tagged file, and the encoder's delay
    // and padding that the tag would have cut (under two MP3 frames).
    const std::string tagged = joined_mp3("tagged.mp3", {kVbr});
    const std::string untagged = file("untagged.mp3");
    const std::string stripped = audio_test::without_length_frame(quarn_test::read_file(tagged));
    ASSERT_FALSE(stripped.empty()) << "LAME wrote no Xing frame";
    quarn_test::write_file(untagged, stripped);
    const audio::DecodedSound whole = audio::decode_file(tagged);
    const audio::DecodedSound sound = audio::decode_file(untagged);
    ASSERT_TRUE(whole.samples && sound.samples);
    EXPECT_NEAR(static_cast<double>(whole.frames), 3.0 * 96000, 2.0);
    EXPECT_GE(sound.frames, whole.frames);
    EXPECT_LE(sound.frames, whole.frames + 2 * 1152 * 96000 / 44100);
    // Its length is known before decoding, as closely.
    EXPECT_NEAR(static_cast<double>(audio::declared_frames_of(untagged).value_or(0)),
                static_cast<double>(sound.frames), 16.0);

    // Files of other bitrates and rates joined end to end with `cat` decode to
    // what they give apart, each of its own length, though the first one's
    // Info frame states the first one's length alone.
    const std::vector<std::vector<Mp3Part>> joins = {
        {k320, k8}, {k320, k32}, {k8, k320Untagged}, {kVbr, k32, k8}};
    for (std::size_t j = 0; j < joins.size(); ++j) {
        const std::string joined = joined_mp3("joined.mp3", joins[j]);
        const audio::DecodedSound sound = audio::decode_file(joined);
        ASSERT_TRUE(sound.samples) << "join " << j;
        std::uint64_t expected = 0;
        for (const Mp3Part& part : joins[j]) {
            const auto alone = audio::decode_file(joined_mp3("part.mp3", {part}));
            ASSERT_TRUE(alone.samples) << "join " << j;
            expected += alone.frames;
        }
        EXPECT_NEAR(static_cast<double>(sound.frames), static_cast<double>(expected),
                    2.0 * joins[j].size())
            << "join " << j;
        // The last part is its tone, not silence: the last half second.
        const std::vector<float> tail(sound.samples.get() + (sound.frames - 48000) * 2,
                                      sound.samples.get() + sound.frames * 2);
        EXPECT_NEAR(audio_test::rms(tail, 2, 0), 0.5 / std::sqrt(2.0), 0.1) << "join " << j;
        // Measured to within the delay and padding of the first part.
        EXPECT_NEAR(static_cast<double>(audio::declared_frames_of(joined).value_or(0)),
                    static_cast<double>(sound.frames), 3.0 * 1152 * 96000 / 44100)
            << "join " << j;
    }
}

TEST_F(Decoding, MoreThanTwoChannelsAreMixedDownToTwo) {
    // Left, right and two shared channels, constant over the file.
    std::vector<float> samples;
    for (int i = 0; i < 100; ++i)
        samples.insert(samples.end(), {0.3f, -0.3f, 0.6f, 0.0f});
    ASSERT_TRUE(write_sound(file("quad.wav"), kWavFloat, 96000, 4, samples));
    const auto buffer = engine.load_sample(file("quad.wav"));
    ASSERT_TRUE(buffer);
    ASSERT_EQ(buffer->channel_count, 2);
    ASSERT_EQ(buffer->frame_count, 100u);
    EXPECT_FLOAT_EQ(buffer->sample_data[0], (0.3f + 0.6f) / 3.0f);
    EXPECT_FLOAT_EQ(buffer->sample_data[1], (-0.3f + 0.6f) / 3.0f);
    EXPECT_FLOAT_EQ(buffer->sample_data[198], (0.3f + 0.6f) / 3.0f);
}

TEST_F(Decoding, NanAndInfiniteSamplesBecomeSilence) {
    // A float file may hold values that no sound has. At the engine's rate
    // the others come back untouched; after a conversion none is left either.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    auto samples = counting_frames(10000);
    auto expected = samples;
    const std::vector<std::pair<std::size_t, float>> bad = {
        {0, nan}, {1, inf}, {2 * 4096 + 1, -inf}, {2 * 5000, nan}, {2 * 9999 + 1, inf}};
    for (const auto& [index, value] : bad) {
        samples[index] = value;
        expected[index] = 0.0f;
    }
    for (int rate : {96000, 44100}) {
        const auto path = file("bad" + std::to_string(rate) + ".wav");
        ASSERT_TRUE(write_sound(path, kWavFloat, rate, 2, samples));
        const auto buffer = engine.load_sample(path);
        ASSERT_TRUE(buffer) << rate;
        const auto decoded = samples_of(*buffer);
        if (rate == 96000) {
            EXPECT_EQ(decoded, expected);
        }
        EXPECT_TRUE(std::all_of(decoded.begin(), decoded.end(), [](float value) {
            return std::isfinite(value);
        })) << rate;
    }
}

TEST_F(Decoding, GivesNothingForFilesWithoutSound) {
    ASSERT_TRUE(write_sound(file("empty.wav"), kWavFloat, 96000, 2, {}));
    quarn_test::write_file(file("notes.wav"), "this is not a sound file, only text\n");
    quarn_test::write_file(file("notes.mp3"), std::string(5000, 'x'));
    // A tag that an MP3 starts with, and no sound after it.
    quarn_test::write_file(file("tag.mp3"), "ID3\x03" + std::string(5000, '\0'));
    for (const std::string& path : {file("empty.wav"), file("notes.wav"), file("notes.mp3"),
                                    file("tag.mp3"), file("missing.wav"), dir.str()}) {
        EXPECT_FALSE(engine.load_sample(path)) << path;
        const audio::DecodedSound sound = audio::decode_file(path);
        EXPECT_FALSE(sound.samples) << path;
        EXPECT_EQ(sound.failure, audio::DecodeFailure::not_a_sound) << path;
    }
}

TEST_F(Decoding, ACutOffFileKeepsTheFramesBeforeTheCut) {
    const auto samples = counting_frames(10000);
    ASSERT_TRUE(write_sound(file("cut.wav"), kWavFloat, 96000, 2, samples));
    // Cut in the middle of frame 5000: the header still promises 10000.
    std::filesystem::resize_file(
        file("cut.wav"), std::filesystem::file_size(file("cut.wav")) - (10000 - 5000) * 8 + 4);
    const auto buffer = engine.load_sample(file("cut.wav"));
    ASSERT_TRUE(buffer);
    EXPECT_EQ(buffer->frame_count, 5000u);
    EXPECT_EQ(samples_of(*buffer), std::vector<float>(samples.begin(), samples.begin() + 5000 * 2));
}

TEST_F(Decoding, AFileEndingBeforeItsDeclaredLengthGivesTheFramesItHolds) {
    // A FLAC stream states its length in its header, and a cut-off one ends
    // earlier: the buffer, made for the stated length, keeps what came.
    for (int rate : {96000, 44100}) {
        const auto path = file("cut" + std::to_string(rate) + ".flac");
        ASSERT_TRUE(write_sound(path, kFlac, rate, 2, counting_frames(rate)));
        std::filesystem::resize_file(path, std::filesystem::file_size(path) / 2);
        const auto held = audio_test::read_sound(path).samples;
        ASSERT_LT(held.size(), static_cast<std::size_t>(rate)) << rate;
        const auto buffer = engine.load_sample(path);
        ASSERT_TRUE(buffer) << rate;
        if (rate == 96000)
            EXPECT_EQ(samples_of(*buffer), held);
        else
            EXPECT_NEAR(static_cast<double>(buffer->frame_count),
                        static_cast<double>(held.size() / 2) * 96000 / rate, 2.0);
    }
}

TEST_F(Decoding, ASoundLongerThanTheBoundIsTooLong) {
    // 31 minutes of 8-bit mono at 8 kHz, left sparse on disk: it would
    // decode to 1.4 GB. Its header says so, and nothing is decoded.
    constexpr std::uint32_t kBytes = 31 * 60 * 8000;
    quarn_test::write_file(file("long.wav"), wav_header(1, 8000, 8, kBytes));
    std::filesystem::resize_file(file("long.wav"), 44 + kBytes);
    EXPECT_FALSE(engine.load_sample(file("long.wav")));
    EXPECT_EQ(audio::decode_file(file("long.wav")).failure, audio::DecodeFailure::too_long);
    // Its length is known before decoding, at the engine's rate.
    EXPECT_EQ(audio::declared_frames_of(file("long.wav")), 31u * 60 * 96000);
    EXPECT_EQ(audio::declared_frames_of(file("missing.wav")), std::nullopt);

    // An MP3 whose length no header states is measured to its end: one frame
    // past the bound is too long.
    const std::string untagged = joined_mp3("untagged.mp3", {k320Untagged});
    const std::uint64_t frames = audio::decode_file(untagged).frames;
    ASSERT_GT(frames, 0u);
    const audio::DecodedSound sound = audio::decode_file(untagged, 96000, frames - 1);
    EXPECT_FALSE(sound.samples);
    EXPECT_EQ(sound.failure, audio::DecodeFailure::too_long);
}

TEST_F(Decoding, TheRoomCheckIsAskedBeforeTheArrayIsMadeOrGrows) {
    // A WAV file's array is made once, at its length.
    ASSERT_TRUE(write_sound(file("short.wav"), kWavFloat, 96000, 2, counting_frames(10000)));
    std::vector<std::uint64_t> asked;
    const auto allow = [&](std::uint64_t frames) {
        asked.push_back(frames);
        return true;
    };
    audio::DecodedSound sound =
        audio::decode_file(file("short.wav"), 96000, audio::kMaxDecodedFrames, allow);
    EXPECT_EQ(sound.frames, 10000u);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_GE(asked[0], 10000u);
    sound = audio::decode_file(file("short.wav"), 96000, audio::kMaxDecodedFrames,
                               [](std::uint64_t) { return false; });
    EXPECT_FALSE(sound.samples);
    EXPECT_EQ(sound.frames, 0u);
    EXPECT_EQ(sound.failure, audio::DecodeFailure::no_room);

    // An MP3 that its writer goes on appending to while it is decoded runs
    // past its measured length: the array grows, each time asked for with
    // the frames it then holds in all. A refusal, or the bound passed on the
    // way, gives nothing at all.
    const std::string start = mp3_bytes(k320Untagged, file("scratch.mp3"));
    const std::string more = mp3_bytes(k32, file("scratch.mp3"));
    ASSERT_FALSE(start.empty() || more.empty());
    const std::string path = file("growing.mp3");
    quarn_test::write_file(path, start);
    const std::uint64_t measured = audio::declared_frames_of(path).value_or(0);
    quarn_test::write_file(path, start + more + more);
    const std::uint64_t grown = audio::decode_file(path).frames;
    ASSERT_GT(grown, measured + 4 * 96000);
    struct Case {
        std::uint64_t max_frames;
        std::size_t refused_ask;  // 0: none
        audio::DecodeFailure failure;
    };
    for (const Case& c : {Case{audio::kMaxDecodedFrames, 0, audio::DecodeFailure::none},
                          Case{audio::kMaxDecodedFrames, 2, audio::DecodeFailure::no_room},
                          Case{grown - 1, 0, audio::DecodeFailure::too_long}}) {
        SCOPED_TRACE("refused ask " + std::to_string(c.refused_ask) + ", bound " +
                     std::to_string(c.max_frames));
        quarn_test::write_file(path, start);
        asked.clear();
        const auto room = [&](std::uint64_t frames) {
            if (asked.empty())
                quarn_test::write_file(path, start + more + more);
            asked.push_back(frames);
            return asked.size() != c.refused_ask;
        };
        sound = audio::decode_file(path, 96000, c.max_frames, room);
        EXPECT_EQ(sound.failure, c.failure);
        ASSERT_FALSE(asked.empty());
        EXPECT_NEAR(static_cast<double>(asked[0]), static_cast<double>(measured), 16.0);
        EXPECT_EQ(std::adjacent_find(asked.begin(), asked.end(), std::greater_equal<>()),
                  asked.end());
        if (c.failure != audio::DecodeFailure::none) {
            EXPECT_FALSE(sound.samples);
            EXPECT_EQ(sound.frames, 0u);
            continue;
        }
        ASSERT_TRUE(sound.samples);
        EXPECT_EQ(sound.frames, grown);
        EXPECT_GE(asked.size(), 2u);
        EXPECT_LE(sound.frames, asked.back());
    }
}

TEST_F(Decoding, AFifoNamedLikeASampleGivesNothingAtOnceAndHoldsUpNoOtherFile) {
    const std::string fifo = file("ff.wav");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_TRUE(write_sound(file("kick.wav"), kWav16, 44100, 1, std::vector<float>(4410, 0.25f)));
    auto from_fifo = std::async(std::launch::async, [&] { return engine.load_sample(fifo); });
    // Gives a decoder that waits in the FIFO's open the time to get there.
    from_fifo.wait_for(std::chrono::milliseconds(200));
    auto from_file =
        std::async(std::launch::async, [&] { return engine.load_sample(file("kick.wav")); });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    const bool answered = from_fifo.wait_until(deadline) == std::future_status::ready &&
                          from_file.wait_until(deadline) == std::future_status::ready;
    // A writer lets a waiting decoder go, so that the test fails, not hangs.
    while (from_fifo.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
        const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0)
            ::close(writer);
    }
    EXPECT_TRUE(answered) << "decoding waited for a writer to the FIFO";
    EXPECT_FALSE(from_fifo.get());
    EXPECT_TRUE(from_file.get());
}

TEST_F(Decoding, ThreadsMayDecodeAtOnceEvenWhenFilesFail) {
    // The watcher's thread and a pack switch decode at the same time; failed
    // opens must not race on the decoding library's error state.
    quarn_test::write_file(file("broken.wav"), "not a sound file\n");
    ASSERT_TRUE(write_sound(file("good.wav"), kWav16, 44100, 1, std::vector<float>(4410, 0.25f)));
    std::vector<std::thread> threads;
    std::atomic<int> decoded{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20; ++i) {
                EXPECT_FALSE(engine.load_sample(file("broken.wav")));
                if (engine.load_sample(file("good.wav")))
                    ++decoded;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(decoded.load(), 80);
}
