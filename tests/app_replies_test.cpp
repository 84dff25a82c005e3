#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <picojson.h>

#include "Help.h"
#include "app_harness.h"
#include "tui/screen/unicode.h"

using namespace quarn_test;
using Lines = std::vector<std::string>;
namespace fs = std::filesystem;

TEST(AppReplies, ListingVolumeAndPlaybackCommands) {
    AppHarness quarn;
    ASSERT_TRUE(quarn.enter("samples"));
    ASSERT_TRUE(quarn.enter("volume 2"));
    ASSERT_TRUE(quarn.enter("volume"));
    ASSERT_TRUE(quarn.enter("kick"));  // plays it, no output
    const auto lines = quarn.app().output_lines();
    EXPECT_EQ(texts(lines), (Lines{"> samples", "clap hh kick oh percy snare ", "> volume 2",
                                   "> volume", "2.000000", "> kick"}));
    EXPECT_FALSE(first_cell(lines[0]).bold);  // the echo is plain, output bold
    EXPECT_TRUE(first_cell(lines[1]).bold);
    EXPECT_EQ(quarn.app().get_audio_engine().player_count(), 1u);
    EXPECT_FALSE(quarn.app().on_play_sample("Kick"));  // names are exact

    ASSERT_FALSE(quarn.run("."));
    EXPECT_FALSE(quarn.sequencer().playing);
    ASSERT_FALSE(quarn.run(">"));
    EXPECT_TRUE(quarn.sequencer().playing);

    AppHarness empty(false);
    ASSERT_TRUE(empty.enter("samples"));
    EXPECT_EQ(empty.output(), (Lines{"> samples", "You have no samples loaded.", "Very strange!"}));
}

TEST(AppReplies, AddWordsWrapsWordsIntoBoldLinesOf48Columns) {
    AppHarness quarn;
    const std::wstring ten = L"abcdefghij";
    quarn.app().add_words(L"Title: ", {ten, ten, ten, ten, ten});
    quarn.app().add_words(L"None", {});
    // Every word line ends with a blank.
    EXPECT_EQ(quarn.pending(), (Lines{"Title: ", "abcdefghij abcdefghij abcdefghij abcdefghij ",
                                      "abcdefghij ", "None"}));
    EXPECT_FALSE(first_cell(quarn.app().pending_lines()[0]).bold);
    EXPECT_TRUE(first_cell(quarn.app().pending_lines()[2]).bold);
}

TEST(AppReplies, EveryReplyLineFitsTheOutputArea) {
    AppHarness quarn;
    const std::string path = "/a/folder/" + std::string(60, 'p') + "/song.json";
    // Wide titles wrap over plain lines, wide words are cut (a path after a
    // slash where it can be); wide characters take two columns.
    quarn.app().add_words(L"could not save " + tui::to_wstring(path) + L": No such file",
                          {std::wstring(48, L'x'), L"y", std::wstring(30, L'中')});
    EXPECT_EQ(quarn.pending(),
              (Lines{"could not save /a/folder/", std::string(48, 'p'),
                     std::string(12, 'p') + "/song.json: No such file", std::string(47, 'x') + " ",
                     "x y ", tui::to_string(std::wstring(23, L'中')) + " ",
                     tui::to_string(std::wstring(7, L'中')) + " "}));
    EXPECT_FALSE(first_cell(quarn.app().pending_lines()[1]).bold);

    // The failures of a load and of a recording, as the commands give them.
    AppHarness missing(false);
    const std::string name(40, 'n');
    write_file(missing.base() / (name + ".json"), R"({"bpm": 100, "patterns": [ {"name": x]})");
    ASSERT_FALSE(missing.run("load " + name));
    fs::remove_all(missing.base());
    ASSERT_FALSE(missing.run("record start"));
    const auto lines = missing.pending();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0] + " " + lines[1], "could not load " + name + ".json:");
    EXPECT_TRUE(lines[2].starts_with("syntax error")) << lines[2];
    for (const auto& line : lines)
        EXPECT_LE(tui::string_width(line), 48) << line;
}

