#include <gtest/gtest.h>

#include "tui/screen/unicode.h"

using namespace tui;

TEST(TuiUnicode, RoundTripsValidText) {
    for (std::string text : {"", "kick", "héllo", "中文", "🥁 drum", "a\u0301"}) {
        std::wstring wide = to_wstring(text);
        EXPECT_EQ(to_string(wide), text) << text;
    }
    EXPECT_EQ(to_wstring("中文").size(), 2u);
    EXPECT_EQ(to_wstring("🥁").size(), 1u);
}

TEST(TuiUnicode, MalformedInputBecomesReplacementCharacters) {
    struct Case {
        std::string bytes;
        std::wstring wide;
    };
    const Case cases[] = {
        // A cut-short sequence is one character, wherever it stands.
        {"\xC3", L"\uFFFD"},
        {"\xE2\x82", L"\uFFFD"},
        {"a\xE4\xB8", L"a\uFFFD"},
        {"a\xF0\x9F\x98", L"a\uFFFD"},
        {"\xE2\x82x\xE2\x82", L"\uFFFDx\uFFFD"},
        {"\xF0\x9F\x98\xF0\x9F\xA5\x81", L"\uFFFD\U0001F941"},  // a whole one follows
        {"\xC0\xAF", L"\uFFFD\uFFFD"},                          // overlong "/"
        {"\xED\xA0\x80", L"\uFFFD\uFFFD\uFFFD"},                // UTF-16 surrogate
        {"\xF4\x90\x80\x80", L"\uFFFD\uFFFD\uFFFD\uFFFD"},      // above U+10FFFF
        {"\x80x", L"\uFFFDx"},                                  // stray continuation byte
        {"\xFFok", L"\uFFFDok"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(to_wstring(c.bytes), c.wide);
        // The screen measures it as it converts it.
        EXPECT_EQ(string_width(c.bytes), string_width(to_string(c.wide)));
    }

    std::wstring bad = {L'a', static_cast<wchar_t>(0xD800), static_cast<wchar_t>(0x110000)};
    EXPECT_EQ(to_string(bad), "a\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(TuiUnicode, GlyphsTakeTheirRealWidth) {
    EXPECT_EQ(string_width("abc"), 3);
    EXPECT_EQ(string_width("中文"), 4);
    EXPECT_EQ(string_width("e\u0301"), 1);  // combining accent joins its base
    EXPECT_EQ(string_width("a\tb\n"), 2);   // control characters take no cell
    auto glyphs = to_glyphs("e\u0301中");
    ASSERT_EQ(glyphs.size(), 2u);
    EXPECT_EQ(glyphs[0].text, "e\u0301");
    EXPECT_EQ(glyphs[1].width, 2);
}
