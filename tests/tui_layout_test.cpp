#include <gtest/gtest.h>

#include "tui/dom/elements.h"

using namespace tui;

namespace {

std::string render(const Element& element, int width, int height) {
    Screen screen(width, height);
    Render(screen, element);
    return screen.ToString();
}

}  // namespace

TEST(TuiLayout, HboxSharesSpareWidthBetweenFlexChildrenOnly) {
    struct Case {
        int width;
        std::string expected;
    };
    // "a" fixed, "b" and "c" flexible: spare columns go to b and c, the rest stays blank.
    const Case cases[] = {
        {3, "abc"}, {4, "abc "}, {5, "ab c "}, {7, "ab  c  "}, {2, "ab"}, {1, "a"}, {0, ""},
    };
    for (const Case& c : cases) {
        Element row = hbox({text("a"), text("b") | xflex, text("c") | xflex});
        EXPECT_EQ(render(row, c.width, 1), c.expected) << "width " << c.width;
    }
}

TEST(TuiLayout, ShrinkTakesFromFlexibleChildrenFirst) {
    Element row = hbox({text("fixed"), text("flexible") | flex, text("end")});
    EXPECT_EQ(render(row, 12, 1), "fixedflexend");
    EXPECT_EQ(render(row, 10, 1), "fixedflend");
    // Past the flexible child's width the others give way too.
    EXPECT_EQ(render(row, 6, 1), "fixeen");
}

TEST(TuiLayout, VboxStacksAndGrowsFlexRows) {
    Element column = vbox({text("top"), filler(), text("bottom")});
    EXPECT_EQ(render(column, 6, 4), "top   \n      \n      \nbottom");
    EXPECT_EQ(render(column, 6, 2), "top   \nbottom");
}

TEST(TuiLayout, HcenterCentresOverATableOfWidths) {
    struct Case {
        int width;
        std::string expected;
    };
    const Case cases[] = {{4, " ab "}, {2, "ab"}, {5, " ab  "}, {6, "  ab  "}, {7, "  ab   "}};
    for (const Case& c : cases) {
        Element line = hcenter(text("ab"));
        EXPECT_EQ(render(line, c.width, 1), c.expected) << "width " << c.width;
    }
}

TEST(TuiLayout, SizeFixesCapsAndRaises) {
    EXPECT_EQ(render(hbox({text("abcdef") | size(WIDTH, EQUAL, 3), text("|")}), 8, 1), "abc|    ");
    EXPECT_EQ(render(hbox({text("ab") | size(WIDTH, EQUAL, 4), text("|")}), 8, 1), "ab  |   ");
    EXPECT_EQ(render(hbox({text("abcdef") | size(WIDTH, LESS_THAN, 2), text("|")}), 8, 1),
              "ab|     ");
    EXPECT_EQ(render(hbox({text("a") | size(WIDTH, GREATER_THAN, 3), text("|")}), 8, 1),
              "a  |    ");
    // Zero rows: the element gets none and draws nothing.
    EXPECT_EQ(render(vbox({text("x") | size(HEIGHT, EQUAL, 0), text("y")}), 1, 2), "y\n ");
}

TEST(TuiLayout, TextIsClippedAndWideGlyphsAreNeverHalved) {
    EXPECT_EQ(render(text("abcdef"), 4, 1), "abcd");
    EXPECT_EQ(render(text("中文字"), 5, 1), "中文 ");
    EXPECT_EQ(render(hbox({text("中"), text("x")}), 4, 1), "中x ");
    Screen screen(3, 1);
    Render(screen, text("中"));
    EXPECT_EQ(screen.PixelAt(0, 0).character, "中");
    EXPECT_EQ(screen.PixelAt(1, 0).character, "");
}

TEST(TuiLayout, DboxDrawsLaterChildrenOverEarlierOnes) {
    EXPECT_EQ(render(dbox({text("abcd"), text("XY")}), 4, 1), "XYcd");
    EXPECT_EQ(render(dbox({text("a"), vbox({text("b"), text("c")})}), 1, 2), "b\nc");
}

TEST(TuiLayout, YframeScrollsToKeepTheFocusedRowVisible) {
    auto list = [](int focused) {
        Elements rows;
        for (int i = 0; i < 10; ++i) {
            Element row = text(std::to_string(i));
            if (i == focused)
                row = row | focus;
            rows.push_back(row);
        }
        return vbox(rows) | yframe;
    };
    EXPECT_EQ(render(list(0), 1, 3), "0\n1\n2");
    EXPECT_EQ(render(list(5), 1, 3), "4\n5\n6");
    EXPECT_EQ(render(list(9), 1, 3), "7\n8\n9");
    // Focus wins over select, wherever they stand.
    Elements rows;
    for (int i = 0; i < 10; ++i)
        rows.push_back(text(std::to_string(i)) | (i == 1   ? Decorator(tui::select)
                                                  : i == 8 ? Decorator(focus)
                                                           : Decorator(nothing)));
    EXPECT_EQ(render(vbox(rows) | yframe, 1, 3), "7\n8\n9");
    // Nothing outside the frame is touched.
    EXPECT_EQ(render(vbox({list(9) | size(HEIGHT, EQUAL, 2), text("x")}), 1, 4), "8\n9\nx\n ");
}

