#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app_harness.h"

using namespace quarn_test;
using Lines = std::vector<std::string>;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr auto kPatience = 10s;

bool holds(const Lines& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// The names a part holds, read by recalling it.
Lines part_instruments(AppHarness& quarn, const std::string& part) {
    EXPECT_TRUE(quarn.sequencer().load_state(part));
    return quarn.instruments();
}

}  // namespace

TEST(AppFileEvents, AddedFilesAreLoadedAtTheEndAndCanBePlayedAtOnce) {
    AppHarness quarn;
    fs::copy_file(quarn.pack("drovan") / "cowbell.wav", quarn.pack("default") / "bell.wav");
    ASSERT_TRUE(wait_until([&] { return holds(quarn.samples(), "bell"); }, kPatience));
    EXPECT_EQ(quarn.samples(), (Lines{"clap", "hh", "kick", "oh", "percy", "snare", "bell"}));
    ASSERT_FALSE(quarn.run("bell #-"));
    EXPECT_EQ(quarn.instruments(), (Lines{"bell"}));

    // In a sub-folder too, named after the file alone.
    fs::create_directories(quarn.pack("default") / "more");
    write_wav(quarn.pack("default") / "more" / "deep.wav");
    ASSERT_TRUE(wait_until([&] { return holds(quarn.samples(), "deep"); }, kPatience));

    // A recording is no sample.
    fs::copy_file(quarn.pack("default") / "kick.wav", quarn.pack("default") / "recording_1.wav");
    ASSERT_TRUE(quarn.settle("default"));
    EXPECT_FALSE(holds(quarn.samples(), "recording_1"));
}

TEST(AppFileEvents, DeletedFileDropsItsInstrumentEverywhereButKeepsTheSample) {
    AppHarness quarn;
    ASSERT_FALSE(quarn.run("kick #-"));
    ASSERT_FALSE(quarn.run("hh #"));
    ASSERT_FALSE(quarn.run("=verse"));
    fs::remove(quarn.pack("default") / "kick.wav");
    ASSERT_TRUE(wait_until([&] { return quarn.instruments() == Lines{"hh"}; }, kPatience));
    EXPECT_EQ(part_instruments(quarn, "verse"), (Lines{"hh"}));
    EXPECT_TRUE(holds(quarn.samples(), "kick"));
    EXPECT_TRUE(quarn.app().on_play_sample("kick"));
    ASSERT_FALSE(quarn.run("kick #"));  // a new instrument of the kept sample

    // Any extension counts: kick.txt takes the instrument kick as well.
    write_file(quarn.pack("default") / "kick.txt", "x");
    fs::remove(quarn.pack("default") / "kick.txt");
    ASSERT_TRUE(wait_until([&] { return quarn.instruments() == Lines{"hh"}; }, kPatience));
}

TEST(AppFileEvents, RenamedFileMovesItsInstrument) {
    AppHarness quarn;
    ASSERT_FALSE(quarn.run("kick 0.5 #-"));
    ASSERT_FALSE(quarn.run("=verse"));
    fs::rename(quarn.pack("default") / "kick.wav", quarn.pack("default") / "kick2.wav");
    ASSERT_TRUE(wait_until([&] { return quarn.instruments() == Lines{"kick2"}; }, kPatience));
    EXPECT_EQ(quarn.samples(),
              (Lines{"clap", "hh", "kick", "oh", "percy", "snare", "kick2"}));  // kick stays
    const auto moved = quarn.sequencer().read_pattern(quarn.sequencer().get_pattern("kick2"));
    EXPECT_FLOAT_EQ(moved.volume, 0.5f);
    EXPECT_EQ(part_instruments(quarn, "verse"), (Lines{"kick"}));  // parts keep the old name

    // Renamed to a name that is no sample file: instrument and sample go.
    ASSERT_FALSE(quarn.run("snare #"));
    fs::rename(quarn.pack("default") / "snare.wav", quarn.pack("default") / "snare.txt");
    ASSERT_TRUE(wait_until([&] { return !holds(quarn.samples(), "snare"); }, kPatience));
    EXPECT_FALSE(holds(quarn.instruments(), "snare"));
}

TEST(AppFileEvents, FileThatFailsToDecodeTwiceIsRemoved) {
    AppHarness quarn;
    ASSERT_FALSE(quarn.run("hh #-"));
    ASSERT_FALSE(quarn.run("kick #-"));
    write_file(quarn.pack("default") / "kick.wav", "no longer a sound");
    ASSERT_TRUE(wait_until([&] { return !holds(quarn.samples(), "kick"); }, kPatience));
    EXPECT_EQ(quarn.instruments(), (Lines{"hh"}));
    EXPECT_FALSE(quarn.app().on_play_sample("kick"));
}

