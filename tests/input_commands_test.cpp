#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "InputParser.h"
#include "recording_listener.h"
#include "test_support.h"

namespace {

using quarn_test::ParserTest;
using quarn_test::steps_text;
using Calls = std::vector<std::string>;
using Names = std::vector<std::string>;

TEST_F(ParserTest, ApplicationCommandsCallTheListenerWithTheirArgument) {
    struct Case {
        const char* line;
        Calls calls;
        const char* output;
    };
    const char* listing = "kick\nsnare\n";
    // clang-format off
    const Case cases[] = {
        {"help", {"help:"}, ""}, {"help topic\t", {"help:topic\t"}, ""}, {"helpme", {"help:me"}, ""},
        {"tutorial", {"tutorial"}, ""}, {"next ", {"next"}, ""},
        {"use", {"pack:"}, ""}, {"use  drovan  ", {"pack:drovan", "listing"}, listing},
        {"user", {"pack:r", "listing"}, listing},
        {"save song", {"save:song"}, ""}, {"save \t ", {"save:"}, ""}, {"save a\t", {"save:a\t"}, ""},
        {"loader", {"load:er"}, ""},
        {"volume", {"get_volume"}, "1.000000"}, {"volume .25", {"set_volume:0.250000"}, ""},
        {"recordstart", {"record"}, ""}, {"record  stop ", {"record_stop"}, ""},
        {"samples", {"listing"}, listing}, {".", {"stop"}, ""}, {">", {"play"}, ""},
        {"kick snare", {"play_sample:kick", "play_sample:snare"}, ""},
    };
    // clang-format on
    for (const auto& c : cases) {
        listener.calls.clear();
        const InputError result = parser.parse(c.line);
        EXPECT_TRUE(result.succeeded) << c.line;
        EXPECT_EQ(listener.calls, c.calls) << c.line;
        EXPECT_EQ(result.message, c.output) << c.line;
    }
    EXPECT_TRUE(sequencer.get_patterns(false).empty());
}

TEST_F(ParserTest, TempoCommandsShowSetAndRampTheTempo) {
    EXPECT_EQ(parser.parse("bpm").message, "120");
    ASSERT_TRUE(parser.parse("bpm140").succeeded);
    sequencer.tick(1, 96000);
    EXPECT_EQ(parser.parse("bpm \t").message, "140");
    // A ramp over half a second is between its ends a quarter second in.
    ASSERT_TRUE(parser.parse("bpm 180.5").succeeded);
    sequencer.tick(24000, 96000);
    const int reached = sequencer.bpm.load();
    EXPECT_GT(reached, 140);
    EXPECT_LT(reached, 180);
    // "bpm 0" ends the ramp where it is.
    ASSERT_TRUE(parser.parse("bpm 0").succeeded);
    sequencer.tick(96000, 96000);
    EXPECT_EQ(sequencer.bpm.load(), reached);
}

TEST_F(ParserTest, AssignmentsSetOnlyTheValuesGivenAndUnmute) {
    EXPECT_EQ(parser.parse("kick 0.7 #- &4").message, "");
    auto kick = pattern("kick");
    EXPECT_EQ(kick.volume, 0.7f);
    EXPECT_EQ(kick.random, 4);
    EXPECT_EQ(steps_text(kick.steps), "#-#-#-#-");
    EXPECT_TRUE(kick.active && kick.enabled);

    ASSERT_TRUE(parser.parse(".kick").succeeded);
    EXPECT_FALSE(pattern("kick").enabled);
    ASSERT_TRUE(parser.parse("kick #3 - -").succeeded);
    kick = pattern("kick");
    EXPECT_EQ(steps_text(kick.steps), "#3--#3--#3-");
    EXPECT_EQ(kick.volume, 0.7f);
    EXPECT_EQ(kick.random, 4);
    EXPECT_TRUE(kick.enabled);

    ASSERT_TRUE(parser.parse("kick &0").succeeded);
    ASSERT_TRUE(parser.parse("kick 0").succeeded);
    EXPECT_EQ(pattern("kick").random, 0);
    EXPECT_EQ(pattern("kick").volume, 0.0f);
    ASSERT_TRUE(parser.parse("kick snare &2 #").succeeded);
    EXPECT_EQ(pattern("snare").random, 2);
    EXPECT_EQ(steps_text(pattern("kick").steps), "########");

    // Mute creates a loaded sample's pattern, muted; unmute needs no values.
    ASSERT_TRUE(parser.parse(".hh").succeeded);
    EXPECT_TRUE(pattern("hh").active && !pattern("hh").enabled);
    ASSERT_TRUE(parser.parse(">kick hh").succeeded);
    EXPECT_TRUE(pattern("hh").enabled);
    EXPECT_TRUE(listener.calls.empty());
}

TEST_F(ParserTest, AVolumeLeftByAFailedVolumeCommandReachesTheNames) {
    const InputError missing = parser.parse("volume2 kick");
    EXPECT_EQ(missing.message, "pattern not found: volume2");
    listener.samples.insert("volume2");
    ASSERT_TRUE(parser.parse("volume2 kick").succeeded);
    EXPECT_EQ(pattern("volume2").volume, 2.0f);
    EXPECT_EQ(pattern("kick").volume, 2.0f);
}

TEST_F(ParserTest, NamesAloneRecallAPartOrPlaySamples) {
    ASSERT_TRUE(parser.parse("=kick").succeeded);  // no pattern "kick" yet
    ASSERT_TRUE(parser.parse("=verse").succeeded);
    ASSERT_TRUE(parser.parse("kick snare").succeeded);
    EXPECT_EQ(listener.calls, (Calls{"play_sample:kick", "play_sample:snare"}));
    EXPECT_TRUE(sequencer.get_patterns(false).empty());

    ASSERT_TRUE(parser.parse("hh #-").succeeded);
    ASSERT_TRUE(parser.parse("bpm 90").succeeded);
    sequencer.tick(1, 96000);
    EXPECT_EQ(parser.parse("verse kick").message, "");
    EXPECT_EQ(sequencer.bpm.load(), 120);
    // The part gained "hh" muted when the pattern was made.
    EXPECT_EQ(sequencer.get_pattern_names(false), Names{"hh"});
    EXPECT_FALSE(pattern("hh").enabled);

    EXPECT_EQ(parser.parse("chorus").message, "Unknown part/sample: chorus");
    EXPECT_EQ(parser.parse("hh nosuch").message, "Unknown part/sample: hh");
}

TEST_F(ParserTest, PartsAreStoredListedAndDeleted) {
    EXPECT_EQ(parser.parse("parts").message,
              "No parts yet. Use\n=monkey\nto create a new snapshot!\n");
    for (const char* line : {"kick #-", "= verse ", "=chorus", "kick ##", "=verse", "=kick"})
        ASSERT_TRUE(parser.parse(line).succeeded) << line;
    // "verse" stored again keeps its place; "kick" names a pattern and is refused.
    EXPECT_EQ(parser.parse("parts").message, "  * verse\n  * chorus\n");
    ASSERT_TRUE(parser.parse("kick -").succeeded);
    ASSERT_TRUE(parser.parse("verse").succeeded);
    EXPECT_EQ(steps_text(pattern("kick").steps), "########");

    ASSERT_TRUE(parser.parse("/chorus kick nosuch").succeeded);
    EXPECT_EQ(sequencer.get_state_names(), Names{"verse"});
    ASSERT_TRUE(parser.parse("verse").succeeded);
    EXPECT_FALSE(sequencer.get_pattern("kick")) << "gone from the parts too";

    for (const char* line : {"snare #", "bpm 99"})
        ASSERT_TRUE(parser.parse(line).succeeded);
    sequencer.tick(1, 96000);
    ASSERT_TRUE(parser.parse("/ ").succeeded);
    EXPECT_TRUE(sequencer.get_patterns(false).empty());
    EXPECT_TRUE(sequencer.get_state_names().empty());
    EXPECT_EQ(sequencer.bpm.load(), 99);
}

// Under ThreadSanitizer: commands write pattern fields while the clock reads them.
TEST_F(ParserTest, CommandsRunWhileTheClockPlays) {
    std::atomic<bool> done{false};
    std::atomic<int> triggers{0};
    sequencer.set_callbacks(
        nullptr, [&triggers](std::shared_ptr<SequencerPattern>, int) { ++triggers; },
        [this](const std::string& name) { return listener.samples.count(name) > 0; });
    std::thread audio([&] {
        while (!done)
            sequencer.tick(24001, 96000);
    });
    for (int i = 0; i < 300; ++i) {
        ASSERT_TRUE(parser.parse(i % 2 ? "kick snare 0.5 #3#-#2 &1" : "kick hh ## -").succeeded);
        ASSERT_TRUE(parser.parse(i % 3 ? ".kick" : ">kick hh").succeeded);
    }
    EXPECT_TRUE(quarn_test::wait_until([&] { return triggers > 0; }));
    done = true;
    audio.join();
}

}  // namespace
