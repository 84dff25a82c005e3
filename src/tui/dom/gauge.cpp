#include <algorithm>
#include <array>
#include <cmath>

#include "tui/dom/elements.h"

namespace tui {
namespace {

class Gauge : public Node {
  public:
    explicit Gauge(float progress)
        : progress_(std::isfinite(progress) ? std::clamp(progress, 0.0f, 1.0f) : 0.0f) {}

    void ComputeRequirement() override {
        requirement_ = Requirement{};
        requirement_.min_x = 1;
        requirement_.min_y = 1;
        requirement_.flex_grow_x = requirement_.flex_shrink_x = 1;
    }

    void Render(Screen& screen) override {
        if (box_.IsEmpty())
            return;
        static constexpr std::array<const char*, 8> partial{"", "▏", "▎", "▍", "▌", "▋", "▊", "▉"};
        int width = box_.x_max - box_.x_min + 1;
        int eighths = static_cast<int>(std::lround(progress_ * width * 8));
        for (int i = 0; i < width; ++i) {
            int filled = std::clamp(eighths - i * 8, 0, 8);
            std::string glyph = filled == 8 ? "█" : filled == 0 ? " " : partial[filled];
            screen.at(box_.x_min + i, box_.y_min) = glyph;
        }
    }

  private:
    float progress_;
};

}  // namespace

Element gauge(float progress) {
    return std::make_shared<Gauge>(progress);
}

}  // namespace tui
