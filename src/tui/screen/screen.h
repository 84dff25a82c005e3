#pragma once

#include <string>
#include <vector>

#include "tui/screen/box.h"
#include "tui/screen/color.h"

namespace tui {

// One character cell: its glyph and how it is drawn. A wide glyph takes two
// cells; the second holds the empty string.
struct Pixel {
    std::string character = " ";
    bool bold = false;
    bool dim = false;
    bool inverted = false;
    bool underlined = false;
    Color foreground_color = Color::Default;
    Color background_color = Color::Default;

    bool operator==(const Pixel&) const = default;
};

// A grid of cells that elements render into. Owned by one thread at a time.
class Screen {
  public:
    Screen(int width, int height);

    int dimx() const { return width_; }
    int dimy() const { return height_; }

    // The cell at (x, y). Outside the screen or the stencil it is a scratch cell,
    // so drawing there changes nothing that is shown.
    Pixel& PixelAt(int x, int y);
    const Pixel& PixelAt(int x, int y) const;

    // The glyph of the cell at (x, y), for writing a character without touching
    // its style.
    std::string& at(int x, int y) { return PixelAt(x, y).character; }

    // The text of the screen, rows joined by "\n", without styles.
    std::string ToString() const;

    // Every cell blank and unstyled; the stencil covers the whole screen again.
    void Clear();

    // Drawing is limited to this box (frames narrow it while their content renders).
    Box stencil;

  private:
    int width_;
    int height_;
    std::vector<Pixel> pixels_;
    mutable Pixel scratch_;
};

}  // namespace tui
