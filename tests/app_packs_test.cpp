#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app_harness.h"
#include "refuse_threads.h"
#include "tui/screen/unicode.h"

using namespace quarn_test;
using namespace std::chrono_literals;
using Lines = std::vector<std::string>;
namespace fs = std::filesystem;

TEST(AppPacks, UseShowsTheReadmeUpToItsFirstEmptyLineThenTheSamples) {
    AppHarness quarn;
    ASSERT_TRUE(quarn.enter("use drovan"));
    const auto lines = quarn.app().output_lines();
    EXPECT_EQ(texts(lines),
              (Lines{"> use drovan", "The drovan pack: a dry electronic kit with bass",
                     "drum (bd), snare (sd), rim shot, cowbell, tom,", "shaker and a falling zap.",
                     "bd cowbell rim sd shaker tom zap "}));
    EXPECT_TRUE(first_cell(lines[1]).bold);
    EXPECT_TRUE(first_cell(lines[3]).bold);
    // The shipped readmes fit the output area.
    for (const auto& pack : shipped_packs()) {
        std::istringstream readme(read_file(quarn.pack(pack) / "readme.txt"));
        for (std::string line; std::getline(readme, line);)
            EXPECT_LE(tui::string_width(line), 48) << pack << ": " << line;
    }

    fs::create_directories(quarn.pack("mine"));
    write_wav(quarn.pack("mine") / "one.wav");
    write_file(quarn.pack("mine") / "readme.txt", "first\nsecond\n\nthird\n");
    ASSERT_FALSE(quarn.run("use mine"));
    EXPECT_EQ(quarn.pending(), (Lines{"first", "second"}));
    EXPECT_EQ(quarn.samples(), (Lines{"one"}));

    // With carriage returns no line is empty: all are shown.
    write_file(quarn.pack("mine") / "readme.txt", "first\r\n\r\nthird\r\n");
    const auto queued = quarn.pending().size();
    ASSERT_FALSE(quarn.run("use mine"));
    EXPECT_EQ(quarn.pending().size(), queued + 3);
    EXPECT_EQ(quarn.pending().back(), "third");

    // A line wider than the output area wraps as the replies do.
    const std::string wide = "a line of a readme that runs on past the edge of the output area";
    write_file(quarn.pack("mine") / "readme.txt", wide + "\nshort\n");
    ASSERT_TRUE(quarn.enter("use mine"));
    const auto shown = quarn.output();
    EXPECT_EQ(
        Lines(shown.end() - 4, shown.end() - 1),
        (Lines{"a line of a readme that runs on past the edge of", "the output area", "short"}));

    // Readmes that are no small regular file show nothing, and never wait or
    // fill the memory: a FIFO, a link to an endless device, a huge file.
    const fs::path readme = quarn.pack("mine") / "readme.txt";
    fs::remove(readme);
    ASSERT_EQ(::mkfifo(readme.c_str(), 0644), 0);
    ASSERT_FALSE(quarn.run("use mine"));
    fs::remove(readme);
    fs::create_symlink("/dev/zero", readme);
    ASSERT_FALSE(quarn.run("use mine"));
    fs::remove(readme);
    write_file(readme, std::string(100 * 1024, 'x'));
    const auto before = quarn.pending().size();
    ASSERT_FALSE(quarn.run("use mine"));
    EXPECT_EQ(quarn.pending().size(), before);
    EXPECT_EQ(quarn.samples(), (Lines{"one"}));
}

TEST(AppPacks, StartsWithTheDefaultPackAndUseAloneListsThePacks) {
    AppHarness quarn;
    EXPECT_EQ(quarn.samples(), (Lines{"clap", "hh", "kick", "oh", "percy", "snare"}));
    EXPECT_TRUE(quarn.pending().empty());  // no readme at start
    ASSERT_FALSE(quarn.run("kick #-"));
    ASSERT_FALSE(quarn.run("use"));
    EXPECT_EQ(quarn.pending(), (Lines{"Sample packs: ", "default drovan "}));
    EXPECT_EQ(quarn.instruments(), (Lines{"kick"}));  // nothing changed
}

TEST(AppPacks, SwitchingClearsInstrumentsAndPartsEvenToTheSamePack) {
    AppHarness quarn;
    ASSERT_FALSE(quarn.run("kick #-"));
    ASSERT_FALSE(quarn.run("hh --#-"));
    ASSERT_FALSE(quarn.run("=verse"));
    ASSERT_FALSE(quarn.run("use default"));
    EXPECT_TRUE(quarn.instruments().empty());
    EXPECT_TRUE(quarn.sequencer().get_state_names().empty());
    EXPECT_EQ(quarn.samples(), (Lines{"clap", "hh", "kick", "oh", "percy", "snare"}));

    ASSERT_FALSE(quarn.run("use drovan"));
    EXPECT_EQ(quarn.samples(), (Lines{"bd", "cowbell", "rim", "sd", "shaker", "tom", "zap"}));
    EXPECT_TRUE(quarn.run("kick #-"));  // no longer a sample
    ASSERT_FALSE(quarn.run("bd #-"));
    EXPECT_EQ(quarn.instruments(), (Lines{"bd"}));
}

