#pragma once

#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "watch/Notification.h"

namespace watch {

// The watches of one inotify instance and the folder behind each inotify
// descriptor. Not thread-safe: FileWatcher guards it with its state lock.
class WatchTable {
  public:
    struct Watch {
        std::string root;  // ends with "/"
        FileWatchListener* listener;
        bool recursive;
    };
    struct Folder {
        WatchID watch_id;
        std::string path;  // ends with "/"
    };

    explicit WatchTable(int inotify_fd) : inotify_fd(inotify_fd) {}

    // `root` ends with "/". Returns the new id or a negative Errors code.
    WatchID add_watch(const std::string& root, FileWatchListener* listener, bool recursive);
    void remove_watch(WatchID watch_id);

    const Watch* find_watch(WatchID watch_id) const;
    const Folder* find_folder(int descriptor) const;

    // Watches `path` (ends with "/"), a folder that appeared in a recursive
    // watch, and the folders below it; reports what they hold as added.
    void follow_new_folder(WatchID watch_id, const std::string& path,
                           std::vector<Notification>& out);
    // The watch's folder at `old_path` and those below it now live at `new_path`.
    void rename_folders(WatchID watch_id, const std::string& old_path, const std::string& new_path);
    // Stops watching the watch's folder at `path` and those below it.
    void forget_folders(WatchID watch_id, const std::string& path);
    // The system dropped this descriptor (folder deleted or watch removed).
    void forget_descriptor(int descriptor) { folders.erase(descriptor); }

  private:
    // The descriptor of the newly watched folder, or -1 when it was not added
    // (refused, or already held by a watch).
    int add_folder(WatchID watch_id, const std::string& path, bool is_root, bool report,
                   std::vector<Notification>& out);
    void add_sub_folders(WatchID watch_id, const std::string& path, bool report,
                         std::vector<Notification>& out);

    int inotify_fd;
    WatchID next_id = 1;
    std::map<WatchID, Watch> watches;
    std::unordered_map<int, Folder> folders;
};

}  // namespace watch
