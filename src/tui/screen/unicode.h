#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tui {

// UTF-8 to wide text, one wchar_t per code point. A malformed sequence becomes
// one U+FFFD for its longest valid beginning; never throws. Any thread.
std::wstring to_wstring(std::string_view utf8);

// Wide text to UTF-8. Values that are no Unicode scalar become U+FFFD. Any thread.
std::string to_string(std::wstring_view wide);

// Columns that one code point takes: 2 for wide (East Asian) characters, 0 for
// combining marks and other zero-width code points, -1 for control characters.
int codepoint_width(char32_t codepoint);

// One character cell's worth of text: a base character with its combining marks.
struct Glyph {
    std::string text;  // UTF-8
    int width = 1;     // 1 or 2 columns
};

// Splits UTF-8 text into glyphs. Control characters are dropped; combining marks
// without a base character are dropped. Any thread.
std::vector<Glyph> to_glyphs(std::string_view utf8);

// Columns the text takes on screen.
int string_width(std::string_view utf8);

}  // namespace tui
