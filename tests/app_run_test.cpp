#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "app_harness.h"
#include "program_folder.h"

using namespace quarn_test;

TEST(AppRun, TheBaseFolderIsTheProgramsFolderAlsoForABareName) {
    const std::string own_folder = binary_dir().string();  // where this test program lies
    const std::pair<std::string, std::string> cases[] = {
        {"./quarn", "."}, {"build/quarn", "build"}, {"/usr/bin/quarn", "/usr/bin"},
        {"/quarn", ""},   {"quarn", own_folder},    {"", own_folder},
    };
    for (const auto& [program, folder] : cases)
        EXPECT_EQ(base_folder_for(program), folder) << program;
}

TEST(AppRun, ABareNameTakesTheFolderWhereTheSearchPathFindsIt) {
    namespace fs = std::filesystem;
    const std::string own_folder = binary_dir().string();
    TempDir dir;
    // bin/quarn is a link to this program, as a user links the built one;
    // plain/quarn cannot be run and other/quarn is another program: the
    // shell passes both by, or would have run the other.
    for (const char* folder : {"bin", "plain", "other"})
        fs::create_directories(dir.path() / folder);
    fs::create_symlink(fs::read_symlink("/proc/self/exe"), dir.path() / "bin/quarn");
    write_file(dir.path() / "plain/quarn", "not a program");
    fs::create_symlink("/bin/sh", dir.path() / "other/quarn");

    const char* saved = std::getenv("PATH");
    const std::optional<std::string> saved_path =
        saved ? std::optional<std::string>(saved) : std::nullopt;
    const std::string bin = dir.str() + "/bin", plain = dir.str() + "/plain",
                      other = dir.str() + "/other";
    const std::pair<std::string, std::string> cases[] = {
        {plain + ":" + bin, bin},         // the link's folder, as by its path
        {other + ":" + bin, own_folder},  // the shell would have run the other
        {plain + ":/nonexistent", own_folder},
    };
    for (const auto& [search_path, folder] : cases) {
        ::setenv("PATH", search_path.c_str(), 1);
        EXPECT_EQ(base_folder_for("quarn"), folder) << search_path;
        EXPECT_EQ(base_folder_for(bin + "/quarn"), bin);
    }
    if (saved_path)
        ::setenv("PATH", saved_path->c_str(), 1);
    else
        ::unsetenv("PATH");
}

TEST(AppRun, ALoopThatThrowsLeavesTheAudioThreadNothingOfIt) {
    ::setenv("SDL_AUDIODRIVER", "dummy", 1);
    ::setenv("TERM", "nosuchterm", 1);  // the loop cannot take this terminal
    AppHarness quarn;
    ASSERT_FALSE(quarn.run("kick #"));
    EXPECT_THROW(quarn.app().run(), std::runtime_error);

    // The periods that follow reach none of the loop's callbacks: the
    // step callback would post to the screen that is gone (which the
    // sanitizers report), and no step plays a sample.
    auto& engine = quarn.app().get_audio_engine();
    std::vector<float> period(4096 * 2);
    std::size_t most_players = 0;
    for (int i = 0; i < 64; ++i) {
        std::fill(period.begin(), period.end(), 0.0f);
        engine.process_period(period.data(), 4096);
        most_players = std::max(most_players, engine.player_count());
    }
    EXPECT_EQ(most_players, 0u);
}

TEST(AppRun, ASoundingStepPlaysItsSampleAtThePatternsVolumeAndTheStepsPitch) {
    AppHarness quarn;
    ASSERT_FALSE(quarn.run("kick 0.5 #7#-5------"));
    auto& engine = quarn.app().get_audio_engine();
    // The same plays, asked of an engine of its own, give the same sound.
    AudioEngine expected_engine;
    const auto kick = expected_engine.load_sample((quarn.pack("default") / "kick.wav").string());
    ASSERT_TRUE(kick);
    std::vector<int> steps;  // reached in a period: the step callback runs before they sound
    quarn.app().connect_sequencer([&steps](int step) { steps.push_back(step); });

    constexpr int kFrames = 4096;
    std::vector<float> period(kFrames * 2);
    std::vector<float> expected(kFrames * 2);
    std::vector<int> sounded;
    for (int i = 0; i < 100; ++i) {  // two measures and more
        std::fill(period.begin(), period.end(), 0.0f);
        std::fill(expected.begin(), expected.end(), 0.0f);
        steps.clear();
        engine.process_period(period.data(), kFrames);
        for (const int step : steps) {
            if (step == 0)
                expected_engine.play(kick, 0.5f, 7);
            if (step == 1)
                expected_engine.play(kick, 0.5f, -5);
            if (step <= 1)
                sounded.push_back(step);
        }
        expected_engine.process_period(expected.data(), kFrames);
        ASSERT_EQ(period, expected) << "period " << i;
    }
    EXPECT_EQ(sounded, (std::vector<int>{0, 1, 0, 1, 0}));
}
