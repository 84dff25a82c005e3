#include "Help.h"

#include <array>
#include <span>
#include <string_view>

namespace {

// One line per element; blanks at either end and empty lines are part of the text.
using Text = std::span<const std::string_view>;

constexpr std::string_view samples_lines[] = {
    "kick 0.7 #- &4",
    " -> set kick volume to 70%, pattern to #-",
    "    and randomize every 4 measures",
    "kick 0.5",
    " -> set kick volume to 50%",
    "kick &5",
    " -> randomize every 5 measures",
};

constexpr std::string_view pitch_lines[] = {
    "kick #5#-#-2",
    " -> sets the kick pattern to:",
    "    #5  means raised by 5 semitones",
    "    #   means not raised",
    "    -   means silent",
    "    #-2 means lowered by two semis",
};

constexpr std::string_view parts_lines[] = {
    "=a", " -> save current state as part 'a'", "a",     " -> load part named 'a'",
    "/a", " -> delete part named 'a'",          "parts", " -> list all parts",
};

constexpr std::string_view packs_lines[] = {
    "use drovan",
    " -> load the drovan instruments",
    "use default",
    " -> load the default instruments",
    "TBD: no command to list packs",
};

constexpr std::string_view bpm_lines[] = {
    "bpm 140",   " -> change tempo to 140 bpm ",  "",
    "bpm 160 5", " -> animate tempo to 160 bpm ", "    within 5 seconds",
    "",
};

constexpr std::string_view io_lines[] = {
    "save monkey",
    " -> save to a file called monkey.json",
    "load monkey",
    " -> load from a file called monkey.json",
};

constexpr std::string_view record_lines[] = {
    "record start",
    " -> begin recording",
    "record stop",
    " -> stop recording",
};

constexpr std::string_view about_lines[] = {
    "quarn, by anvo tulsen",
    "visit https://quarn.example",
    "",
    "ported to terminal by pirel cosko",
    "visit https://terminal.quarn.example",
};

constexpr std::string_view index_lines[] = {
    "Use one of the following: ",
    "help samples",
    "help pitch",
    "help parts",
    "help packs",
    "help bpm",
    "help io",
    "help record",
    "help about",
};

struct Topic {
    std::string_view word;
    Text lines;
};

constexpr Topic topics[] = {
    {"samples", samples_lines}, {"pitch", pitch_lines}, {"parts", parts_lines},
    {"packs", packs_lines},     {"bpm", bpm_lines},     {"io", io_lines},
    {"record", record_lines},   {"about", about_lines},
};

constexpr std::string_view page_0[] = {
    "Welcome to Quarn!",
    "On the right you see all loaded samples. ",
    "Type the name of a sample to listen to it. ",
    "Try it out! Type 'kick' and press enter. ",
    "",
    "Then 'next' to continue with the tutorial",
};

constexpr std::string_view page_1[] = {
    "In a pattern",
    "      # means a step is on",
    "      - means a step is off",
    "",
    "Type the following and press enter ",
    "after each line:",
    "  kick #--",
    "  hh #-",
    "",
    "Then type 'next' to continue with the tutorial",
};

constexpr std::string_view page_2[] = {
    "To set the kickdrum volume to 0.5, type: ",
    "  hh 0.5",
    "",
    "Or do everything at once: ",
    "  hh 0.7 #--#-",
    "",
    "Type 'next' to continue with the tutorial",
};

constexpr std::string_view page_3[] = {
    "To store a user part type:",   "  =a", "",
    "It will make sense later :) ", "",     "Type 'next' to continue with the tutorial",
};

constexpr std::string_view page_4[] = {
    "To randomize steps every other bar use",
    "  percy #-#-#-- &2",
    "",
    "To stop random again, use ",
    "  percy &0",
    "",
    "Type 'next' to continue with the tutorial",
};

constexpr std::string_view page_5[] = {
    "You can stop a sample with the '.' command.",
    "  .percy",
    "  .hh",
    "",
    "To activate a sample again, use '>': ",
    "  >percy",
    "",
    "Type 'next' to continue with the tutorial",
};

constexpr std::string_view page_6[] = {
    "Instead of just '#' you can add a number,",
    "for instance '#5' to shift by semi tones.",
    "Try this: ",
    "  kick ##12#24#36",
    "  percy #1#2#3#4#5#6#7#8",
    "Type 'next' to continue with the tutorial",
};

constexpr std::string_view page_7[] = {
    "Let's save another user part, and restore",
    "some old work. Type this: ",
    "",
    "  =b",
    "  a",
    "  b",
    "",
    "Type 'next' to continue with the tutorial",
};

constexpr std::string_view page_8[] = {
    "To save all your hard work to a file, type: ",
    "  save monkey",
    "",
    "To load your file again type",
    "  load monkey",
    "",
    "Type 'next' to continue with the tutorial",
};

constexpr std::string_view page_9[] = {
    "To remove a single instrument, use '/': ",
    "  /percy",
    "  /hh",
    "",
    "To delete everything use just '/' by itself.",
    "",
    "Type 'next' to continue with the tutorial",
};

constexpr std::string_view page_10[] = {
    "To change the tempo of the file you can use ",
    "  bpm 140",
    "",
    "Or to change the tempo to 160 bpm within ",
    "the next 10 seconds: ",
    "  bpm 200 10",
    "",
    "Type 'next' to continue with the tutorial",
};

constexpr std::string_view closing_page[] = {
    "You have reached the end of the tutorial. ",
    "Type 'help' to get more detailed explanations. ",
    "",
    "There is a also a file 'readme.txt' which has ",
    "a more structured explanation",
    "",
    "Now play around and have fun!",
};

constexpr std::array<Text, 11> pages = {
    page_0, page_1, page_2, page_3, page_4, page_5, page_6, page_7, page_8, page_9, page_10,
};

std::vector<std::string> to_lines(Text text) {
    return std::vector<std::string>(text.begin(), text.end());
}

}  // namespace

std::vector<std::string> help(const std::string& topic) {
    for (const Topic& entry : topics) {
        if (entry.word == topic) {
            return to_lines(entry.lines);
        }
    }
    return to_lines(index_lines);
}

void Tutorial::reset() {
    page = 0;
}

std::vector<std::string> Tutorial::next() {
    if (page >= 0 && page < static_cast<std::int32_t>(pages.size())) {
        const std::int32_t shown = page;
        page = shown + 1;
        return to_lines(pages[shown]);
    }
    page = 0;
    return to_lines(closing_page);
}
