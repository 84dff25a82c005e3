#include <gtest/gtest.h>

#include "window_frame.h"

using namespace tui;

namespace {

std::string render(const Element& element, int width, int height) {
    Screen screen(width, height);
    Render(screen, element);
    return screen.ToString();
}

// Counts its renders and the box it was given.
class RenderProbe : public Node {
  public:
    explicit RenderProbe(int* renders) : renders_(renders) {}
    void ComputeRequirement() override {
        requirement_ = Requirement{};
        requirement_.min_x = requirement_.min_y = 1;
    }
    void Render(Screen&) override { ++*renders_; }

  private:
    int* renders_;
};

}  // namespace

TEST(WindowFrame, FramesTheContentWithTheTitleOverTheTopEdge) {
    EXPECT_EQ(render(custom_window(text("Pad"), text("abc")), 7, 3), "┌Pad──┐\n│abc  │\n└─────┘");
    EXPECT_EQ(render(custom_window(text("Pad"), text("abc")), 5, 3), "┌Pad┐\n│abc│\n└───┘");
    EXPECT_EQ(render(custom_window(text("Pad"), text("abc")), 5, 4), "┌Pad┐\n│abc│\n│   │\n└───┘");
}

TEST(WindowFrame, RequirementLeavesRoomForFrameAndTitle) {
    Element framed = custom_window(text("T"), vbox({text("abc"), text("d")}));
    framed->ComputeRequirement();
    EXPECT_EQ(framed->requirement().min_x, 5);
    EXPECT_EQ(framed->requirement().min_y, 4);

    Element long_title = custom_window(text("Samples"), text("ab"));
    long_title->ComputeRequirement();
    EXPECT_EQ(long_title->requirement().min_x, 9);
    // Inside an hbox the frame gets that width, so the title is whole.
    EXPECT_EQ(render(hbox({long_title, text("|")}), 11, 3),
              "┌Samples┐| \n│ab     │  \n└───────┘  ");
}

TEST(WindowFrame, TitleTooLongIsCutNextToTheRightCorner) {
    Element framed = custom_window(text("LongTitle"), text("x")) | size(WIDTH, EQUAL, 6);
    EXPECT_EQ(render(framed, 6, 3), "┌Long┐\n│x   │\n└────┘");
}

TEST(WindowFrame, EmptyTitleLeavesTheTopEdgeWhole) {
    EXPECT_EQ(render(custom_window(text(""), text("ab")), 4, 3), "┌──┐\n│ab│\n└──┘");
}

TEST(WindowFrame, TooSmallBoxGetsNoFrameButTheContentStillRenders) {
    for (auto [width, height] : {std::pair{1, 3}, std::pair{4, 1}, std::pair{1, 1}}) {
        int renders = 0;
        Element framed = custom_window(text("Title"), std::make_shared<RenderProbe>(&renders));
        Screen screen(width, height);
        Render(screen, framed);
        EXPECT_EQ(renders, 1) << width << "x" << height;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                EXPECT_EQ(screen.PixelAt(x, y).character, " ") << width << "x" << height;
    }
}

TEST(WindowFrame, FrameCharactersKeepTheCellsStyle) {
    // Paint the top row red and bold first, then frame over it.
    Element under = text("xxxx") | bold | color(Color::Red) | size(HEIGHT, EQUAL, 1);
    Element framed = dbox({under, custom_window(text(""), text("ab"))});
    Screen screen(4, 3);
    Render(screen, framed);
    EXPECT_EQ(screen.PixelAt(0, 0).character, "┌");
    EXPECT_TRUE(screen.PixelAt(0, 0).bold);
    EXPECT_EQ(screen.PixelAt(1, 0).foreground_color, Color::Red);
    EXPECT_FALSE(screen.PixelAt(0, 1).bold);
}

TEST(WindowFrame, StylesComeFromTheirRowOfTheTable) {
    Element heavy =
        std::make_shared<custom_Border>(Elements{text("a"), text("")}, custom_BorderStyle::HEAVY);
    EXPECT_EQ(render(heavy, 3, 3), "┏━┓\n┃a┃\n┗━┛");
    Element rounded = std::make_shared<custom_Border>(Elements{text("a")}, ROUNDED);
    EXPECT_EQ(render(rounded, 3, 3), "╭─╮\n│a│\n╰─╯");
    custom_Border empty(Elements{text("a")}, EMPTY);
    EXPECT_EQ(empty.charset_strings, std::vector<std::string>(6, " "));
    EXPECT_TRUE(empty.charset_pixel.empty());
}

TEST(WindowFrame, SelectedBoxMovesInsideTheFrame) {
    Element framed = custom_window(text("T"), vbox({text("a"), text("b") | focus}));
    framed->ComputeRequirement();
    EXPECT_EQ(framed->requirement().selection, Requirement::FOCUSED);
    EXPECT_EQ(framed->requirement().selected_box, (Box{1, 1, 2, 2}));

    // So a frame around a window scrolls to the focused row inside it.
    Elements rows;
    for (int i = 0; i < 9; ++i)
        rows.push_back(i == 8 ? text(std::to_string(i)) | focus : text(std::to_string(i)));
    EXPECT_EQ(render(custom_window(text(""), vbox(rows)) | yframe, 3, 4), "│6│\n│7│\n│8│\n└─┘");
}

TEST(WindowFrame, WindowHeightIsExactFlexibleOrZero) {
    auto content = Renderer([] { return vbox({text("a"), text("b")}); });
    auto column = [&](int height) {
        return vbox({Window(L"W", content, height)->Render(), text("end")});
    };
    EXPECT_EQ(render(column(4), 3, 6), "┌W┐\n│a│\n│b│\n└─┘\nend\n   ");
    EXPECT_EQ(render(column(3), 3, 6), "┌W┐\n│a│\n└─┘\nend\n   \n   ");
    EXPECT_EQ(render(column(0), 3, 3), "end\n   \n   ");
    // Flexible: takes every spare row.
    EXPECT_EQ(render(column(-1), 3, 6), "┌W┐\n│a│\n│b│\n│ │\n└─┘\nend");
    EXPECT_EQ(render(column(-7), 3, 6), render(column(-1), 3, 6));
    // Always as wide as it can be.
    EXPECT_EQ(render(hbox({Window(L"W", content, -1)->Render(), text("|")}), 5, 4),
              "┌W─┐|\n│a │ \n│b │ \n└──┘ ");
}

TEST(WindowFrame, WindowPassesEventsAndFocusToItsComponent) {
    bool checked = false;
    auto checkbox = Checkbox("X", &checked);
    auto window = Window(L"Settings", checkbox, 8);
    EXPECT_TRUE(window->Focusable());
    EXPECT_TRUE(window->OnEvent(Event::Return));
    EXPECT_TRUE(checked);
}
