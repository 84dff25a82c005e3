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
