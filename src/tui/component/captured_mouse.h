#pragma once

#include <memory>

namespace tui {

// Held while a component owns the mouse; dropping it releases the mouse.
class CapturedMouseInterface {
  public:
    virtual ~CapturedMouseInterface() = default;
};
using CapturedMouse = std::unique_ptr<CapturedMouseInterface>;

// Grants the mouse to one holder at a time. Main thread only.
class MouseCapturer {
  public:
    virtual ~MouseCapturer() = default;
    // Empty while someone else holds the mouse.
    virtual CapturedMouse CaptureMouse() = 0;
};

}  // namespace tui
