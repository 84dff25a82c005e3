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

// Puts a WAV file of `frames` at 44100 Hz (`rate`) into `folder` in one step,
// as a copy that lands by rename.
void place_wav(AppHarness& quarn, const fs::path& folder, const std::string& name, int frames,
               int rate = 44100) {
    write_wav(quarn.base() / name, frames, rate);
    fs::rename(quarn.base() / name, folder / name);
}

// How many times the output area names `line` (trailing spaces aside).
long times_shown(AppHarness& quarn, const std::string& line) {
    quarn.app().show_background_failures();
    const auto shown = quarn.output();
    return std::count_if(shown.begin(), shown.end(), [&](std::string text) {
        while (text.ends_with(' '))
            text.pop_back();
        return text == line;
    });
}

constexpr int kSecond = 44100;  // frames; 768000 bytes once decoded at the engine's rate

}  // namespace

TEST(AppPacks, SamplesPastTheMemoryLimitAreRefusedByNameWhateverWayTheyCome) {
    AppHarness quarn;
    SampleIntake& intake = quarn.app().get_sample_intake();
    // Two seconds of sound fit, and a short one after a refused one.
    intake.limit_memory(2'000'000);
    fs::create_directories(quarn.pack("mine"));
    for (const char* name : {"a.wav", "b.wav", "c.wav"})
        write_wav(quarn.pack("mine") / name, kSecond);
    write_wav(quarn.pack("mine") / "d.wav", kSecond / 10);
    // Past the half hour a sample may last (a slow file, small on disk).
    write_wav(quarn.pack("mine") / "long.wav", 31 * 60 * 400, 400);
    ASSERT_TRUE(quarn.settle("default"));  // no late events of the files reach "mine"
    ASSERT_FALSE(quarn.run("use mine"));
    EXPECT_EQ(quarn.samples(), (Lines{"a", "b", "d"}));
    const Lines refused{"not loaded, longer than 30 minutes:", "long.wav ",
                        "not loaded, past the 1.9 MiB a pack may hold:", "c.wav "};
    EXPECT_EQ(quarn.pending(), refused);
    for (const char* name : {"c", "long"})
        EXPECT_FALSE(quarn.app().has_sample(name)) << name;

    // Files added while running count toward the same limit, told at once,
    // with no command to follow.
    place_wav(quarn, quarn.pack("mine"), "e.wav", kSecond);
    ASSERT_TRUE(wait_until(
        [&] { return shows(quarn, "not loaded, past the 1.9 MiB a pack may hold: e.wav"); }, 10s));
    place_wav(quarn, quarn.pack("mine"), "long2.wav", 31 * 60 * 400, 400);
    ASSERT_TRUE(wait_until(
        [&] { return shows(quarn, "not loaded, longer than 30 minutes: long2.wav"); }, 10s));
    // A replaced file gives its memory back: a.wav grows by a fifth and fits.
    place_wav(quarn, quarn.pack("mine"), "a.wav", kSecond * 6 / 5);
    ASSERT_TRUE(quarn.settle("mine"));
    EXPECT_EQ(quarn.samples(), (Lines{"a", "b", "d", "marker2"}));
    for (const char* name : {"a", "b", "d"})
        EXPECT_TRUE(quarn.app().has_sample(name)) << name;
    for (const char* name : {"c", "e", "long2"})
        EXPECT_FALSE(quarn.app().has_sample(name)) << name;
    EXPECT_EQ(quarn.pending(), refused);
    EXPECT_FALSE(shows(quarn, "a.wav"));
    EXPECT_LE(intake.memory_held(), intake.memory_limit());
}

TEST(AppPacks, ARefusalKeepsWhatItsNameHeldAndTheLimitCountsTheSoundsStillPlaying) {
    AppHarness quarn;
    SampleIntake& intake = quarn.app().get_sample_intake();
    intake.limit_memory(2'000'000);
    const fs::path mine = quarn.pack("mine");
    fs::create_directories(mine);
    write_wav(mine / "a.wav", kSecond);
    write_wav(mine / "b.wav", kSecond);
    write_wav(mine / "d.wav", kSecond / 10);
    ASSERT_TRUE(quarn.settle("default"));
    ASSERT_FALSE(quarn.run("use mine"));
    ASSERT_FALSE(quarn.run("a #-"));
    ASSERT_FALSE(quarn.run("b -#"));
    ASSERT_FALSE(quarn.run("=verse"));
    auto part_holds = [&](const Lines& names) {
        const auto live = quarn.instruments();
        const bool holds = quarn.sequencer().load_state("verse") && quarn.instruments() == names;
        for (const auto& name : live)
            quarn.run(name + " #-");
        return holds;
    };

    // A file that cannot fit even in place of its sample is not loaded, and
    // the sample it would replace stays, with its instruments live and in
    // the parts. Told by name every time it comes.
    const std::string refusal = "not loaded, past the 1.9 MiB a pack may hold:";
    for (long time = 1; time <= 2; ++time) {
        place_wav(quarn, mine, "a.wav", kSecond * 3);
        ASSERT_TRUE(wait_until([&] { return times_shown(quarn, refusal) == time; }, 10s));
        EXPECT_TRUE(quarn.app().has_sample("a"));
        EXPECT_EQ(quarn.instruments(), (Lines{"a", "b"}));
    }
    EXPECT_TRUE(part_holds({"a", "b"}));

    // Renamed near the limit, a sample keeps the buffer decoded from its
    // file: nothing is decoded again, and it is counted once.
    const std::uint64_t held = intake.memory_held();
    fs::rename(mine / "b.wav", mine / "b2.wav");
    ASSERT_TRUE(wait_until([&] { return quarn.instruments() == Lines{"a", "b2"}; }, 10s));
    EXPECT_TRUE(quarn.app().has_sample("b"));  // the old name stays playable
    EXPECT_TRUE(quarn.app().has_sample("b2"));
    EXPECT_EQ(intake.memory_held(), held);

    // A sound still playing holds its buffer: its replacement must fit
    // beside it. Once the sound has ended, it fits in its place. (1.6 MB are
    // held: 0.42 MB fit in place of d's 0.08 MB, not beside them.)
    ASSERT_TRUE(quarn.app().on_play_sample("d"));
    const std::string refused_d = refusal + " d.wav";
    place_wav(quarn, mine, "d.wav", kSecond * 55 / 100);
    ASSERT_TRUE(wait_until([&] { return shows(quarn, refused_d); }, 10s));
    EXPECT_TRUE(quarn.app().has_sample("d"));
    EXPECT_EQ(intake.memory_held(), held);
    AudioEngine& engine = quarn.app().get_audio_engine();
    std::vector<float> period(2 * 4096);
    while (engine.player_count() > 0)
        engine.process_period(period.data(), 4096);
    engine.release_ended_players();
    place_wav(quarn, mine, "d.wav", kSecond * 55 / 100);
    // Let go of while its replacement decodes, it is silent a moment.
    ASSERT_TRUE(wait_until(
        [&] { return intake.memory_held() > held && quarn.app().has_sample("d"); }, 10s));
    EXPECT_LE(intake.memory_held(), intake.memory_limit());
    EXPECT_EQ(times_shown(quarn, refused_d), 0);  // nothing refused again
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
            // The watcher goes on, once through the flood (slow under a
            // sanitizer on a busy machine).
            check(quarn.settle("default", std::chrono::seconds(60)),
                  "a file added afterwards was not loaded");
            Lines loaded = quarn.samples();
            loaded.pop_back();  // the marker
            check(loaded == without_kick, "the samples after the lost events");
        }
        return found;
    });

    EXPECT_EQ(failures, "");
}
