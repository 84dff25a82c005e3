#include <algorithm>
#include <utility>

#include "tui/dom/elements.h"

namespace tui {
namespace {

// Only the lines that the stencil lets through are built, at render time, so
// that a column of a million lines in a frame costs what its view shows.
class LinesOnDemand : public Node {
  public:
    LinesOnDemand(int lines, LineBuilder build)
        : lines_(std::max(lines, 0)), build_(std::move(build)) {}

    void ComputeRequirement() override {
        requirement_ = Requirement{};
        requirement_.min_y = lines_;
    }

    void Render(Screen& screen) override {
        Box shown = Box::Intersection(box_, screen.stencil);
        if (shown.IsEmpty() || lines_ == 0)
            return;
        const int first = shown.y_min - box_.y_min;
        const int last = std::min(shown.y_max - box_.y_min, lines_ - 1);
        if (first > last)
            return;
        Element part = build_(first, last);
        if (!part)
            return;
        part->ComputeRequirement();
        Box place = box_;
        place.y_min = box_.y_min + first;
        place.y_max = box_.y_min + last;
        part->SetBox(place);
        part->Render(screen);
    }

  private:
    int lines_;
    LineBuilder build_;
};

}  // namespace

Element lines_on_demand(int lines, LineBuilder build) {
    return std::make_shared<LinesOnDemand>(lines, std::move(build));
}

}  // namespace tui
