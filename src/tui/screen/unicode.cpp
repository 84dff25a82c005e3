#include "tui/screen/unicode.h"

#include <array>
#include <utility>

namespace tui {
namespace {

static_assert(sizeof(wchar_t) == 4, "wide strings hold one code point per character");

constexpr char32_t replacement = 0xFFFD;

bool is_scalar(char32_t c) {
    return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
}

// Decodes one code point at `pos`, advancing it. A malformed sequence gives
// one U+FFFD for its longest valid beginning (the "maximal subpart"), so a
// cut-short character counts as one, wherever the text is measured or shown.
char32_t decode_one(std::string_view text, size_t& pos) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    if (lead < 0x80) {
        ++pos;
        return lead;
    }
    // The allowed range of the second byte keeps out overlong forms, UTF-16
    // surrogates and values above U+10FFFF.
    size_t length = 0;
    char32_t value = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, value = lead & 0x0F;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, value = lead & 0x07;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        ++pos;
        return replacement;
    }
    size_t taken = 1;
    for (; taken < length && pos + taken < text.size(); ++taken) {
        const auto next = static_cast<unsigned char>(text[pos + taken]);
        if (next < (taken == 1 ? low : 0x80) || next > (taken == 1 ? high : 0xBF))
            break;
        value = (value << 6) | (next & 0x3F);
    }
    pos += taken;
    return taken < length ? replacement : value;
}

void encode_one(char32_t c, std::string& out) {
    if (!is_scalar(c))
        c = replacement;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

using Range = std::pair<char32_t, char32_t>;

constexpr std::array zero_width{
    Range{0x0300, 0x036F}, Range{0x0483, 0x0489}, Range{0x0591, 0x05BD}, Range{0x0610, 0x061A},
    Range{0x064B, 0x065F}, Range{0x0E31, 0x0E31}, Range{0x0E34, 0x0E3A}, Range{0x1AB0, 0x1AFF},
    Range{0x1DC0, 0x1DFF}, Range{0x200B, 0x200F}, Range{0x2028, 0x202E}, Range{0x2060, 0x2064},
    Range{0x20D0, 0x20FF}, Range{0xFE00, 0xFE0F}, Range{0xFE20, 0xFE2F}, Range{0xFEFF, 0xFEFF},
};

constexpr std::array double_width{
    Range{0x1100, 0x115F},   Range{0x231A, 0x231B},   Range{0x2329, 0x232A},
    Range{0x23E9, 0x23EC},   Range{0x2614, 0x2615},   Range{0x2648, 0x2653},
    Range{0x26AA, 0x26AB},   Range{0x26BD, 0x26BE},   Range{0x26C4, 0x26C5},
    Range{0x2705, 0x2705},   Range{0x270A, 0x270B},   Range{0x2728, 0x2728},
    Range{0x274C, 0x274C},   Range{0x2753, 0x2755},   Range{0x2795, 0x2797},
    Range{0x2E80, 0x303E},   Range{0x3041, 0x33FF},   Range{0x3400, 0x4DBF},
    Range{0x4E00, 0x9FFF},   Range{0xA000, 0xA4CF},   Range{0xA960, 0xA97F},
    Range{0xAC00, 0xD7A3},   Range{0xF900, 0xFAFF},   Range{0xFE10, 0xFE19},
    Range{0xFE30, 0xFE6F},   Range{0xFF00, 0xFF60},   Range{0xFFE0, 0xFFE6},
    Range{0x1F300, 0x1F64F}, Range{0x1F680, 0x1F6FF}, Range{0x1F900, 0x1F9FF},
    Range{0x20000, 0x2FFFD}, Range{0x30000, 0x3FFFD},
};

template <size_t N>
bool in_ranges(const std::array<Range, N>& ranges, char32_t c) {
    for (const auto& [first, last] : ranges) {
        if (c < first)
            return false;
        if (c <= last)
            return true;
    }
    return false;
}

}  // namespace

std::wstring to_wstring(std::string_view utf8) {
    std::wstring out;
    out.reserve(utf8.size());
    size_t pos = 0;
    while (pos < utf8.size())
        out += static_cast<wchar_t>(decode_one(utf8, pos));
    return out;
}

std::string to_string(std::wstring_view wide) {
    std::string out;
    out.reserve(wide.size());
    for (wchar_t c : wide)
        encode_one(static_cast<char32_t>(c), out);
    return out;
}

int codepoint_width(char32_t c) {
    if (c < 0x20 || (c >= 0x7F && c < 0xA0))
        return -1;
    if (c < 0x300)
        return 1;
    if (in_ranges(zero_width, c))
        return 0;
    if (in_ranges(double_width, c))
        return 2;
    return 1;
}

std::vector<Glyph> to_glyphs(std::string_view utf8) {
    std::vector<Glyph> glyphs;
    size_t pos = 0;
    while (pos < utf8.size()) {
        size_t start = pos;
        char32_t c = decode_one(utf8, pos);
        int width = codepoint_width(c);
        if (width < 0)
            continue;
        if (width == 0) {
            if (!glyphs.empty())
                encode_one(c, glyphs.back().text);
            continue;
        }
        Glyph glyph;
        glyph.width = width;
        if (c == replacement)
            encode_one(c, glyph.text);
        else
            glyph.text.assign(utf8.substr(start, pos - start));
        glyphs.push_back(std::move(glyph));
    }
    return glyphs;
}

int string_width(std::string_view utf8) {
    int width = 0;
    for (const Glyph& glyph : to_glyphs(utf8))
        width += glyph.width;
    return width;
}

}  // namespace tui