TEST(AppPacks, UseOfAMissingPackChangesNothingWhileACompositionNamingOneSwitches) {
    AppHarness quarn;
    ASSERT_FALSE(quarn.run("kick #-"));
    ASSERT_FALSE(quarn.run("=verse"));
    // "user" reads as "use r". One line names the pack, no listing follows.
    // Only folders of the pack list are packs: not the samples folder itself
    // or a link back to the base folder.
    fs::create_directory_symlink(quarn.base(), quarn.pack("up"));
    const std::pair<std::string, std::string> cases[] = {
        {"use drovn", "drovn"}, {"user", "r"}, {"use .", "."}, {"use up", "up"}};
    for (const auto& [line, pack] : cases) {
        ASSERT_TRUE(quarn.enter(line)) << line;
        const auto shown = quarn.output();
        EXPECT_EQ(Lines(shown.end() - 2, shown.end()),
                  (Lines{"> " + line, "no such pack: " + pack}));
        EXPECT_EQ(quarn.instruments(), (Lines{"kick"})) << line;
        EXPECT_EQ(quarn.sequencer().get_state_names(), (Lines{"verse"})) << line;
        EXPECT_EQ(quarn.samples(), (Lines{"clap", "hh", "kick", "oh", "percy", "snare"}));
    }
    // A composition that names a missing pack replaces the state anyway.
    write_file(quarn.base() / "lost.json", R"({"samplePack": "nothere", "bpm": 100})");
    ASSERT_FALSE(quarn.run("load lost"));
    EXPECT_TRUE(quarn.samples().empty());
    EXPECT_TRUE(quarn.instruments().empty());
    const auto replies = quarn.pending();
    EXPECT_EQ(Lines(replies.end() - 2, replies.end()),
              (Lines{"no such pack: nothere", "file loaded!"}));
}

TEST(AppPacks, OfTwoFilesWithOneSampleNameTheLaterPathDecides) {
    AppHarness quarn;
    // The files change while another pack is active, and its handlers are
    // done with them before the switch, which alone decodes them.
    ASSERT_FALSE(quarn.run("use drovan"));
    fs::copy_file(quarn.pack("default") / "percy.mp3", quarn.pack("default") / "kick.mp3");
    ASSERT_TRUE(quarn.settle("drovan"));
    ASSERT_FALSE(quarn.run("use default"));
    // kick.mp3 comes before kick.wav: one sample, in kick's place.
    EXPECT_EQ(quarn.samples(), (Lines{"clap", "hh", "kick", "oh", "percy", "snare"}));

    // A later file that does not decode takes the name's sample away again.
    ASSERT_FALSE(quarn.run("use drovan"));
    write_file(quarn.pack("default") / "kick.wav", "not a sound");
    ASSERT_TRUE(quarn.settle("drovan"));
    ASSERT_FALSE(quarn.run("use default"));
    EXPECT_EQ(quarn.samples(), (Lines{"clap", "hh", "oh", "percy", "snare"}));
}

namespace {

// The output area, once the news from other threads is in, holds `text`
// (its lines joined by one space).
bool shows(AppHarness& quarn, const std::string& text) {
    quarn.app().show_background_failures();
    std::string shown;
    for (auto line : quarn.output()) {
        while (line.ends_with(' '))
            line.pop_back();
        shown += line + " ";
    }
    return shown.find(text) != std::string::npos;
}

}  // namespace

TEST(AppPacks, SamplesPastTheMemoryLimitAreRefusedByNameWhateverWayTheyCome) {
    AppHarness quarn;
    // A second of sound takes 768000 bytes at the engine's rate: two fit,
    // and a short one after a refused one.
    quarn.app().limit_sample_memory(2'000'000);
    fs::create_directories(quarn.pack("mine"));
    for (const char* name : {"a.wav", "b.wav", "c.wav"})
        write_wav(quarn.pack("mine") / name, 44100);
    write_wav(quarn.pack("mine") / "d.wav", 4410);
    ASSERT_TRUE(quarn.settle("default"));  // no late events of the files reach "mine"
    ASSERT_FALSE(quarn.run("use mine"));
    EXPECT_EQ(quarn.samples(), (Lines{"a", "b", "d"}));
    const Lines refused_c{"not loaded, past the 1.9 MiB a pack may hold:", "c.wav "};
    EXPECT_EQ(quarn.pending(), refused_c);

    // A file added while running counts toward the same limit.
    auto place = [&](const std::string& name, int frames) {
        write_wav(quarn.base() / name, frames);
        fs::rename(quarn.base() / name, quarn.pack("mine") / name);
    };
    place("e.wav", 44100);
    // Told at once, with no command to follow.
    ASSERT_TRUE(wait_until(
        [&] { return shows(quarn, "not loaded, past the 1.9 MiB a pack may hold: e.wav"); }, 10s));
    // A replaced file gives its memory back: a.wav grows by a fifth and fits.
    place("a.wav", 52920);
    ASSERT_TRUE(quarn.settle("mine"));
    EXPECT_EQ(quarn.samples(), (Lines{"a", "b", "d", "marker2"}));
    EXPECT_EQ(quarn.pending(), refused_c);
    EXPECT_FALSE(shows(quarn, "a.wav"));
}

