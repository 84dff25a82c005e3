#pragma once

#include <chrono>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "watch/FolderId.h"
#include "watch/Notification.h"

namespace watch {

// What one listing tells about an entry: enough to see that it changed,
// and its inode to see that it was renamed.
struct EntryStat {
    bool is_folder;
    dev_t device;
    ino_t inode;
    off_t size;
    long long modified_ns;
};

// Entries by their path below the listed folder ("kick.wav", "sub/hh.wav").
using Listing = std::map<std::string, EntryStat>;

// Lists `root` (ends with "/"), with the folders below it when `recursive`;
// links are not followed, and the contents of folders in `skip` are left out.
// Missing or unreadable folders list as empty. Any thread.
Listing list_tree(const std::string& root, bool recursive, const std::set<FolderId>& skip);

// The watches that are followed by listing their folders, and what each
// listing held. A file that appears or changes is reported once two listings
// in a row agree on it, so a file still being written is not reported until
// it rests; an inode found under a new name in the same folder is a move.
// Not thread-safe: FileWatcher guards it with its state lock.
class PollingTable {
  public:
    static constexpr std::chrono::milliseconds interval{500};

    struct Watch {
        std::string root;  // ends with "/"
        FileWatchListener* listener;
        bool recursive;
        FolderId root_id;
    };

    // `baseline` is what the listener is taken to know already.
    void add_watch(WatchID watch_id, Watch watch, const Listing& baseline);
    void remove_watch(WatchID watch_id);
    const Watch* find_watch(WatchID watch_id) const;
    bool empty() const { return watches.empty(); }
    std::vector<std::pair<WatchID, Watch>> all_watches() const;
    // The folder is the root of a watch or a folder listed inside one.
    bool holds(const FolderId& folder) const;

    // Compares a new listing of the watch with the last one and reports the
    // differences; a removed watch is ignored.
    void update(WatchID watch_id, const Listing& fresh, std::vector<Notification>& out);

  private:
    struct Entry {
        EntryStat stat;
        bool announced;  // the listener was told that it exists
        bool settling;   // changed since the last report, not yet resting
    };
    using Entries = std::map<std::string, Entry>;
    struct State {
        Watch watch;
        Entries entries;
    };

    // Follows one entry that the listener knows to its new name; false when
    // there is none left.
    static bool follow_one_rename(WatchID watch_id, State& state, const Listing& fresh,
                                  bool folders, std::vector<Notification>& out);
    static void report(WatchID watch_id, const State& state, const std::string& path,
                       Actions::Action action, std::vector<Notification>& out,
                       const std::string& old_path = "");

    std::map<WatchID, State> watches;
};

}  // namespace watch
