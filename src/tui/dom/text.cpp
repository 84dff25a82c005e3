#include <utility>

#include "tui/dom/elements.h"
#include "tui/screen/unicode.h"

namespace tui {
namespace {

class Text : public Node {
  public:
    explicit Text(std::string utf8) : glyphs_(to_glyphs(utf8)) {}

    void ComputeRequirement() override {
        int width = 0;
        for (const Glyph& glyph : glyphs_)
            width += glyph.width;
        requirement_ = Requirement{};
        requirement_.min_x = width;
        requirement_.min_y = 1;
    }

    void Render(Screen& screen) override {
        if (box_.IsEmpty())
            return;
        int x = box_.x_min;
        for (const Glyph& glyph : glyphs_) {
            // A glyph that would stick out of the box is not drawn at all.
            if (x + glyph.width - 1 > box_.x_max)
                break;
            screen.at(x, box_.y_min) = glyph.text;
            if (glyph.width == 2)
                screen.at(x + 1, box_.y_min).clear();
            x += glyph.width;
        }
    }

  private:
    std::vector<Glyph> glyphs_;
};

}  // namespace

Element text(std::string utf8) {
    return std::make_shared<Text>(std::move(utf8));
}

Element text(std::wstring wide) {
    return std::make_shared<Text>(to_string(wide));
}

}  // namespace tui
