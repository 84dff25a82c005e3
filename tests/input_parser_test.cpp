#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <stdexcept>
#include <string>

#include <tao/pegtl/parse_error.hpp>

#include "InputParser.h"
#include "recording_listener.h"

namespace {

using quarn_test::ParserTest;
using quarn_test::steps_text;
using Calls = std::vector<std::string>;

TEST_F(ParserTest, OneWordTheGrammarRejectsIsOfferedAsASample) {
    listener.samples.insert("808");
    struct Case {
        const char* line;
        bool succeeded;
        Calls calls;
    };
    // clang-format off
    const Case cases[] = {
        {" kick", true, {"play_sample:kick"}},  // no command allows leading blanks
        {"808", true, {"play_sample:808"}},     // names begin with a letter
        {"  ", false, {"play_sample:"}}, {"", false, {"play_sample:"}},
        {" kick\t", false, {"play_sample:kick\t"}},
        {"kick 8x", false, {}},  // two words are never a sample
    };
    // clang-format on
    for (const auto& c : cases) {
        listener.calls.clear();
        const InputError result = parser.parse(c.line);
        EXPECT_EQ(result.succeeded, c.succeeded) << '"' << c.line << '"';
        EXPECT_EQ(static_cast<bool>(result), !c.succeeded);
        EXPECT_EQ(result.message, "");
        EXPECT_EQ(listener.calls, c.calls) << '"' << c.line << '"';
    }
    EXPECT_TRUE(sequencer.get_patterns(false).empty());
}

TEST_F(ParserTest, WithoutAListenerNothingReachesTheApplication) {
    InputParser quiet(sequencer, nullptr);
    EXPECT_FALSE(quiet.parse("808").succeeded);
    for (const char* line : {"samples", "volume", "help x", "use x", ".", "record start"}) {
        const InputError result = quiet.parse(line);
        EXPECT_TRUE(result.succeeded) << line;
        EXPECT_EQ(result.message, "") << line;
    }
    // Without a listener no name is a loaded sample, so a part is tried.
    EXPECT_EQ(quiet.parse("kick").message, "Unknown part/sample: kick");
}

TEST_F(ParserTest, ANameWithNoPatternAndNoSampleFailsAtItsPosition) {
    const std::tuple<const char*, const char*, int> cases[] = {
        {"tom #-", "pattern not found: tom", 0},
        {"snare tom #-", "pattern not found: tom", 6},
        {"> kick tom", "pattern not found: tom", 7},
    };
    for (const auto& [line, message, position] : cases) {
        const InputError result = parser.parse(line);
        EXPECT_FALSE(result.succeeded) << line;
        EXPECT_EQ(result.message, message) << line;
        EXPECT_EQ(result.error_position, position) << line;
    }
    // Names before it got their patterns, all steps off; no value was written.
    EXPECT_EQ(steps_text(pattern("snare").steps), "--------");
    EXPECT_TRUE(pattern("snare").enabled);
}

TEST(GetError, StripsOnlyThePositionOfOurOwnSource) {
    EXPECT_EQ(get_error(tao::pegtl::parse_error("pattern not found: x", {3, 1, 4, "src"})),
              "pattern not found: x");
    EXPECT_EQ(get_error(std::runtime_error("src:nospace")), "");
    EXPECT_EQ(get_error(std::runtime_error("disk full: no space")), "disk full: no space");
}

TEST_F(ParserTest, StepStringsFillEightStepsRepeatingOrCutting) {
    // clang-format off
    const std::pair<const char*, const char*> cases[] = {
        {"#-", "#-#-#-#-"}, {"#3 - -", "#3--#3--#3-"}, {"#-x", "#-#-#-#-"},
        {"#-1-", "#-1-#-1-#-1-#-1-"}, {"#+2", "########"}, {"#3#", "#3##3##3##3#"},
        {"#1#2#3#4#5#6#7#8#9#10", "#1#2#3#4#5#6#7#8"}, {"- #-12", "-#-12-#-12-#-12-#-12"},
    };
    // clang-format on
    for (const auto& [text, expected] : cases) {
        std::array<SequencePatternStep, 8> steps{};
        EXPECT_TRUE(parser.parse_pattern(text, steps.data()).succeeded) << text;
        EXPECT_EQ(steps_text(steps), expected) << text;
    }
    for (const char* text : {"x#", "", " #"}) {
        std::array<SequencePatternStep, 8> steps{};
        steps[5] = {true, 4};
        EXPECT_FALSE(parser.parse_pattern(text, steps.data()).succeeded) << text;
        EXPECT_EQ(steps_text(steps), "-----#4--") << text;
    }
}

TEST_F(ParserTest, NumbersReadInEveryShapeAndSaturateBeyondTheirRange) {
    for (const auto& [line, volume] :
         {std::pair{"kick .5", 0.5f}, {"kick 1.", 1.0f}, {"kick 2", 2.0f}, {"kick 0.25", 0.25f}}) {
        ASSERT_TRUE(parser.parse(line).succeeded) << line;
        EXPECT_EQ(pattern("kick").volume, volume) << line;
    }
    const std::string huge(400, '9');
    ASSERT_TRUE(parser.parse("kick #99999999999 #-99999999999 &" + huge).succeeded);
    EXPECT_EQ(pattern("kick").steps[0].pitch, INT_MAX);
    EXPECT_EQ(pattern("kick").steps[1].pitch, INT_MIN);
    EXPECT_EQ(pattern("kick").random, INT_MAX);
    ASSERT_TRUE(parser.parse("kick " + huge + "." + huge).succeeded);
    EXPECT_EQ(pattern("kick").volume, FLT_MAX);
    ASSERT_TRUE(parser.parse("kick 0." + std::string(400, '0') + "1").succeeded);
    EXPECT_EQ(pattern("kick").volume, 0.0f);

    ASSERT_TRUE(parser.parse("bpm " + huge + " " + huge).succeeded);
    ASSERT_TRUE(parser.parse("bpm " + huge).succeeded);
    sequencer.tick(1, 96000);
    EXPECT_EQ(sequencer.bpm.load(), INT_MAX);
}

}  // namespace
