#pragma once

#include "tui/dom/node.h"

namespace tui {

// The members of Requirement and Box along one axis.
struct Axis {
    int Requirement::*min;
    int Requirement::*flex_grow;
    int Requirement::*flex_shrink;
    int Box::*low;
    int Box::*high;
};

inline constexpr Axis kHorizontal{&Requirement::min_x, &Requirement::flex_grow_x,
                                  &Requirement::flex_shrink_x, &Box::x_min, &Box::x_max};
inline constexpr Axis kVertical{&Requirement::min_y, &Requirement::flex_grow_y,
                                &Requirement::flex_shrink_y, &Box::y_min, &Box::y_max};

// The children one after the other along `along`, each as wide across as the
// widest: hbox along the horizontal axis, vbox along the vertical one.
Element stacked(Elements children, const Axis& along, const Axis& across);

}  // namespace tui
