#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "app_harness.h"

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