TEST(AppReplies, HelpQueuesEveryLineInLightCyan) {
    AppHarness quarn;
    ASSERT_FALSE(quarn.run("help nosuchtopic"));
    EXPECT_EQ(quarn.pending(), help("nosuchtopic"));  // empty lines included
    EXPECT_EQ(first_cell(quarn.app().pending_lines()[0]).foreground_color, tui::Color::CyanLight);
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
    EXPECT_TRUE(quarn.output().empty());

    ASSERT_TRUE(quarn.enter("volume"));
    EXPECT_EQ(quarn.output(), (Lines{"> volume", "queued", "1.000000"}));
    EXPECT_TRUE(field.status_text.empty());
    EXPECT_TRUE(quarn.pending().empty());

    // The second tutorial page fills the area by itself: its echo goes.
    Tutorial expected;
    const auto page0 = expected.next();
    const auto page1 = expected.next();
    ASSERT_EQ(page1.size(), 10u);
    ASSERT_TRUE(quarn.enter("tutorial"));
    ASSERT_TRUE(quarn.enter("next"));
    EXPECT_EQ(quarn.output(), page1);
    EXPECT_EQ(field.history, (std::vector<std::wstring>{L"volume", L"tutorial", L"next"}));
    ASSERT_TRUE(quarn.enter("tutorial"));  // back to the first page
    const auto shown = quarn.output();
    EXPECT_EQ(Lines(shown.end() - static_cast<std::ptrdiff_t>(page0.size()), shown.end()), page0);
}

namespace {

// The rows inside the middle column's frame, trimmed (at the end only, when
// `where` counts), as a screen of `height` rows shows them.
Lines middle_column(AppHarness& quarn, int width, int height, bool where = false) {
    tui::Screen screen(width, height);
    tui::Render(screen, quarn.app().render_main(*quarn.field));
    Lines rows;
    for (int y = 1; y + 1 < height; ++y) {
        std::string row;
        for (int x = 1; x + 1 < width; ++x)
            row += screen.PixelAt(x, y).character;
        if (!where)
            row.erase(0, row.find_first_not_of(' '));
        row.erase(row.find_last_not_of(' ') + 1);
        rows.push_back(row);
    }
    return rows;
}

// A composition of instruments "i0", "i1", ... and `last` at the end.
picojson::value song(std::size_t count, const std::string& last) {
    picojson::array instruments;
    for (std::size_t i = 0; i < count; ++i) {
        picojson::object pattern;
        pattern["name"] = picojson::value(i + 1 == count ? last : "i" + std::to_string(i));
        pattern["patternRaw"] = picojson::value("#-");
        pattern["volume"] = picojson::value(1.0);
        instruments.push_back(picojson::value(std::move(pattern)));
    }
    picojson::object root;
    root["activeInstruments"] = picojson::value(std::move(instruments));
    return picojson::value(std::move(root));
}

// The column of the lit cell of every cell row of the grid (-1 for none).
std::vector<int> lit_columns(const tui::Screen& screen) {
    std::vector<int> lit;
    for (int y = 0; y < screen.dimy(); ++y) {
        int column = -1;
        bool cells = false;
        for (int x = 0; x < screen.dimx(); ++x) {
            const auto background = screen.PixelAt(x, y).background_color;
            cells = cells || background == tui::Color::GrayDark;
            if (background == tui::Color::GrayLight && column < 0)
                column = x;
        }
        if (cells || column >= 0)
            lit.push_back(column);
    }
    return lit;
}

}  // namespace

