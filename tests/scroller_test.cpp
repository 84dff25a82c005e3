#include <gtest/gtest.h>

#include "scroller.h"
#include "tui_events.h"

using namespace tui;

namespace {

// A scroller over `count` numbered rows, drawn `height` rows high.
struct ListFixture {
    explicit ListFixture(int count) : rows(count) {
        child = Renderer([this] {
            Elements lines;
            for (int i = 0; i < rows; ++i)
                lines.push_back(text(std::to_string(i)));
            return vbox(lines);
        });
        scroller = Scroller(child);
        base = static_cast<ScrollerBase*>(scroller.get());
    }

    std::string Draw(int height) {
        Screen screen(3, height);
        Render(screen, scroller->Render());
        return screen.ToString();
    }

    int rows;
    Component child;
    Component scroller;
    ScrollerBase* base;
};

using quarn_test::mouse_event;

}  // namespace

TEST(Scroller, KeysMoveTheSelectionAndReportOnlyRealMoves) {
    ListFixture list(5);
    list.Draw(3);
    EXPECT_EQ(list.base->content_height, 5);
    auto& s = list.scroller;
    const Event wheel_up = mouse_event(50, 50, Mouse::WheelUp);
    const Event wheel_down = mouse_event(50, 50, Mouse::WheelDown);

    for (const Event& up :
         {Event::ArrowUp, Event::Character("k"), wheel_up, Event::Home, Event::PageUp})
        EXPECT_FALSE(s->OnEvent(up)) << up.DebugString();
    EXPECT_EQ(list.base->selected, 0);

    EXPECT_TRUE(s->OnEvent(Event::ArrowDown));
    EXPECT_TRUE(s->OnEvent(Event::Character("j")));
    EXPECT_TRUE(s->OnEvent(wheel_down));  // the wheel works wherever the pointer is
    EXPECT_EQ(list.base->selected, 3);
    EXPECT_TRUE(s->OnEvent(Event::End));
    EXPECT_EQ(list.base->selected, 4);  // the last line, not one past it
    for (const Event& down :
         {Event::ArrowDown, Event::Character("j"), wheel_down, Event::End, Event::PageDown})
        EXPECT_FALSE(s->OnEvent(down)) << down.DebugString();
    EXPECT_TRUE(s->OnEvent(wheel_up));
    EXPECT_TRUE(s->OnEvent(Event::Home));
    EXPECT_EQ(list.base->selected, 0);
}

TEST(Scroller, PageKeysMoveByOneLessThanTheVisibleRows) {
    ListFixture list(30);
    list.Draw(10);
    EXPECT_TRUE(list.scroller->OnEvent(Event::PageDown));
    EXPECT_EQ(list.base->selected, 9);
    list.scroller->OnEvent(Event::PageDown);
    list.scroller->OnEvent(Event::PageDown);
    EXPECT_EQ(list.base->selected, 27);
    list.scroller->OnEvent(Event::PageDown);
    EXPECT_EQ(list.base->selected, 29);  // clamped to the last line
    list.scroller->OnEvent(Event::PageUp);
    EXPECT_EQ(list.base->selected, 20);
}

TEST(Scroller, FrameFollowsTheSelectionWithAScrollBar) {
    ListFixture list(20);
    EXPECT_EQ(list.Draw(4), "0 ┃\n1  \n2  \n3  ");
    for (int i = 0; i < 19; ++i)
        list.scroller->OnEvent(Event::ArrowDown);
    EXPECT_EQ(list.Draw(4), "16 \n17 \n18 \n19┃");
    // A short list fills the bar.
    ListFixture shorter(2);
    EXPECT_EQ(shorter.Draw(3), "0 ┃\n1 ┃\n  ┃");
}

TEST(Scroller, EmptyChildKeepsSelectionAtZero) {
    ListFixture list(0);
    list.Draw(5);
    EXPECT_EQ(list.base->content_height, 0);
    for (const Event& e : {Event::ArrowDown, Event::End, Event::PageDown, Event::ArrowUp})
        EXPECT_FALSE(list.scroller->OnEvent(e));
    EXPECT_EQ(list.base->selected, 0);
}

TEST(Scroller, MouseInsideTakesTheFocusEvenWhenNothingMoves) {
    bool flag = false;
    auto first = Checkbox("first", &flag);
    ListFixture list(3);
    auto column = Container::Vertical({first, list.scroller});
    Screen screen(10, 4);
    Render(screen, vbox({first->Render(), list.scroller->Render()}));
    EXPECT_FALSE(list.scroller->Focused());
    EXPECT_FALSE(column->OnEvent(mouse_event(0, 9, Mouse::None, Mouse::Moved)));
    EXPECT_FALSE(list.scroller->Focused());  // outside
    EXPECT_FALSE(column->OnEvent(mouse_event(1, 2, Mouse::None, Mouse::Moved)));
    EXPECT_TRUE(list.scroller->Focused());
}

TEST(Scroller, SelectionPastAShrunkChildWaitsForTheNextEvent) {
    ListFixture list(20);
    list.Draw(4);
    for (int i = 0; i < 15; ++i)
        list.scroller->OnEvent(Event::ArrowDown);
    list.rows = 5;
    // Rendering leaves the selection alone: the view shows rows past the list.
    EXPECT_EQ(list.Draw(4), "   \n   \n   \n  ┃");
    EXPECT_EQ(list.base->selected, 15);
    EXPECT_TRUE(list.scroller->OnEvent(Event::ArrowUp));
    EXPECT_EQ(list.base->selected, 4);
    EXPECT_EQ(list.Draw(4), "1 ┃\n2 ┃\n3 ┃\n4 ┃");
}
