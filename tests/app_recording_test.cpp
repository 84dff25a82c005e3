#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app_harness.h"

using namespace quarn_test;
using Lines = std::vector<std::string>;
namespace fs = std::filesystem;

namespace {

std::vector<fs::path> recordings_in(const fs::path& folder) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with("recording_") && name.ends_with(".wav"))
            found.push_back(entry.path());
    }
    return found;
}

std::string without_blanks(std::string text) {
    std::erase(text, ' ');
    return text;
}

// The reply queued after the first `queued` lines, its lines (which wrap
// within the output area) joined, without blanks.
std::string reply_since(AppHarness& quarn, std::size_t queued) {
    const auto lines = quarn.pending();
    std::string reply;
    for (std::size_t i = queued; i < lines.size(); ++i)
        reply += lines[i];
    return without_blanks(reply);
}

void run_periods(AudioEngine& engine, int count) {
    std::vector<float> output(2 * 256);
    for (int i = 0; i < count; ++i) {
        std::fill(output.begin(), output.end(), 0.0f);
        engine.process_period(output.data(), 256);
    }
}

}  // namespace

TEST(AppRecording, StartAndStopWriteOneFileInTheBaseFolder) {
    AppHarness quarn;
    auto& engine = quarn.app().get_audio_engine();
    ASSERT_FALSE(quarn.run("record start"));
    EXPECT_EQ(quarn.pending(), (Lines{"started recording..."}));
    ASSERT_TRUE(engine.is_recording());
    ASSERT_FALSE(quarn.run("kick"));
    run_periods(engine, 40);

    // Starting again keeps the open recording.
    ASSERT_FALSE(quarn.run("record start"));
    EXPECT_EQ(quarn.pending().back(), "started recording...");
    run_periods(engine, 40);
    const auto files = recordings_in(quarn.base());
    ASSERT_EQ(files.size(), 1u);

    const auto queued = quarn.pending().size();
    ASSERT_FALSE(quarn.run("record stop"));
    EXPECT_FALSE(engine.is_recording());
    EXPECT_EQ(reply_since(quarn, queued), without_blanks("saved as " + files[0].string()));
    // 44 bytes of header, then 80 periods of 256 stereo float frames.
    EXPECT_EQ(fs::file_size(files[0]), 44u + 80u * 256u * 2u * 4u);

    ASSERT_FALSE(quarn.run("record stop"));
    EXPECT_EQ(quarn.pending().back(), "nothing is being recorded");
    EXPECT_EQ(recordings_in(quarn.base()).size(), 1u);
}

TEST(AppRecording, StartThatCannotOpenItsFileSaysSo) {
    AppHarness quarn(false);
    fs::remove_all(quarn.base());
    ASSERT_FALSE(quarn.run("record start"));
    EXPECT_FALSE(quarn.app().get_audio_engine().is_recording());
    const std::string reply = reply_since(quarn, 0);
    EXPECT_TRUE(reply.starts_with(
        without_blanks("could not start recording to " + quarn.base().string() + "/recording_")))
        << reply;
    EXPECT_TRUE(reply.ends_with(".wav")) << reply;
    ASSERT_FALSE(quarn.run("record stop"));
    EXPECT_EQ(quarn.pending().back(), "nothing is being recorded");
}
