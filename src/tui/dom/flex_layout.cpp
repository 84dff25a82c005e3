#include "tui/dom/flex_layout.h"

#include <algorithm>

namespace tui {
namespace {

void grow(std::vector<FlexItem>& items, int spare) {
    long weight_left = 0;
    for (const FlexItem& item : items)
        weight_left += item.flex_grow;
    for (FlexItem& item : items) {
        item.size = item.min_size;
        if (item.flex_grow <= 0 || weight_left <= 0)
            continue;
        int share = static_cast<int>(static_cast<long>(spare) * item.flex_grow / weight_left);
        item.size += share;
        spare -= share;
        weight_left -= item.flex_grow;
    }
}

// Takes `missing` cells from the items that `take_from` accepts, in proportion
// to `weight`; returns the cells it could not take.
template <typename Accept, typename Weight>
int take(std::vector<FlexItem>& items, int missing, Accept take_from, Weight weight) {
    long weight_left = 0;
    int available = 0;
    for (const FlexItem& item : items) {
        if (take_from(item)) {
            weight_left += weight(item);
            available += item.size;
        }
    }
    if (available <= missing) {
        for (FlexItem& item : items)
            if (take_from(item))
                item.size = 0;
        return missing - available;
    }
    for (FlexItem& item : items) {
        if (!take_from(item) || weight_left <= 0)
            continue;
        long w = weight(item);
        int share = static_cast<int>(static_cast<long>(missing) * w / weight_left);
        share = std::min(share, item.size);
        item.size -= share;
        missing -= share;
        weight_left -= w;
    }
    return missing;
}

}  // namespace

void distribute_space(std::vector<FlexItem>& items, int space) {
    space = std::max(space, 0);
    int needed = 0;
    for (const FlexItem& item : items)
        needed += item.min_size;
    if (needed <= space) {
        grow(items, space - needed);
        return;
    }
    for (FlexItem& item : items)
        item.size = item.min_size;
    int missing = needed - space;
    missing = take(
        items, missing, [](const FlexItem& i) { return i.flex_shrink > 0 && i.size > 0; },
        [](const FlexItem& i) { return static_cast<long>(i.flex_shrink) * i.size; });
    if (missing > 0)
        take(
            items, missing, [](const FlexItem& i) { return i.size > 0; },
            [](const FlexItem& i) { return static_cast<long>(i.size); });
}

}  // namespace tui
