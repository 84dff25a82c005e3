#include <gtest/gtest.h>

#include <atomic>
#include <cfloat>
#include <climits>
#include <string>
#include <thread>
#include <tuple>

#include <picojson.h>

#include "Sequencer.h"
#include "recording_listener.h"

namespace {

using quarn_test::steps_text;
using Names = std::vector<std::string>;

picojson::value parse_json(const std::string& text) {
    picojson::value value;
    const std::string error = picojson::parse(value, text);
    EXPECT_EQ(error, "");
    return value;
}

// Commands build the state; the listener knows the samples kick, snare and hh.
class CompositionTest : public quarn_test::ParserTest {
  protected:
    void run(std::initializer_list<const char*> lines) {
        for (const char* line : lines)
            ASSERT_TRUE(parser.parse(line).succeeded) << line;
        sequencer.tick(1, 96000);  // a tempo command takes effect
    }
    std::string text() const { return sequencer.to_json().serialize(true); }
};

TEST_F(CompositionTest, WritesTheExactPrettyText) {
    run({"kick 0.7 #-#7---#-12- &2", "bpm 140"});
    EXPECT_EQ(text(), R"({
  "activeInstruments": [
    {
      "mute": false,
      "name": "kick",
      "pattern": [
        0,
        null,
        7,
        null,
        null,
        null,
        -12,
        null
      ],
      "patternRaw": "#-#7---#-12-",
      "rand": 2,
      "rawPattern": "#-#7---#-12-",
      "sequence": [
        "C3",
        null,
        "G3",
        null,
        null,
        null,
        "C2",
        null
      ],
      "volume": 0.69999998807907104
    }
  ],
  "bpm": 140,
  "name": "composition",
  "parts": {}
}
)");
}

TEST(NoteNames, CountOctavesFromC3) {
    // clang-format off
    const std::pair<int, const char*> cases[] = {{0, "C3"}, {7, "G3"}, {12, "C4"}, {-1, "B2"},
        {-12, "C2"}, {-13, "B1"}, {13, "C#4"}, {INT_MIN, "E-178956968"}};
    // clang-format on
    for (const auto& [pitch, name] : cases)
        EXPECT_EQ(note_name(pitch), name) << pitch;
}

TEST_F(CompositionTest, SavingLoadingAndSavingGivesTheSameText) {
    // "hh" joins the part "b" muted.
    run({"snare .5 #- #-1 &3", "kick #", ".snare", "=b", "hh #2-", "=a", "/kick", "bpm 99"});
    const std::string saved = text();

    Sequencer loaded;
    ASSERT_TRUE(loaded.from_json(parse_json(saved)));
    EXPECT_EQ(loaded.to_json().serialize(true), saved);
    EXPECT_EQ(loaded.bpm.load(), 99);
    EXPECT_EQ(loaded.get_pattern_names(false), (Names{"snare", "hh"}));
    EXPECT_EQ(loaded.get_state_names(), (Names{"a", "b"}));
    // A part keeps the order of the current list, not its key order.
    ASSERT_TRUE(loaded.load_state("b"));
    EXPECT_EQ(loaded.get_pattern_names(false), (Names{"snare", "hh"}));
    const auto snare = loaded.read_pattern(loaded.get_pattern("snare"));
    EXPECT_EQ(steps_text(snare.steps), "#-#-1#-#-1#-");
    EXPECT_FALSE(snare.enabled);
    EXPECT_EQ(snare.random, 3);
    EXPECT_FALSE(loaded.read_pattern(loaded.get_pattern("hh")).enabled);
}

