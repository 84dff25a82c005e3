#include "custom_input.h"

#include <algorithm>
#include <utility>

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
    std::wstring shown = *option->password ? std::wstring(content->size(), L'\u2022') : *content;
    int& cursor = cursor_position();
    clamp_cursor(cursor, length_of(shown));

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
        Element row = around_cursor(shown, cursor, Decorator(tui::select)) | frame | main_decorator;
        row = row | (hovered ? Decorator(inverted) : bgcolor(Color::GrayLight));
        return row | reflect(box);
    }

    Decorator cursor_cell = blink ? Decorator(underlined) : Decorator(nothing);
    cursor_cell = cursor_cell | reflect(cursor_box) | focus;
    return around_cursor(shown, cursor, cursor_cell) | inverted | frame | bold | main_decorator |
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