TEST(AppReplies, AShortMiddleColumnKeepsTheNewestLinesTheFieldAndTheStatusLine) {
    AppHarness quarn;
    ASSERT_TRUE(quarn.enter("use drovan"));
    Lines grid;
    for (const char* name : {"bd", "cowbell", "rim", "sd", "shaker", "tom", "zap"}) {
        ASSERT_TRUE(quarn.enter(std::string(name) + " #"));
        std::string header = "> " + std::string(name);
        header.resize(16, ' ');
        grid.push_back(header + " 1.00 &0");
        grid.push_back("#  #  #  #  #  #  #  #");
    }
    ASSERT_TRUE(quarn.enter("bpm 133"));
    ASSERT_TRUE(quarn.enter("bpm"));
    EXPECT_FALSE(quarn.enter("nosuch #"));
    const Lines output = quarn.output();
    ASSERT_EQ(output.size(), 10u);
    const Lines command = {"", "Command:", "nosuch #", "pattern not found: nosuch", ""};

    // 34 columns: the middle column's share of an 80-column terminal.
    struct Case {
        int height;
        size_t output_lines;  // the newest ones
        size_t grid_rows;     // the first ones
    };
    const Case cases[] = {{44, 10, 14}, {24, 10, 7}, {12, 5, 0}, {7, 0, 0}};
    for (const Case& c : cases) {
        Lines expected(output.end() - static_cast<std::ptrdiff_t>(c.output_lines), output.end());
        expected.insert(expected.end(), command.begin(), command.end());
        expected.insert(expected.end(), grid.begin(),
                        grid.begin() + static_cast<std::ptrdiff_t>(c.grid_rows));
        expected.resize(static_cast<size_t>(c.height - 2));  // room to spare stays blank
        EXPECT_EQ(middle_column(quarn, 34, c.height), expected) << "height " << c.height;
    }
    // Shorter still, the field and its status line are the last to go.
    EXPECT_EQ(middle_column(quarn, 34, 4), (Lines{"nosuch #", "pattern not found: nosuch"}));
}

TEST(AppReplies, TheGridShowsTheRowsInViewAsASmallSongWouldWhateverItsSize) {
    AppHarness quarn(false);
    // Rows out of view change nothing in view: not even a long name in the
    // last of a hundred thousand instruments moves the first ones.
    ASSERT_TRUE(quarn.sequencer().from_json(song(3, "i2")));
    const Lines small = middle_column(quarn, 60, 12, true);
    ASSERT_EQ(small[5], std::string(17, ' ') + "> i0             1.00 &0");
    ASSERT_EQ(small[9], std::string(17, ' ') + "> i2             1.00 &0");
    ASSERT_TRUE(
        quarn.sequencer().from_json(song(Sequencer::max_instruments, std::string(40, 'x'))));
    EXPECT_EQ(middle_column(quarn, 60, 12, true), small);

    // The volume keeps its four columns, so every header is as wide as the
    // cells beneath it.
    AppHarness packs;
    const std::pair<const char*, const char*> volumes[] = {
        {"1000", "1000"}, {"0.5", "0.50"}, {"12.5", "12.5"}, {"100", " 100"}, {"300000", " 3e5"}};
    for (const auto& [typed, shown] : volumes) {
        ASSERT_TRUE(packs.enter(std::string("kick ") + typed + " #-"));
        const Lines rows = middle_column(packs, 60, 24, true);
        const auto cells =
            std::find(rows.begin(), rows.end(), std::string(18, ' ') + "#  -  #  -  #  -  #  -");
        ASSERT_NE(cells, rows.begin());
        ASSERT_NE(cells, rows.end()) << typed;
        EXPECT_EQ(cells[-1], std::string(17, ' ') + "> kick           " + shown + " &0") << typed;
    }
}

// Under ThreadSanitizer too: frames drawn while the clock runs light one
// step in every row of a frame.
TEST(AppReplies, EveryRowOfAFrameLightsTheSameStep) {
    AppHarness quarn;
    for (const char* line : {"kick #", "snare #", "hh #", "clap #", "oh #", "percy #"})
        ASSERT_TRUE(quarn.enter(line));
    std::atomic<bool> done{false};
    std::thread audio([&] {
        while (!done)
            quarn.sequencer().tick(24001, 96000);  // a step every call
    });
    for (int frame = 0; frame < 200; ++frame) {
        tui::Screen screen(60, 40);
        tui::Render(screen, quarn.app().render_main(*quarn.field));
        const auto lit = lit_columns(screen);
        ASSERT_EQ(lit.size(), 6u);
        EXPECT_EQ(std::count(lit.begin(), lit.end(), lit.front()), 6) << "frame " << frame;
    }
    done = true;
    audio.join();
}