TEST_F(CompositionTest, TheReaderSkipsWhatItCannotUse) {
    ASSERT_TRUE(sequencer.from_json(parse_json(R"({"bpm": 140.9, "activeInstruments": [
        {"name": "raw", "rawPattern": "#-", "volume": 0.5},
        {"name": "both", "patternRaw": "#3", "rawPattern": "-#", "volume": 1, "mute": true,
         "rand": 3.7},
        {"name": "textvolume", "patternRaw": "#", "volume": "1"},
        {"name": "nosteps", "volume": 1},
        {"name": "badsteps", "patternRaw": "x#", "rawPattern": "#", "volume": 1},
        {"name": "loud", "patternRaw": "#", "volume": 1e300, "rand": -1e300, "mute": "yes"},
        "kick"],
      "parts": {
        "b": {"instrumentCollection": [{"name": "raw", "patternRaw": "#", "volume": 2},
                                       {"name": "textvolume", "patternRaw": "#", "volume": "x"}]},
        "a": {"bpm": 90, "instrumentCollection": {
            "1": {"name": "tom", "patternRaw": "#", "volume": 1},
            "2": {"name": "both", "patternRaw": "#", "volume": 1}}},
        "c": 5,
        "d": {"bpm": 100},
        "e": {"bpm": 0, "instrumentCollection": {}}}})")));

    EXPECT_EQ(sequencer.bpm.load(), 140);
    EXPECT_EQ(sequencer.get_pattern_names(false), (Names{"raw", "both", "badsteps", "loud"}));
    const auto raw = pattern("raw");
    EXPECT_EQ(steps_text(raw.steps), "#-#-#-#-");
    EXPECT_EQ(raw.volume, 0.5f);
    EXPECT_TRUE(raw.enabled);
    EXPECT_EQ(raw.random, 0);
    EXPECT_EQ(steps_text(pattern("both").steps), "#3#3#3#3#3#3#3#3");
    EXPECT_FALSE(pattern("both").enabled);
    EXPECT_EQ(pattern("both").random, 3);
    EXPECT_EQ(steps_text(pattern("badsteps").steps), "--------");
    EXPECT_EQ(pattern("loud").volume, FLT_MAX);
    EXPECT_EQ(pattern("loud").random, INT_MIN);
    EXPECT_TRUE(pattern("loud").enabled);

    EXPECT_EQ(sequencer.get_state_names(), (Names{"a", "b", "e"}));
    ASSERT_TRUE(sequencer.load_state("a"));
    EXPECT_EQ(sequencer.bpm.load(), 90);
    EXPECT_EQ(sequencer.get_pattern_names(false), (Names{"both", "tom"}));
    ASSERT_TRUE(sequencer.load_state("b"));
    EXPECT_EQ(sequencer.bpm.load(), 120);
    EXPECT_EQ(sequencer.get_pattern_names(false), (Names{"raw"}));
    ASSERT_TRUE(sequencer.load_state("e"));
    EXPECT_EQ(sequencer.bpm.load(), 120) << "a tempo of 0 is refused";

    // "tom" was only in a part: written with the current ones, it comes back muted.
    ASSERT_TRUE(sequencer.from_json(sequencer.to_json()));
    EXPECT_TRUE(pattern("tom").active && !pattern("tom").enabled);
}

TEST_F(CompositionTest, TemposTheClockCannotPlayAreRefused) {
    run({"bpm 150"});
    for (const char* tempo : {"0", "0.9", "-5", "2880001", "1e300", "\"140\""}) {
        ASSERT_TRUE(sequencer.from_json(parse_json(std::string(R"({"bpm": )") + tempo + "}")));
        EXPECT_EQ(sequencer.bpm.load(), 150) << tempo;
    }
    ASSERT_TRUE(sequencer.from_json(parse_json(R"({"bpm": 2880000})")));
    EXPECT_EQ(sequencer.bpm.load(), 2880000);
}