TEST(AppPacks, PackNamesThatLeaveTheSamplesFolderAreRefused) {
    AppHarness quarn;
    ASSERT_FALSE(quarn.run("kick #-"));
    fs::create_directories(quarn.base() / "outside");
    write_wav(quarn.base() / "outside" / "stray.wav");
    for (const char* line : {"use ../outside", "use ..", "use default/../drovan"}) {
        ASSERT_FALSE(quarn.run(line)) << line;
        EXPECT_EQ(quarn.pending().back(), "refused: names may not hold \"/\" or \"..\"") << line;
        EXPECT_EQ(quarn.instruments(), (Lines{"kick"})) << line;
        EXPECT_EQ(quarn.samples(), (Lines{"clap", "hh", "kick", "oh", "percy", "snare"})) << line;
    }
}

TEST(AppPacks, ThreadsThatCannotStartLeaveTheProgramRunningAndAreTold) {
    const long queue_room = inotify_queue_room();
    if (queue_room == 0)
        GTEST_SKIP() << "the inotify queue's size is unknown or too large to fill";
    // Decoding starts helpers only with more than one core.
    const bool helpers = std::thread::hardware_concurrency() > 1;
    const std::string kRefused = "Resource temporarily unavailable";
    const std::string kNoHelpers =
        "could not start a decoding thread: " + kRefused + "; the files were decoded all the same";
    const std::string kNoTimer = "could not start a thread for second tries: " + kRefused +
                                 "; files that did not decode were tried again all the same";
    // In a child process of its own, where pthread_create fails as it does
    // under a process limit.
    const std::string failures = in_child_process([&] {
        std::string found;
        auto check = [&](bool holds, const std::string& what) {
            if (!holds)
                found += what + "\n";
        };
        const Lines default_pack{"clap", "hh", "kick", "oh", "percy", "snare"};
        const Lines without_kick{"clap", "hh", "oh", "percy", "snare"};
        {
            // No thread at all: no folder watching, and the main thread
            // decodes every file itself.
            refuse_threads(ThreadRefusal::Everywhere);
            AppHarness quarn;
            check(quarn.samples() == default_pack, "the start's samples");
            check(!quarn.run("use drovan"), "use drovan");
            check(quarn.samples() == Lines{"bd", "cowbell", "rim", "sd", "shaker", "tom", "zap"},
                  "drovan's samples");
            check(shows(quarn, "folder watching stopped: its thread could not start: " + kRefused),
                  "no word of the watcher");
            if (helpers)
                check(shows(quarn, kNoHelpers), "no word of the decoding threads");
        }
        {
            // Threads start from the main thread only. With no thread to wait
            // on, each file that does not decode holds the watcher's thread
            // before its second try, while renames in a sub-folder overflow
            // its queue: the lost events are caught up on the watcher's thread.
            refuse_threads(ThreadRefusal::OffMainThread);
            AppHarness quarn;
            const fs::path flood = quarn.pack("default") / "sub";
            fs::create_directories(flood);
            write_file(flood / "a", "x");
            // The first is seen to go (after its retry), so the thread is held
            // by the others while the renames come.
            write_file(quarn.pack("default") / "kick.wav", "no sound");
            for (int i = 1; i < 8; ++i)
                write_file(quarn.pack("default") / ("bad" + std::to_string(i) + ".wav"),
                           "no sound");
            check(wait_until([&] { return quarn.samples() == without_kick; }),
                  "kick.wav that does not decode is still loaded");
            overflow_inotify_queue(flood, queue_room);
            check(wait_until([&] { return shows(quarn, kNoTimer); }, std::chrono::seconds(60)),
                  "no word of the thread for second tries");
            // The watcher goes on.
            check(quarn.settle("default"), "a file added afterwards was not loaded");
            Lines loaded = quarn.samples();
            loaded.pop_back();  // the marker
            check(loaded == without_kick, "the samples after the lost events");
        }
        return found;
    });

    EXPECT_EQ(failures, "");
}
