#pragma once

namespace tui {

// The terminal's own default colour and the 16-colour palette, numbered as the
// terminal numbers them.
enum class Color : signed char {
    Default = -1,
    Black = 0,
    Red = 1,
    Green = 2,
    Yellow = 3,
    Blue = 4,
    Magenta = 5,
    Cyan = 6,
    GrayLight = 7,
    GrayDark = 8,
    RedLight = 9,
    GreenLight = 10,
    YellowLight = 11,
    BlueLight = 12,
    MagentaLight = 13,
    CyanLight = 14,
    White = 15,
};

}  // namespace tui
