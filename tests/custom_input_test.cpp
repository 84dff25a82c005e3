#include <gtest/gtest.h>

#include "custom_input.h"
#include "tui_events.h"

using namespace tui;

namespace {

struct InputFixture {
    InputFixture() {
        option.on_change = [this] { ++changes; };
        option.on_enter = [this] { ++enters; };
        input = custom_Input(&content, "", &option);
        base = static_cast<custom_WideInputBase*>(input.get());
    }

    // Draws the field on one row of `width` cells.
    Screen Draw(int width = 10) {
        Screen screen(width, 1);
        Render(screen, input->Render());
        return screen;
    }

    // Puts the field second in a column, so that it does not have the focus.
    void Unfocus() {
        other = Checkbox("x", &flag);
        column = Container::Vertical({other, input});
    }

    std::wstring content;
    InputOption option;
    Component input;
    custom_WideInputBase* base = nullptr;
    int changes = 0;
    int enters = 0;
    bool flag = false;
    Component other;
    Component column;
};

using quarn_test::mouse_event;

Event press(int x, int y) {
    return mouse_event(x, y, Mouse::Left, Mouse::Pressed);
}

}  // namespace

TEST(CustomInput, EmptyFieldShowsABlinkingBlankCell) {
    InputFixture field;
    field.Unfocus();
    Screen first = field.Draw();
    EXPECT_EQ(first.ToString(), "          ");
    const Pixel& cell = first.PixelAt(0, 0);
    EXPECT_TRUE(cell.dim);
    EXPECT_EQ(cell.background_color, Color::GrayLight);
    EXPECT_FALSE(cell.inverted);
    EXPECT_FALSE(cell.bold);
    EXPECT_TRUE(cell.underlined);  // blink turns on at the first render
    EXPECT_FALSE(first.PixelAt(1, 0).underlined);
    EXPECT_FALSE(field.Draw().PixelAt(0, 0).underlined);
    EXPECT_TRUE(field.Draw().PixelAt(0, 0).underlined);

    InputFixture focused;
    Screen screen = focused.Draw();
    EXPECT_TRUE(screen.PixelAt(0, 0).inverted);
    EXPECT_TRUE(screen.PixelAt(0, 0).bold);
    EXPECT_TRUE(screen.PixelAt(9, 0).dim);  // the whole row, the cell is flexible
    EXPECT_EQ(screen.PixelAt(0, 0).background_color, Color::Default);
}

TEST(CustomInput, PlaceholderFollowsTheCursorCell) {
    std::wstring content;
    InputOption option;
    auto input = custom_Input(&content, "type here", &option);
    Screen screen(12, 1);
    Render(screen, input->Render());
    EXPECT_EQ(screen.ToString(), " type here  ");
}

TEST(CustomInput, UnfocusedTextSitsOnGreyUnlessHovered) {
    InputFixture field;
    field.content = L"kick";
    field.Unfocus();
    Screen screen = field.Draw();
    EXPECT_EQ(screen.ToString(), "kick      ");
    EXPECT_EQ(screen.PixelAt(0, 0).background_color, Color::GrayLight);
    EXPECT_FALSE(screen.PixelAt(0, 0).inverted);
    // Motion over the field hovers it (and is not used).
    EXPECT_FALSE(field.input->OnEvent(mouse_event(2, 0, Mouse::None, Mouse::Moved)));
    EXPECT_TRUE(field.base->hovered);
    screen = field.Draw();
    EXPECT_TRUE(screen.PixelAt(0, 0).inverted);
    EXPECT_EQ(screen.PixelAt(0, 0).background_color, Color::Default);
    EXPECT_FALSE(field.input->OnEvent(mouse_event(20, 5, Mouse::None, Mouse::Moved)));
    EXPECT_FALSE(field.base->hovered);
}

TEST(CustomInput, CursorCellAtTheEndIsABlankAfterTheText) {
    InputFixture field;
    field.content = L"abc";
    field.input->OnEvent(Event::End);
    Screen screen = field.Draw();
    EXPECT_EQ(screen.ToString(), "abc       ");
    EXPECT_TRUE(screen.PixelAt(3, 0).underlined);
    EXPECT_TRUE(screen.PixelAt(0, 0).inverted && screen.PixelAt(0, 0).bold);
    EXPECT_EQ(field.base->cursor_box, (Box{3, 3, 0, 0}));

    field.input->OnEvent(Event::ArrowLeft);  // on the last character
    screen = field.Draw();                   // blink off this time
    EXPECT_EQ(screen.ToString(), "abc       ");
    EXPECT_FALSE(screen.PixelAt(2, 0).underlined);
    screen = field.Draw();
    EXPECT_TRUE(screen.PixelAt(2, 0).underlined);
    EXPECT_EQ(field.base->cursor_box, (Box{2, 2, 0, 0}));
}