TEST(AppFileEvents, ASecondTryGivesWayToALaterChangeOfItsSampleName) {
    // zap.wav stops decoding and waits for its second try; meanwhile another
    // file of the name comes, or the file goes. The later change decides, as
    // if the try had come first: the sample stays, from the other file.
    struct Case {
        std::string what;
        std::function<void(AppHarness&)> later;
        bool instrument_stays;  // a deletion takes the instrument, as always
    };
    auto place = [](AppHarness& quarn, const fs::path& from, const std::string& to) {
        fs::create_directories((quarn.pack("default") / to).parent_path());
        fs::copy_file(from, quarn.base() / "landing");
        fs::rename(quarn.base() / "landing", quarn.pack("default") / to);
    };
    const std::vector<Case> cases = {
        {"another file of the name, the bad one kept",
         [&](AppHarness& quarn) { place(quarn, quarn.pack("default") / "hh.wav", "more/zap.wav"); },
         true},
        {"another file of the name, the bad one removed",
         [&](AppHarness& quarn) {
             place(quarn, quarn.pack("default") / "hh.wav", "more/zap.wav");
             fs::remove(quarn.pack("default") / "zap.wav");
         },
         false},
        {"another extension",
         [&](AppHarness& quarn) { place(quarn, quarn.pack("default") / "percy.mp3", "zap.mp3"); },
         true},
    };
    for (const auto& c : cases) {
        AppHarness quarn;
        place(quarn, quarn.pack("default") / "kick.wav", "zap.wav");
        ASSERT_TRUE(wait_until([&] { return quarn.app().has_sample("zap"); }, kPatience)) << c.what;
        ASSERT_FALSE(quarn.run("zap #-"));
        ASSERT_FALSE(quarn.run("=verse"));
        write_file(quarn.pack("default") / "zap.wav", "no longer a sound");
        c.later(quarn);
        ASSERT_TRUE(quarn.settle("default")) << c.what;
        ASSERT_TRUE(wait_until(
            [&] { return quarn.app().get_sample_intake().waiting_retries() == 0; }, kPatience));
        EXPECT_TRUE(quarn.app().has_sample("zap")) << c.what;
        EXPECT_EQ(holds(quarn.instruments(), "zap"), c.instrument_stays) << c.what;
        EXPECT_EQ(holds(part_instruments(quarn, "verse"), "zap"), c.instrument_stays) << c.what;
    }
}

TEST(AppFileEvents, ABurstOfFilesThatDoNotDecodeHoldsBackNoOtherFile) {
    AppHarness quarn;
    // Each is tried once more after a pause, but no event waits for another
    // file's pause: the good file comes in at once behind them.
    const fs::path incoming = quarn.base() / "incoming";
    fs::create_directories(incoming);
    for (int i = 0; i < 200; ++i)
        write_file(incoming / ("empty" + std::to_string(i) + ".wav"), "");
    for (int i = 0; i < 200; ++i) {
        const std::string name = "empty" + std::to_string(i) + ".wav";
        fs::rename(incoming / name, quarn.pack("default") / name);
    }
    write_wav(incoming / "good.wav");
    fs::rename(incoming / "good.wav", quarn.pack("default") / "good.wav");
    ASSERT_TRUE(wait_until([&] { return holds(quarn.samples(), "good"); }, kPatience));
    ASSERT_TRUE(wait_until([&] { return quarn.app().get_sample_intake().waiting_retries() == 0; },
                           kPatience));
    EXPECT_EQ(quarn.samples(), (Lines{"clap", "hh", "kick", "oh", "percy", "snare", "good"}));
}

TEST(AppFileEvents, LateHandlerOfThePreviousPackAddsNothingToTheNewOne) {
    AppHarness quarn;
    // The handler finds a file it cannot decode and waits before its retry;
    // the file is whole by then, but another pack is active.
    write_file(quarn.pack("default") / "late.wav", "not yet");
    std::this_thread::sleep_for(100ms);
    write_wav(quarn.base() / "late.wav");
    fs::rename(quarn.base() / "late.wav", quarn.pack("default") / "late.wav");
    ASSERT_FALSE(quarn.run("use drovan"));
    fs::copy_file(quarn.pack("default") / "kick.wav", quarn.pack("default") / "other.wav");
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(quarn.samples(), (Lines{"bd", "cowbell", "rim", "sd", "shaker", "tom", "zap"}));
}

TEST(AppFileEvents, LostEventsBringThePackInLineAndKeepTheOtherInstrumentsAndParts) {
    const long queue_room = inotify_queue_room();
    if (queue_room == 0)
        GTEST_SKIP() << "the inotify queue's size is unknown or too large to fill";
    AppHarness quarn;
    ASSERT_FALSE(quarn.run("kick #-"));
    ASSERT_FALSE(quarn.run("hh #"));
    ASSERT_FALSE(quarn.run("=verse"));
    const fs::path flood = quarn.base() / "samples" / "flood";
    fs::create_directories(flood);
    write_file(flood / "a", "x");

    // The handler of a deletion waits for the sequencer, held here, and so
    // holds the watcher's thread; meanwhile more events than the queue holds
    // (and than one read takes) arrive, two a rename, and the changes after
    // them are lost.
    write_file(quarn.pack("default") / "gone.txt", "x");
    quarn.sequencer().edit_pattern(quarn.sequencer().get_pattern("hh"), [&](SequencerPattern&) {
        fs::remove(quarn.pack("default") / "gone.txt");
        overflow_inotify_queue(flood, queue_room + 4096);
        fs::copy_file(quarn.pack("drovan") / "cowbell.wav", quarn.pack("default") / "bell.wav");
        fs::remove(quarn.pack("default") / "kick.wav");
        fs::create_directories(quarn.base() / "samples" / "late");
    });

    ASSERT_TRUE(wait_until([&] { return holds(quarn.samples(), "bell"); }, 60s));
    EXPECT_TRUE(wait_until([&] { return quarn.instruments() == Lines{"hh"}; }, kPatience));
    EXPECT_EQ(part_instruments(quarn, "verse"), (Lines{"hh"}));
    quarn.run("use");
    EXPECT_EQ(quarn.pending(), (Lines{"Sample packs: ", "default drovan flood late "}));
}