TEST_F(CompositionTest, ARootThatIsNoObjectChangesNothingAndAnEmptyOneEmptiesAll) {
    run({"kick #", "=verse"});
    EXPECT_FALSE(sequencer.from_json(parse_json("[]")));
    EXPECT_FALSE(sequencer.from_json(picojson::value()));
    EXPECT_EQ(sequencer.get_pattern_names(false), (Names{"kick"}));
    EXPECT_EQ(sequencer.get_state_names(), (Names{"verse"}));

    // More instruments than the step clock may walk, in the current list or
    // in a part, are refused whole (elements that are skipped count too); so
    // are more names in all than a save would write into the current list.
    auto named = [](const std::string& prefix, std::size_t count) {
        picojson::array list;
        for (std::size_t i = 0; i < count; ++i) {
            picojson::object element;
            element["name"] = picojson::value(prefix + std::to_string(i));
            list.emplace_back(std::move(element));
        }
        return list;
    };
    auto with = [](picojson::array current, std::vector<picojson::array> in_parts) {
        picojson::object parts;
        for (std::size_t i = 0; i < in_parts.size(); ++i) {
            picojson::object part;
            part["instrumentCollection"] = picojson::value(std::move(in_parts[i]));
            parts["big" + std::to_string(i)] = picojson::value(std::move(part));
        }
        picojson::object root;
        root["activeInstruments"] = picojson::value(std::move(current));
        root["parts"] = picojson::value(std::move(parts));
        root["bpm"] = picojson::value(90.0);
        return picojson::value(std::move(root));
    };
    const std::size_t most = Sequencer::max_instruments;
    const std::size_t half = most / 2;
    for (const auto& [composition, reason] :
         {std::pair{with(picojson::array(most + 1), {}), "more than 100000 instruments"},
          std::pair{with({}, {picojson::array(most + 1)}),
                    "more than 100000 instruments in the part big0"},
          std::pair{with(named("c", half), {named("a", half), named("b", 1)}),
                    "more than 100000 instruments in all"}}) {
        EXPECT_EQ(Sequencer::too_large_to_load(composition), reason);
        EXPECT_FALSE(sequencer.from_json(composition));
        EXPECT_EQ(sequencer.get_pattern_names(false), (Names{"kick"}));
        EXPECT_EQ(sequencer.get_state_names(), (Names{"verse"}));
        EXPECT_EQ(sequencer.bpm.load(), 120);
    }
    EXPECT_EQ(Sequencer::too_large_to_load(
                  with(picojson::array(most), {picojson::array(most), named("c", most)})),
              "");
    EXPECT_EQ(Sequencer::too_large_to_load(with(named("c", half), {named("a", half)})), "");

    ASSERT_TRUE(sequencer.from_json(parse_json("{}")));
    EXPECT_TRUE(sequencer.get_patterns(false).empty());
    EXPECT_TRUE(sequencer.get_state_names().empty());
    EXPECT_EQ(sequencer.bpm.load(), 120);
}

TEST_F(CompositionTest, LoadingNeverWritesIntoAPatternThatIsPlaying) {
    run({"kick 0.3 #"});
    const auto playing = sequencer.get_pattern("kick");
    ASSERT_TRUE(sequencer.from_json(parse_json(
        R"({"activeInstruments": [{"name": "kick", "patternRaw": "-", "volume": 1}]})")));
    EXPECT_NE(sequencer.get_pattern("kick"), playing);
    EXPECT_EQ(steps_text(sequencer.read_pattern(playing).steps), "########");
    EXPECT_EQ(sequencer.read_pattern(playing).volume, 0.3f);
}

// Under ThreadSanitizer: saving and loading while the clock plays.
TEST_F(CompositionTest, SavesAndLoadsWhileTheClockPlays) {
    run({"kick #- &1", "=verse"});
    std::atomic<bool> done{false};
    std::thread audio([&] {
        while (!done)
            sequencer.tick(24001, 96000);
    });
    for (int i = 0; i < 100; ++i)
        ASSERT_TRUE(sequencer.from_json(sequencer.to_json()));
    done = true;
    audio.join();
    EXPECT_EQ(sequencer.get_pattern_names(false), (Names{"kick"}));
}

}  // namespace
