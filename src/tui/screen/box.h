#pragma once

namespace tui {

// A rectangle of screen cells, bounds included. An empty box has min > max.
struct Box {
    int x_min = 0;
    int x_max = 0;
    int y_min = 0;
    int y_max = 0;

    static Box Intersection(Box a, Box b);
    bool Contain(int x, int y) const;
    bool IsEmpty() const { return x_min > x_max || y_min > y_max; }
    bool operator==(const Box&) const = default;
};

}  // namespace tui