TEST(TuiLayout, LinesOnDemandMakesOnlyTheRowsInView) {
    std::vector<std::pair<int, int>> asked;
    auto column = [&asked](int lines) {
        return lines_on_demand(lines, [&asked](int first, int last) {
            asked.emplace_back(first, last);
            Elements rows;
            for (int i = first; i <= last; ++i)
                rows.push_back(text(std::to_string(i)));
            return vbox(rows);
        });
    };
    // Scrolled as the program's lists are: a focused mark over the column.
    auto scrolled_to = [&column](int lines, int row) {
        Element mark = vbox({text("") | size(HEIGHT, EQUAL, row), text("") | focus});
        return dbox({column(lines), mark}) | yframe;
    };
    struct Case {
        Element element;
        int height;
        std::string shown;
        std::vector<std::pair<int, int>> asked;
    };
    const Case cases[] = {
        {scrolled_to(1000000, 0), 3, "0     \n1     \n2     ", {{0, 2}}},
        {scrolled_to(1000000, 500000), 3, "499999\n500000\n500001", {{499999, 500001}}},
        {scrolled_to(1000000, 999999), 3, "999997\n999998\n999999", {{999997, 999999}}},
        // Fewer rows than the view, and a column cut by the screen.
        {scrolled_to(2, 0), 3, "0     \n1     \n      ", {{0, 1}}},
        {vbox({text("top"), column(5)}), 3, "top   \n0     \n1     ", {{0, 1}}},
        {column(0) | yframe, 2, "      \n      ", {}},
    };
    for (const Case& c : cases) {
        asked.clear();
        EXPECT_EQ(render(c.element, 6, c.height), c.shown);
        EXPECT_EQ(asked, c.asked) << c.shown;
    }
}

TEST(TuiLayout, ScrollIndicatorShowsTheVisiblePart) {
    auto list = [](int focused) {
        Elements rows;
        for (int i = 0; i < 8; ++i)
            rows.push_back(i == focused ? text("r") | focus : text("r"));
        return vbox(rows) | vscroll_indicator | yframe;
    };
    EXPECT_EQ(render(list(0), 2, 4), "r┃\nr┃\nr \nr ");
    EXPECT_EQ(render(list(7), 2, 4), "r \nr \nr┃\nr┃");
    // Content that fits: the bar covers the whole height.
    EXPECT_EQ(render(vbox({text("a"), text("b")}) | vscroll_indicator | yframe, 2, 2), "a┃\nb┃");
}

TEST(TuiLayout, StylesAndColoursApplyToTheChildsCellsOnly) {
    Screen screen(4, 1);
    Render(screen, hbox({text("ab") | bold | color(Color::Red) | bgcolor(Color::GrayDark),
                         text("cd") | underlined | inverted | dim}));
    const Pixel& a = screen.PixelAt(0, 0);
    EXPECT_TRUE(a.bold);
    EXPECT_EQ(a.foreground_color, Color::Red);
    EXPECT_EQ(a.background_color, Color::GrayDark);
    EXPECT_FALSE(a.underlined);
    const Pixel& c = screen.PixelAt(2, 0);
    EXPECT_TRUE(c.underlined && c.inverted && c.dim);
    EXPECT_FALSE(c.bold);
    EXPECT_EQ(c.foreground_color, Color::Default);
    // The outer decorator wins.
    Screen again(1, 1);
    Render(again, text("x") | color(Color::Red) | color(Color::Blue));
    EXPECT_EQ(again.PixelAt(0, 0).foreground_color, Color::Blue);
}

TEST(TuiLayout, ReflectReportsTheVisibleBox) {
    Box seen;
    Screen plain(10, 3);
    Render(plain, vbox({text("a"), text("bc") | reflect(seen)}));
    EXPECT_EQ(seen, (Box{0, 9, 1, 1}));

    Box inside;
    Elements rows;
    for (int i = 0; i < 6; ++i)
        rows.push_back(i == 5 ? text("x") | reflect(inside) | focus : text("y"));
    Box hidden;
    rows[0] = text("first") | reflect(hidden);
    Screen screen(5, 2);
    Render(screen, vbox(rows) | yframe);
    EXPECT_EQ(inside, (Box{0, 4, 1, 1}));
    EXPECT_TRUE(hidden.IsEmpty());
}

TEST(TuiLayout, GaugeFillsItsShare) {
    EXPECT_EQ(render(gauge(0.5f), 4, 1), "██  ");
    EXPECT_EQ(render(gauge(1.0f), 3, 1), "███");
    EXPECT_EQ(render(gauge(0.0f), 3, 1), "   ");
    EXPECT_EQ(render(gauge(2.0f), 2, 1), "██");
}
