#include "tui/component/curses_painter.h"

#include <curses.h>

#include "tui/screen/unicode.h"

namespace tui {
namespace {

// The terminal's number for a palette colour; terminals with 8 colours show the
// light half as their dark counterparts.
int curses_color(Color color) {
    int index = static_cast<int>(color);
    if (index < 0)
        return -1;
    if (COLORS < 16)
        return index % 8;
    return index;
}

}  // namespace

int CursesPainter::PairFor(Color foreground, Color background) {
    if (!has_colors())
        return 0;
    if (foreground == Color::Default && background == Color::Default)
        return 0;
    auto key = std::make_pair(static_cast<int>(foreground), static_cast<int>(background));
    auto found = pairs_.find(key);
    if (found != pairs_.end())
        return found->second;
    if (next_pair_ >= COLOR_PAIRS)
        return 0;
    int pair = next_pair_++;
    init_extended_pair(pair, curses_color(foreground), curses_color(background));
    pairs_.emplace(key, pair);
    return pair;
}

void CursesPainter::Paint(const Screen& screen) {
    int width = std::min(screen.dimx(), COLS);
    int height = std::min(screen.dimy(), LINES);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Pixel& pixel = screen.PixelAt(x, y);
            if (pixel.character.empty())
                continue;  // the right half of a wide glyph
            std::wstring glyph = to_wstring(pixel.character);
            if (glyph.empty() || codepoint_width(static_cast<char32_t>(glyph[0])) < 0)
                glyph = L" ";
            if (glyph.size() > CCHARW_MAX)
                glyph.resize(CCHARW_MAX);
            attr_t attributes = A_NORMAL;
            if (pixel.bold)
                attributes |= A_BOLD;
            if (pixel.dim)
                attributes |= A_DIM;
            if (pixel.inverted)
                attributes |= A_REVERSE;
            if (pixel.underlined)
                attributes |= A_UNDERLINE;
            if (COLORS < 16 && static_cast<int>(pixel.foreground_color) >= 8)
                attributes |= A_BOLD;
            int pair = PairFor(pixel.foreground_color, pixel.background_color);
            cchar_t cell;
            setcchar(&cell, glyph.c_str(), attributes, 0, &pair);
            mvadd_wch(y, x, &cell);
        }
    }
    wnoutrefresh(stdscr);
    doupdate();
}

}  // namespace tui
