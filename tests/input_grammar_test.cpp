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

// Bytes of the text that a rule takes from its start; -1 when it fails.
template <class Rule>
long consumed(const std::string& text) {
    pegtl::string_input in(text, "src");
    if (!pegtl::parse<Rule>(in))
        return -1;
    return static_cast<long>(in.current() - in.begin());
}

TEST(InputGrammar, EachLineIsTheFirstCommandThatMatchesIt) {
    constexpr int kAssign = 15;
    const std::pair<const char*, int> cases[] = {
        // Keywords are exact and lower case; others read as names.
        {"help", 1},
        {"helpme", 1},
        {"help topic\t", 1},
        {"Help", kAssign},
        {"BPM", kAssign},
        {"tutorial ", 2},
        {"next", 3},
        {"next #-", kAssign},
        // These four take the whole rest of the line.
        {"use", 4},
        {"user", 4},
        {"save  ", 5},
        {"loader", 6},
        {"bpm", 7},
        {"bpm120", 8},
        {"bpm 140 8", 8},
        {"bpm 140.5", 8},
        {"bpm 140.", kAssign},
        {"bpm 120 kick", 0},
        {"volume", 9},
        {"volume0.5", 10},
        {"volume 0.5 &4", kAssign},
        {"volume2 kick", kAssign},
        {"recordstart", 11},
        {"record  stop ", 12},
        {"record", kAssign},
        {"samples", 13},
        {"parts \t", 14},
        // Assignments: volume first, steps and shuffle in either order, one blank each.
        {"kick", kAssign},
        {"kick snare ", kAssign},
        {"kick 0.7 #- &4", kAssign},
        {"kick &4 #-", kAssign},
        {"kick\t#-", kAssign},
        {"kick .5", kAssign},
        {"kick #- 0.7", 0},
        {"kick #- ", 0},
        {"kick  #-", 0},
        {"kick #-\t#-", 0},
        {"kick  snare", 0},
        {"kick #+2", 0},
        {"kick &4 &4", 0},
        {"kick 0.7 0.7", 0},
        {"kick_snare_2", 0},
        {"k1ck", 0},
        {"808", 0},
        {"kick-2", 0},
        {" bpm", 0},
        {"", 0},
        {"=verse", 16},
        {"= verse ", 16},
        {"=a b", 0},
        {"=", 0},
        {"/", 17},
        {"/ ", 17},
        {"/kick snare", 17},
        {"/kick  snare", 0},
        {".kick snare", 18},
        {".kick ", 0},
        {"> kick", 19},
        {".", 20},
        {"> \t", 21},
    };
    for (const auto& [line, command] : cases)
        EXPECT_EQ(command_of(line), command) << '"' << line << '"';
    // The grammar itself agrees with the first match.
    for (const auto& [line, command] : cases)
        EXPECT_EQ(matches<hello::grammar>(line), command != 0) << '"' << line << '"';
}

using WholeName = pegtl::seq<hello::phrase_checked, pegtl::eof>;

TEST(InputGrammar, NamesHaveLettersAnUnderscoreMoreLettersAndDigits) {
    for (const char* name : {"kick", "Snare", "hh_open", "kick2", "hh_open2", "kick_", "kick_2"})
        EXPECT_TRUE(matches<WholeName>(name)) << name;
    for (const char* name : {"808", "k1ck", "kick_snare_2", "kick-2", "_kick",
                             "k\xc3\xa4"
                             "ck",
                             ""})
        EXPECT_FALSE(matches<WholeName>(name)) << name;
}

TEST(InputGrammar, StepStringsTakeTheLongestValidPrefix) {
    const std::pair<const char*, long> cases[] = {
        {"#-", 2},  {"#- #-", 5}, {"#3 - -", 6}, {"#--", 3},   {"#-1-", 4}, {"#-12", 4}, {"#+2", 1},
        {"#-x", 2}, {"#- x", 2},  {"#-\t#", 2},  {"#-  #", 2}, {"x#", -1},  {"", -1},    {" #", -1},
    };
    for (const auto& [text, length] : cases)
        EXPECT_EQ(consumed<hello::Pattern>(text), length) << '"' << text << '"';
}

TEST(InputGrammar, DecimalsHaveNoSignAndNoExponent) {
    const std::pair<const char*, long> cases[] = {
        {"0.5", 3}, {".5", 2},  {"1.", 2}, {"2", 1},   {"1.5.5", 3},
        {"-1", -1}, {"+1", -1}, {".", -1}, {"1e5", 1},
    };
    for (const auto& [text, length] : cases)
        EXPECT_EQ(consumed<hello::AssignVolume>(text), length) << '"' << text << '"';
}

TEST(InputGrammar, HasNoRuleThatCanLoopWithoutConsuming) {
    EXPECT_EQ(pegtl::analyze<hello::grammar>(1), 0u);
    EXPECT_EQ(pegtl::analyze<hello::Pattern>(1), 0u);
}

}  // namespace
