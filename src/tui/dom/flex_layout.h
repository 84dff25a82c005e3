#pragma once

#include <vector>

namespace tui {

// One child's wishes along the axis a box lays its children out on.
struct FlexItem {
    int min_size = 0;
    int flex_grow = 0;
    int flex_shrink = 0;
    int size = 0;  // the result
};

// Shares `space` cells out: every item gets its minimum; spare cells go to the
// growing items by weight, a shortfall is taken from the shrinking items first
// (in proportion to weight times size) and then from all items.
void distribute_space(std::vector<FlexItem>& items, int space);

}  // namespace tui
