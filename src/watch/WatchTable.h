#pragma once

#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "watch/FolderId.h"
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
        FolderId id;
    };
    enum class Added { Yes, Repeated, NotFound, NotReadable, NoRoom };

    explicit WatchTable(int inotify_fd) : inotify_fd(inotify_fd) {}

    // `root` ends with "/". NoRoom: the system's limits left no room for
    // every folder of the tree, and nothing was added.
    Added add_watch(WatchID watch_id, const std::string& root, FileWatchListener* listener,
                    bool recursive);
    void remove_watch(WatchID watch_id);

    const Watch* find_watch(WatchID watch_id) const;
    const Folder* find_folder(int descriptor) const;
    std::vector<WatchID> watch_ids() const;
    bool holds(const FolderId& folder) const;
    // Folders below a recursive watch that are left to other watches.
    void set_foreign_roots(std::set<FolderId> roots) { foreign_roots = std::move(roots); }

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
    // After lost events: walks the watch's tree again, watching folders that
    // appeared, dropping those that went and taking the paths of moved ones.
    void refresh(WatchID watch_id);

    // Watches that lost a folder for lack of room since the last call.
    std::vector<WatchID> take_starved();

  private:
    // The descriptor of the newly watched folder, -1 when the system refused
    // it (errno tells why), -2 when a watch holds it already.
    int add_folder(WatchID watch_id, const std::string& path, bool is_root, bool report,
                   std::vector<Notification>& out);
    void add_sub_folders(WatchID watch_id, const std::string& path, bool report,
                         std::vector<Notification>& out);
    void refresh_folder(WatchID watch_id, const std::string& path, bool is_root,
                        std::set<int>& seen);
    void note_refusal(WatchID watch_id);

    int inotify_fd;
    std::map<WatchID, Watch> watches;
    std::unordered_map<int, Folder> folders;
    std::set<FolderId> foreign_roots;
    std::set<WatchID> starved;
};

}  // namespace watch
