#include <curses.h>
#include <gtest/gtest.h>

#include "tui/key_decoder.h"

using namespace tui;

TEST(TuiKeyDecoder, KeyCodesBecomeSpecialEvents) {
    struct Case {
        int code;
        Event event;
    };
    const Case cases[] = {
        {KEY_UP, Event::ArrowUp},
        {KEY_DOWN, Event::ArrowDown},
        {KEY_LEFT, Event::ArrowLeft},
        {KEY_RIGHT, Event::ArrowRight},
        {KEY_HOME, Event::Home},
        {KEY_FIND, Event::Home},
        {KEY_END, Event::End},
        {KEY_SELECT, Event::End},
        {KEY_PPAGE, Event::PageUp},
        {KEY_NPAGE, Event::PageDown},
        {KEY_BACKSPACE, Event::Backspace},
        {KEY_DC, Event::Delete},
        {KEY_ENTER, Event::Return},
        {KEY_BTAB, Event::TabReverse},
    };
    for (const Case& c : cases) {
        auto event = event_from_key(KEY_CODE_YES, c.code);
        ASSERT_TRUE(event.has_value()) << c.code;
        EXPECT_EQ(*event, c.event) << c.code;
    }
    EXPECT_FALSE(event_from_key(KEY_CODE_YES, KEY_F(5)).has_value());
    EXPECT_FALSE(event_from_key(ERR, 'a').has_value());
}

TEST(TuiKeyDecoder, CharactersAndControlBytes) {
    EXPECT_EQ(*event_from_key(OK, 'a'), Event::Character("a"));
    EXPECT_EQ(*event_from_key(OK, 0x4E2D), Event::Character("中"));
    EXPECT_EQ(*event_from_key(OK, '\t'), Event::Tab);
    EXPECT_EQ(*event_from_key(OK, '\r'), Event::Return);
    EXPECT_EQ(*event_from_key(OK, '\n'), Event::Return);
    EXPECT_EQ(*event_from_key(OK, 0x7F), Event::Backspace);
    EXPECT_EQ(*event_from_key(OK, 0x08), Event::Backspace);
    EXPECT_EQ(*event_from_key(OK, 0x1B), Event::Escape);
    // Other control bytes and values that are no character mean nothing.
    for (std::uint32_t code : {0x01u, 0x03u, 0x9Bu, 0xD800u, 0x110000u})
        EXPECT_FALSE(event_from_key(OK, code).has_value()) << code;
    // A character event is not a special key of the same name.
    EXPECT_FALSE(Event::Character("Tab") == Event::Tab);
}

TEST(TuiKeyDecoder, MouseReports) {
    struct Case {
        mmask_t state;
        Mouse::Button button;
        Mouse::Motion motion;
    };
    const Case cases[] = {
        {BUTTON1_PRESSED, Mouse::Left, Mouse::Pressed},
        {BUTTON1_RELEASED, Mouse::Left, Mouse::Released},
        {BUTTON1_CLICKED, Mouse::Left, Mouse::Pressed},
        {BUTTON2_PRESSED, Mouse::Middle, Mouse::Pressed},
        {BUTTON3_PRESSED, Mouse::Right, Mouse::Pressed},
        {BUTTON3_RELEASED, Mouse::Right, Mouse::Released},
        {BUTTON4_PRESSED, Mouse::WheelUp, Mouse::Pressed},
        {BUTTON5_PRESSED, Mouse::WheelDown, Mouse::Pressed},
        {REPORT_MOUSE_POSITION, Mouse::None, Mouse::Moved},
        {REPORT_MOUSE_POSITION | BUTTON1_PRESSED, Mouse::Left, Mouse::Moved},
    };
    for (const Case& c : cases) {
        auto event = event_from_mouse(c.state, 7, 3);
        ASSERT_TRUE(event.has_value()) << c.state;
        ASSERT_TRUE(event->is_mouse());
        EXPECT_EQ(event->mouse().button, c.button) << c.state;
        EXPECT_EQ(event->mouse().motion, c.motion) << c.state;
        EXPECT_EQ(event->mouse().x, 7);
        EXPECT_EQ(event->mouse().y, 3);
    }
    auto shifted = event_from_mouse(BUTTON1_PRESSED | BUTTON_SHIFT | BUTTON_CTRL, 0, 0);
    EXPECT_TRUE(shifted->mouse().shift && shifted->mouse().control);
    EXPECT_FALSE(shifted->mouse().meta);
    EXPECT_FALSE(event_from_mouse(0, 1, 1).has_value());
}