TEST(CustomInput, ALineLongerThanTheFieldKeepsTheCursorCellInView) {
    InputFixture field;
    field.content = L"abcdefghijklmno";  // 15 characters in a field of 10
    field.input->OnEvent(Event::End);
    Screen screen = field.Draw();
    EXPECT_EQ(screen.ToString(), "ghijklmno ");  // the end, and the cursor cell after it
    EXPECT_TRUE(screen.PixelAt(9, 0).underlined);
    EXPECT_TRUE(screen.PixelAt(0, 0).inverted && screen.PixelAt(0, 0).bold);
    EXPECT_EQ(field.base->cursor_box, (Box{9, 9, 0, 0}));

    // A press lands on the character under the pointer of the scrolled view.
    EXPECT_TRUE(field.input->OnEvent(press(2, 0)));
    EXPECT_EQ(field.base->cursor_position(), 8);  // "i"
    field.input->OnEvent(Event::Home);
    EXPECT_EQ(field.Draw().ToString(), "abcdefghij");

    // Unfocused, the field keeps the view it had, so a press there lands on
    // the character under the pointer too.
    field.input->OnEvent(Event::End);
    field.Draw();
    field.Unfocus();
    EXPECT_EQ(field.Draw().ToString(), "ghijklmno ");
    EXPECT_TRUE(field.column->OnEvent(press(1, 0)));
    EXPECT_TRUE(field.input->Focused());
    EXPECT_EQ(field.base->cursor_position(), 7);  // "h"
    screen = field.Draw();
    EXPECT_EQ(screen.PixelAt(field.base->cursor_box.x_min, 0).character, "h");
}

TEST(CustomInput, EditingKeys) {
    InputFixture field;
    auto& in = field.input;
    EXPECT_TRUE(in->OnEvent(Event::Character("a")));
    EXPECT_TRUE(in->OnEvent(Event::Character("中文")));  // only the first character
    EXPECT_TRUE(in->OnEvent(Event::Character("c")));
    EXPECT_EQ(field.content, L"a中c");
    EXPECT_EQ(field.changes, 3);
    EXPECT_TRUE(in->OnEvent(Event::ArrowLeft));
    EXPECT_TRUE(in->OnEvent(Event::Backspace));
    EXPECT_EQ(field.content, L"ac");
    EXPECT_TRUE(in->OnEvent(Event::Delete));
    EXPECT_EQ(field.content, L"a");
    EXPECT_EQ(field.changes, 5);

    // Nothing to do: false, nothing changes, on_change not called.
    EXPECT_FALSE(in->OnEvent(Event::Delete));
    EXPECT_FALSE(in->OnEvent(Event::ArrowRight));
    EXPECT_TRUE(in->OnEvent(Event::Home));
    EXPECT_TRUE(in->OnEvent(Event::Home));
    EXPECT_FALSE(in->OnEvent(Event::Backspace));
    EXPECT_FALSE(in->OnEvent(Event::ArrowLeft));
    EXPECT_TRUE(in->OnEvent(Event::End));
    EXPECT_TRUE(in->OnEvent(Event::End));
    EXPECT_FALSE(in->OnEvent(Event::Custom));
    EXPECT_FALSE(in->OnEvent(Event::Tab));
    EXPECT_FALSE(in->OnEvent(Event::Character("")));  // nothing to insert
    EXPECT_EQ(field.content, L"a");
    EXPECT_EQ(field.changes, 5);  // moving the cursor never counts as a change
}

TEST(CustomInput, ReturnCallsOnEnterEvenWhenEmpty) {
    InputFixture field;
    EXPECT_TRUE(field.input->OnEvent(Event::Return));
    field.content = L"bpm 90";
    EXPECT_TRUE(field.input->OnEvent(Event::Return));
    EXPECT_EQ(field.enters, 2);
    EXPECT_EQ(field.content, L"bpm 90");
}

