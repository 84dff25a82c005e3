#include <gtest/gtest.h>

#include <string>

#include <tao/pegtl.hpp>
#include <tao/pegtl/contrib/analyze.hpp>

#include "InputGrammar.h"

namespace {

namespace pegtl = tao::pegtl;

template <class Rule>
bool matches(const std::string& text) {
    pegtl::string_input in(text, "src");
    return pegtl::parse<Rule>(in);
}

// The number (1-21) of the first command rule, in the grammar's order, that
// matches the whole line; 0 when none does.
template <class... Commands>
int first_command(const std::string& line) {
    int number = 0;
    int found = 0;
    ((++number, found = (found == 0 && matches<Commands>(line)) ? number : found), ...);
    return found;
}

int command_of(const std::string& line) {
    using namespace hello;
    return first_command<helpEvent, tutorialEvent, tutorialNextEvent, loadPackEvent, saveEvent,
                         loadEvent, bpmInfoEvent, bpmEvent, volumeInfoEvent, volumeEvent,
                         recordStartEvent, recordStopEvent, listSamplesEvent, listPartsEvent,
                         assignPattern, saveStateEvent, deleteStateEvent, stopMultiEvent,
                         playMultiEvent, stopEvent, playEvent>(line);
}

TEST(InputGrammar, EachLineIsTheFirstCommandThatMatchesIt) {
    constexpr int kAssign = 15;
    // clang-format off
    const std::pair<const char*, int> cases[] = {
        // Keywords are exact and lower case; other words are names.
        {"help", 1}, {"helpme", 1}, {"help topic\t", 1}, {"Help", kAssign}, {"BPM", kAssign},
        {"tutorial ", 2}, {"next", 3}, {"next #-", kAssign},
        // These four take the whole rest of the line.
        {"use", 4}, {"user", 4}, {"save  ", 5}, {"loader", 6},
        {"bpm", 7}, {"bpm120", 8}, {"bpm 140 8", 8}, {"bpm 140.5", 8}, {"bpm 140.", kAssign},
        {"bpm 120 kick", 0}, {"bpm -1", 0},
        {"volume", 9}, {"volume0.5", 10}, {"volume 0.5 &4", kAssign}, {"volume2 kick", kAssign},
        {"recordstart", 11}, {"record  stop ", 12}, {"record", kAssign},
        {"samples", 13}, {"parts \t", 14},
        // Volume first, steps and shuffle in either order, one blank before each.
        {"kick", kAssign}, {"kick snare ", kAssign}, {"kick 0.7 #- &4", kAssign},
        {"kick &4 #-", kAssign}, {"kick\t#-", kAssign}, {"kick .5", kAssign}, {"kick 1.", kAssign},
        {"kick #- 0.7", 0}, {"kick #- ", 0}, {"kick  #-", 0}, {"kick #-\t#-", 0},
        {"kick  snare", 0}, {"kick #+2", 0}, {"kick &4 &4", 0}, {"kick 0.7 0.7", 0},
        {"kick 1e5", 0}, {"kick -1", 0}, {"kick 1.5.5", 0}, {"kick .", 0},
        {"808", 0}, {" bpm", 0}, {"", 0},
        {"=verse", 16}, {"= verse ", 16}, {"=a b", 0}, {"=", 0},
        {"/", 17}, {"/ ", 17}, {"/kick snare", 17}, {"/kick  snare", 0},
        {".kick snare", 18}, {".kick ", 0}, {"> kick", 19}, {".", 20}, {"> \t", 21},
    };
    // clang-format on
    for (const auto& [line, command] : cases) {
        EXPECT_EQ(command_of(line), command) << '"' << line << '"';
        EXPECT_EQ(matches<hello::grammar>(line), command != 0) << '"' << line << '"';
    }
}

TEST(InputGrammar, NamesHaveLettersAnUnderscoreMoreLettersAndDigits) {
    using WholeName = pegtl::seq<hello::phrase_checked, pegtl::eof>;
    for (const char* name : {"kick", "Snare", "hh_open", "kick2", "hh_open2", "kick_", "kick_2"})
        EXPECT_TRUE(matches<WholeName>(name)) << name;
    for (const char* name : {"808", "k1ck", "kick_snare_2", "kick-2", "_kick",
                             "k\xc3\xa4"
                             "ck"})
        EXPECT_FALSE(matches<WholeName>(name)) << name;
}

TEST(InputGrammar, HasNoRuleThatCanLoopWithoutConsuming) {
    EXPECT_EQ(pegtl::analyze<hello::grammar>(1), 0u);
    EXPECT_EQ(pegtl::analyze<hello::Pattern>(1), 0u);
}

}  // namespace
