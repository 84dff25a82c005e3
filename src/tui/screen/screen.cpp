#include "tui/screen/screen.h"

#include <algorithm>

#include "tui/screen/unicode.h"

namespace tui {

Screen::Screen(int width, int height)
    : stencil{0, std::max(width, 0) - 1, 0, std::max(height, 0) - 1},
      width_(std::max(width, 0)),
      height_(std::max(height, 0)),
      pixels_(static_cast<size_t>(width_) * height_) {}

Pixel& Screen::PixelAt(int x, int y) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_ || !stencil.Contain(x, y)) {
        scratch_ = Pixel{};
        return scratch_;
    }
    return pixels_[static_cast<size_t>(y) * width_ + x];
}

const Pixel& Screen::PixelAt(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) {
        scratch_ = Pixel{};
        return scratch_;
    }
    return pixels_[static_cast<size_t>(y) * width_ + x];
}

std::string Screen::ToString() const {
    std::string out;
    for (int y = 0; y < height_; ++y) {
        if (y > 0)
            out += '\n';
        bool covered = false;  // this cell is the right half of a wide glyph
        for (int x = 0; x < width_; ++x) {
            const std::string& glyph = PixelAt(x, y).character;
            if (glyph.empty()) {
                if (!covered)
                    out += ' ';
                covered = false;
                continue;
            }
            out += glyph;
            covered = string_width(glyph) == 2;
        }
    }
    return out;
}

void Screen::Clear() {
    std::fill(pixels_.begin(), pixels_.end(), Pixel{});
    stencil = Box{0, width_ - 1, 0, height_ - 1};
}

}  // namespace tui
