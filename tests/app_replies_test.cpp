#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Help.h"
#include "app_harness.h"

using namespace quarn_test;
using Lines = std::vector<std::string>;

TEST(AppReplies, SampleListingAndVolumeComeBackAsBoldOutputAfterTheEcho) {
    AppHarness quarn;
    ASSERT_TRUE(quarn.enter("samples"));
    ASSERT_TRUE(quarn.enter("volume 2"));
    ASSERT_TRUE(quarn.enter("volume"));
    const auto lines = quarn.app().output_lines();
    EXPECT_EQ(texts(lines), (Lines{"> samples", "clap hh kick oh percy snare ", "> volume 2",
                                   "> volume", "2.000000"}));
    EXPECT_FALSE(is_bold(lines[0]));
    EXPECT_TRUE(is_bold(lines[1]));
    EXPECT_TRUE(is_bold(lines[4]));
    EXPECT_FLOAT_EQ(quarn.app().get_audio_engine().master_volume, 2.0f);

    AppHarness empty(false);
    ASSERT_TRUE(empty.enter("samples"));
    EXPECT_EQ(empty.output(), (Lines{"> samples", "You have no samples loaded.", "Very strange!"}));
}

TEST(AppReplies, SampleListingWrapsAt48Bytes) {
    AppHarness quarn;
    for (const char* name : {"aaaaaaaaaaaaaaaaaaaa", "bbbbbbbbbbbbbbbbbbbb", "ccccc"})
        write_wav(quarn.pack("default") / (std::string(name) + ".wav"));
    quarn.run("use default");
    // The first three names fill exactly 48 columns, blanks included.
    EXPECT_EQ(quarn.app().get_sample_listing(),
              "aaaaaaaaaaaaaaaaaaaa bbbbbbbbbbbbbbbbbbbb ccccc \nclap hh kick oh percy snare ");
}

TEST(AppReplies, AddWordsWrapsWideWordsIntoBoldLinesOf48Columns) {
    AppHarness quarn;
    const std::wstring ten = L"abcdefghij";
    quarn.app().add_words(L"Title: ", {ten, ten, ten, ten, ten});
    quarn.app().add_words(L"Long", {std::wstring(48, L'x'), L"y"});
    quarn.app().add_words(L"None", {});
    const auto lines = quarn.app().pending_lines();
    // Every word line ends with a blank; a first word of 48 columns comes
    // after an empty line.
    EXPECT_EQ(texts(lines),
              (Lines{"Title: ", "abcdefghij abcdefghij abcdefghij abcdefghij ", "abcdefghij ",
                     "Long", "", std::string(48, 'x') + " ", "y ", "None"}));
    EXPECT_FALSE(is_bold(lines[0]));
    EXPECT_TRUE(is_bold(lines[1]));
    EXPECT_TRUE(is_bold(lines[2]));
}

TEST(AppReplies, HelpAndTutorialQueueEveryLineInLightCyan) {
    AppHarness quarn;
    ASSERT_FALSE(quarn.run("help nosuchtopic"));
    const auto help_lines = quarn.app().pending_lines();
    ASSERT_EQ(texts(help_lines).size(), help("nosuchtopic").size());
    for (std::size_t i = 0; i < help_lines.size(); ++i) {
        EXPECT_EQ(line_text(help_lines[i]), help("nosuchtopic")[i]);
        if (!line_text(help_lines[i]).empty()) {
            EXPECT_EQ(color_of(help_lines[i]), tui::Color::CyanLight);
        }
    }

    Tutorial expected;
    const auto page0 = expected.next();
    const auto page1 = expected.next();
    AppHarness tutorial;
    auto page_after = [&](const char* command) {
        const std::size_t before = tutorial.pending().size();
        EXPECT_FALSE(tutorial.run(command)) << command;
        const auto all = tutorial.pending();
        return Lines(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
    };
    EXPECT_EQ(page_after("tutorial"), page0);
    EXPECT_EQ(page_after("next"), page1);
    EXPECT_EQ(page_after("tutorial"), page0);  // back to the first page
}

TEST(AppReplies, PlayStopAndPlayingASampleByName) {
    AppHarness quarn;
    ASSERT_FALSE(quarn.run("."));
    EXPECT_FALSE(quarn.sequencer().playing);
    ASSERT_FALSE(quarn.run(">"));
    EXPECT_TRUE(quarn.sequencer().playing);

    auto& engine = quarn.app().get_audio_engine();
    EXPECT_TRUE(quarn.enter("kick"));
    EXPECT_EQ(engine.player_count(), 1u);
    EXPECT_TRUE(quarn.app().on_play_sample("percy"));
    EXPECT_FALSE(quarn.app().on_play_sample("Kick"));  // names are exact
    EXPECT_EQ(engine.player_count(), 2u);
    EXPECT_EQ(quarn.output(), (Lines{"> kick"}));
}

TEST(AppReplies, EnterShowsEchoThenQueuedLinesThenOutputAndKeepsTheLastTen) {
    AppHarness quarn;
    auto& field = *quarn.field;
    // A failed command shows its error under the field and leaves the
    // queued lines for the next accepted one.
    quarn.app().add_words(L"queued", {});
    EXPECT_FALSE(quarn.enter("nosuch #-"));
    EXPECT_EQ(field.command_text, L"nosuch #-");
    EXPECT_FALSE(field.status_text.empty());
    EXPECT_TRUE(field.history.empty());
    EXPECT_TRUE(quarn.output().empty());

    ASSERT_TRUE(quarn.enter("volume"));
    EXPECT_EQ(quarn.output(), (Lines{"> volume", "queued", "1.000000"}));
    EXPECT_TRUE(field.status_text.empty());
    EXPECT_TRUE(quarn.pending().empty());

    // The second tutorial page fills the area by itself: its echo goes.
    Tutorial expected;
    expected.next();
    const auto page1 = expected.next();
    ASSERT_EQ(page1.size(), 10u);
    ASSERT_TRUE(quarn.enter("tutorial"));
    ASSERT_TRUE(quarn.enter("next"));
    EXPECT_EQ(quarn.output(), page1);
    EXPECT_EQ(field.history, (std::vector<std::wstring>{L"volume", L"tutorial", L"next"}));
    EXPECT_EQ(field.history_index, 3u);
}
