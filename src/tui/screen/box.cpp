#include "tui/screen/box.h"

#include <algorithm>

namespace tui {

Box Box::Intersection(Box a, Box b) {
    return Box{std::max(a.x_min, b.x_min), std::min(a.x_max, b.x_max), std::max(a.y_min, b.y_min),
               std::min(a.y_max, b.y_max)};
}

bool Box::Contain(int x, int y) const {
    return x_min <= x && x <= x_max && y_min <= y && y <= y_max;
}

}  // namespace tui