TEST(CustomInput, CursorLivesInTheOptionOnceItIsNotMinusOne) {
    InputFixture field;
    field.content = L"abc";
    field.input->OnEvent(Event::End);
    EXPECT_EQ(*field.option.cursor_position, -1);  // the input's own cursor moved
    EXPECT_EQ(field.base->cursor_position_internal, 3);

    field.content = L"hello";
    field.option.cursor_position = 5;  // the caller takes the cursor over
    field.input->OnEvent(Event::ArrowLeft);
    EXPECT_EQ(*field.option.cursor_position, 4);
    field.input->OnEvent(Event::Character("X"));
    EXPECT_EQ(field.content, L"hellXo");
    EXPECT_EQ(*field.option.cursor_position, 5);

    // Out of range values are clamped before use, and -5 is a position, not "unset".
    field.option.cursor_position = -5;
    field.input->OnEvent(Event::Custom);
    EXPECT_EQ(*field.option.cursor_position, 0);
    field.option.cursor_position = 99;
    field.Draw();
    EXPECT_EQ(*field.option.cursor_position, 6);

    // The caller shortening the text is also caught before the cursor is used.
    field.content = L"ab";
    EXPECT_TRUE(field.input->OnEvent(Event::Backspace));
    EXPECT_EQ(field.content, L"a");
}

TEST(CustomInput, LeftPressMovesTheCursorByItsDistanceToTheCursorCell) {
    InputFixture field;
    field.content = L"abcdef";
    field.input->OnEvent(Event::End);
    field.Draw();  // cursor cell at column 6
    EXPECT_TRUE(field.input->OnEvent(press(2, 0)));
    EXPECT_EQ(field.base->cursor_position(), 2);
    EXPECT_EQ(field.changes, 1);
    field.Draw();
    EXPECT_TRUE(field.input->OnEvent(press(2, 0)));  // already there: used, no change
    EXPECT_EQ(field.changes, 1);
    EXPECT_TRUE(field.input->OnEvent(press(9, 0)));  // past the text: clamped
    EXPECT_EQ(field.base->cursor_position(), 6);
}

TEST(CustomInput, PressOnAnUnfocusedFieldUsesTheLastCursorCell) {
    InputFixture field;
    field.content = L"abcdef";
    field.Unfocus();
    field.Draw();  // unfocused: no cursor cell drawn, cursor_box stays at column 0
    EXPECT_EQ(field.base->cursor_box, Box{});
    EXPECT_TRUE(field.column->OnEvent(press(4, 0)));
    EXPECT_TRUE(field.input->Focused());
    EXPECT_EQ(field.base->cursor_position(), 4);
}

TEST(CustomInput, OtherMouseEventsOnlyUpdateHover) {
    InputFixture field;
    field.content = L"abc";
    field.Draw();
    for (auto [button, motion] :
         {std::pair{Mouse::Left, Mouse::Released}, std::pair{Mouse::Right, Mouse::Pressed},
          std::pair{Mouse::Middle, Mouse::Pressed}, std::pair{Mouse::WheelUp, Mouse::Pressed},
          std::pair{Mouse::WheelDown, Mouse::Pressed}, std::pair{Mouse::None, Mouse::Moved}}) {
        EXPECT_FALSE(field.input->OnEvent(mouse_event(1, 0, button, motion)));
        EXPECT_TRUE(field.base->hovered);
    }
    EXPECT_EQ(field.base->cursor_position(), 0);
    EXPECT_EQ(field.changes, 0);
}

TEST(CustomInput, PasswordShowsBullets) {
    InputFixture field;
    field.content = L"secret";
    field.option.password = true;
    field.Unfocus();
    EXPECT_EQ(field.Draw(8).ToString(), "••••••  ");
}

TEST(CustomInput, ALongPasteIsBuiltOnlyAroundTheCursor) {
    InputFixture field;
    const int length = 200000;
    for (int i = 0; i < length; ++i)
        field.content += static_cast<wchar_t>(L'0' + i % 10);
    struct View {
        int cursor;
        const char* shown;
    };
    // The same views as for a short line: the cursor cell centred, the ends
    // not scrolled past.
    const View views[] = {
        {0, "0123456789"},
        {100000, "6789012345"},
        {length - 5, "0123456789"},
        {length, "123456789 "},
    };
    for (const View& view : views) {
        field.base->cursor_position() = view.cursor;
        EXPECT_EQ(field.Draw().ToString(), view.shown) << view.cursor;
        Element element = field.input->Render();
        element->ComputeRequirement();
        EXPECT_LT(element->requirement().min_x, length / 10) << view.cursor;
    }
    // A press lands on the character under the pointer there too.
    field.base->cursor_position() = 100000;
    field.Draw();
    EXPECT_TRUE(field.input->OnEvent(press(2, 0)));
    EXPECT_EQ(field.base->cursor_position(), 99998);

    field.option.password = true;
    field.input->OnEvent(Event::End);
    EXPECT_EQ(field.Draw().ToString(), "••••••••• ");
}
