#include "custom_input.h"

#include <algorithm>
#include <cstddef>
#include <utility>

#include "tui/screen/unicode.h"

using namespace tui;

namespace {

int length_of(const std::wstring& text) {
    return static_cast<int>(text.size());
}

void clamp_cursor(int& cursor, int length) {
    cursor = std::max(0, std::min(length, cursor));
}

void call(const std::function<void()>& callback) {
    if (callback)
        callback();
}

// Columns kept on either side of the cursor cell at least, whatever width the
// field had at its last redraw: more than a terminal is wide, so that a field
// that has just grown still gets all it shows.
constexpr int least_reach = 1024;

int columns_of(wchar_t character) {
    return std::max(0, codepoint_width(static_cast<char32_t>(character)));
}

// The part of the text that a frame `reach` columns wide can show around the
// cursor: at least `reach` columns on either side of the cursor cell, or up to
// the text's end. Centred on the cursor cell, the frame then shows the same as
// for the whole text, while a long paste costs no more than a short line.
struct Window {
    int first;
    int last;  // one past
};

Window window_around(const std::wstring& text, int cursor, int reach) {
    Window window{cursor, cursor};
    for (int columns = 0; window.first > 0 && columns < reach;)
        columns += columns_of(text[--window.first]);
    const int length = length_of(text);
    for (int columns = 0; window.last < length && columns <= reach;)
        columns += columns_of(text[window.last++]);
    return window;
}

// The text cut around the cursor cell, which `cell_style` marks. Put in a frame,
// a line longer than the field scrolls to keep that cell in view.
Element around_cursor(const std::wstring& shown, int cursor, const Decorator& cell_style) {
    int n = length_of(shown);
    std::wstring before = shown.substr(0, cursor);
    std::wstring at = cursor < n ? shown.substr(cursor, 1) : L" ";
    std::wstring after = cursor < n - 1 ? shown.substr(cursor + 1) : L"";
    return hbox({text(before), text(at) | cell_style, text(after)}) | flex;
}

}  // namespace

custom_WideInputBase::custom_WideInputBase(WideStringRef content_ref,
                                           ConstStringRef placeholder_ref,
                                           Ref<InputOption> option_ref)
    : content(std::move(content_ref)),
      placeholder(std::move(placeholder_ref)),
      option(std::move(option_ref)) {}

int& custom_WideInputBase::cursor_position() {
    int& from_option = *option->cursor_position;
    if (from_option != -1)
        return from_option;
    return cursor_position_internal;
}

Element custom_WideInputBase::Render() {
    int& cursor = cursor_position();
    const int length = length_of(*content);
    clamp_cursor(cursor, length);
    // Only the part around the cursor is drawn: `shown` is that part, and
    // `at` the cursor's place in it.
    const int reach = std::max(least_reach, box.x_max - box.x_min + 1) + 2;
    const bool password = *option->password;
    const Window window =
        password ? Window{std::max(0, cursor - reach), std::min(length, cursor + reach + 1)}
                 : window_around(*content, cursor, reach);
    const auto shown_length = static_cast<std::size_t>(window.last - window.first);
    const std::wstring shown = password ? std::wstring(shown_length, L'\u2022')
                                        : content->substr(window.first, shown_length);
    const int at = cursor - window.first;

    Decorator main_decorator = flex | size(HEIGHT, EQUAL, 1);
    bool focused = Focused();
    blink = !blink;

    if (shown.empty()) {
        Decorator decorator = dim | main_decorator;
        if (focused)
            decorator = decorator | focus | bold;
        decorator =
            decorator | ((hovered || focused) ? Decorator(inverted) : bgcolor(Color::GrayLight));
        Element cursor_cell = text(" ");
        if (blink)
            cursor_cell = cursor_cell | underlined;
        return hbox({cursor_cell, text(*placeholder)}) | decorator | reflect(box);
    }

    if (!focused) {
        // The same view as when focused, so that a press lands on the
        // character under the pointer.
        Element row = around_cursor(shown, at, Decorator(tui::select)) | frame | main_decorator;
        row = row | (hovered ? Decorator(inverted) : bgcolor(Color::GrayLight));
        return row | reflect(box);
    }

    Decorator cursor_cell = blink ? Decorator(underlined) : Decorator(nothing);
    cursor_cell = cursor_cell | reflect(cursor_box) | focus;
    return around_cursor(shown, at, cursor_cell) | inverted | frame | bold | main_decorator |
           reflect(box);
}

bool custom_WideInputBase::OnEvent(Event event) {
    std::wstring& text_ref = *content;
    int& cursor = cursor_position();
    clamp_cursor(cursor, length_of(text_ref));

    if (event.is_mouse())
        return OnMouseEvent(event);

    if (event == Event::Backspace) {
        if (cursor == 0)
            return false;
        text_ref.erase(cursor - 1, 1);
        cursor--;
        call(option->on_change);
        return true;
    }
    if (event == Event::Delete) {
        if (cursor == length_of(text_ref))
            return false;
        text_ref.erase(cursor, 1);
        call(option->on_change);
        return true;
    }
    if (event == Event::Return) {
        call(option->on_enter);
        return true;
    }
    if (event == Event::Custom)
        return false;
    if (event == Event::ArrowLeft && cursor > 0) {
        cursor--;
        return true;
    }
    if (event == Event::ArrowRight && cursor < length_of(text_ref)) {
        cursor++;
        return true;
    }
    if (event == Event::Home) {
        cursor = 0;
        return true;
    }
    if (event == Event::End) {
        cursor = length_of(text_ref);
        return true;
    }
    if (event.is_character()) {
        std::wstring typed = to_wstring(event.character());
        if (typed.empty())
            return false;
        text_ref.insert(static_cast<size_t>(cursor), 1, typed[0]);
        cursor++;
        call(option->on_change);
        return true;
    }
    return false;
}

bool custom_WideInputBase::OnMouseEvent(Event event) {
    const Mouse& mouse = event.mouse();
    hovered = box.Contain(mouse.x, mouse.y) && CaptureMouse(event) != nullptr;
    if (!hovered)
        return false;
    if (mouse.button != Mouse::Left || mouse.motion != Mouse::Pressed)
        return false;
    TakeFocus();
    int& cursor = cursor_position();
    int position = cursor + mouse.x - cursor_box.x_min;
    clamp_cursor(position, length_of(*content));
    if (position != cursor) {
        cursor = position;
        call(option->on_change);
    }
    return true;
}

Component custom_Input(WideStringRef content, ConstStringRef placeholder, Ref<InputOption> option) {
    return Make<custom_WideInputBase>(std::move(content), std::move(placeholder),
                                      std::move(option));
}
