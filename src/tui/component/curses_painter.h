#pragma once

#include <map>
#include <utility>

#include "tui/screen/screen.h"

namespace tui {

// Copies a Screen into ncurses' window and shows it; ncurses then sends only
// the cells that changed. Main thread, inside a TerminalSession.
class CursesPainter {
  public:
    void Paint(const Screen& screen);

  private:
    // The colour pair for the two colours, made on first use; 0 when the
    // terminal has no pair left.
    int PairFor(Color foreground, Color background);

    std::map<std::pair<int, int>, int> pairs_;
    int next_pair_ = 1;
};

}  // namespace tui
