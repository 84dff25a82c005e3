#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app_harness.h"

using namespace quarn_test;
using Lines = std::vector<std::string>;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Puts a complete sound file in place in one step, as a copy that lands by rename.
void place_wav(const fs::path& scratch, const fs::path& target, int frames = 4410) {
    write_wav(scratch, frames);
    fs::rename(scratch, target);
}

}  // namespace

TEST(AppConcurrency, FileEventsDuringASwitchKeepTheSamplesInPathOrder) {
    AppHarness quarn;
    const fs::path big = quarn.pack("big");
    fs::create_directories(big);
    Lines expected;
    for (int i = 0; i < 48; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "s%02d", i);
        write_wav(big / (std::string(name) + ".wav"), 44100);
        expected.push_back(name);
    }
    expected.push_back("zzz");

    // Files of the pack change while it is being decoded: their handlers run
    // before the switch has added its samples.
    std::atomic<bool> switching{true};
    std::jthread changer([&] {
        place_wav(quarn.base() / "new.wav", big / "zzz.wav");
        while (switching) {
            place_wav(quarn.base() / "again.wav", big / "s05.wav", 44100);
            std::this_thread::sleep_for(5ms);
        }
    });
    ASSERT_FALSE(quarn.run("use big"));
    std::this_thread::sleep_for(100ms);
    switching = false;
    changer.join();
    ASSERT_TRUE(wait_until([&] { return quarn.samples().size() == expected.size(); }, 10s));
    EXPECT_EQ(quarn.samples(), expected);
}

TEST(AppConcurrency, CommandsFileChangesAndAudioPeriodsRunTogether) {
    AppHarness quarn;
    const fs::path pack = quarn.pack("default");
    std::atomic<bool> running{true};

    // The audio thread: periods as the device would run them, also into a recording.
    std::jthread audio([&] {
        std::vector<float> output(2 * 256);
        while (running) {
            std::fill(output.begin(), output.end(), 0.0f);
            quarn.app().get_audio_engine().process_period(output.data(), 256);
        }
    });
    // The file changes: added, renamed back and forth, deleted.
    std::jthread files([&] {
        for (int round = 0; running && round < 60; ++round) {
            place_wav(quarn.base() / "a.wav", pack / "extra.wav");
            fs::rename(pack / "kick.wav", pack / "kick2.wav");
            fs::rename(pack / "kick2.wav", pack / "kick.wav");
            fs::remove(pack / "extra.wav");
            std::this_thread::sleep_for(2ms);
        }
    });

    const char* const commands[] = {"kick #-#- &2", "hh 0.6 -#", "=a",         "snare ---#",
                                    "samples",      "kick",      "volume 0.8", "record start",
                                    ".kick",        ">kick",     "a",          "bpm 300",
                                    "record stop",  "/a",        ". ",         "> "};
    const auto until = std::chrono::steady_clock::now() + 3s;
    for (int i = 0; std::chrono::steady_clock::now() < until; ++i) {
        const std::string line = commands[i % std::size(commands)];
        quarn.run(line);
        quarn.app().output_lines();
        if (i % 7 == 0)
            quarn.app().show_accepted_command(tui::to_wstring(line), "");
    }
    files.join();
    running = false;
    audio.join();

    // Once the events have settled the pack is whole again.
    ASSERT_FALSE(quarn.run("use default"));
    EXPECT_EQ(quarn.samples(), (Lines{"clap", "hh", "kick", "oh", "percy", "snare"}));
}

TEST(AppConcurrency, ClosingWhileAHandlerWaitsToRetry) {
    AppHarness quarn;
    // The file's second decode waits for a pause; the App goes meanwhile,
    // and its retry with it, before the members the retry uses.
    write_file(quarn.pack("default") / "broken.wav", "x");
    ASSERT_TRUE(
        wait_until([&] { return quarn.app().get_sample_intake().waiting_retries() == 1; }, 10s));
}
