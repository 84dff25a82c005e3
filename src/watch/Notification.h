#pragma once

#include <string>

namespace watch {

using WatchID = long;

namespace Actions {
enum Action { Add = 1, Delete = 2, Modified = 3, Moved = 4 };
}

class FileWatchListener;

// One event, ready for the listener of watch `watch_id`.
struct Notification {
    WatchID watch_id;
    std::string dir;  // ends with "/"
    std::string filename;
    Actions::Action action;
    std::string old_filename;  // moves only
    // Events of the watch were lost: `dir` is its root, `filename` and `action` say nothing.
    bool missed = false;
};

}  // namespace watch
