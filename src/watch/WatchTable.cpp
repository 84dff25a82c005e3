#include "watch/WatchTable.h"

#include <sys/inotify.h>
#include <cerrno>
#include <filesystem>

#include "watch/FileWatcher.h"

namespace watch {

namespace {

constexpr uint32_t watched_events =
    IN_CREATE | IN_DELETE | IN_CLOSE_WRITE | IN_MOVED_FROM | IN_MOVED_TO | IN_ONLYDIR;

bool starts_with(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

WatchID WatchTable::add_watch(const std::string& root, FileWatchListener* listener,
                              bool recursive) {
    const WatchID id = next_id;
    watches[id] = Watch{root, listener, recursive};
    std::vector<Notification> unused;
    const int descriptor = add_folder(id, root, true, false, unused);
    if (descriptor >= 0) {
        ++next_id;
        return id;
    }
    watches.erase(id);
    if (descriptor == -2)
        return Errors::FileRepeated;
    return errno == ENOENT || errno == ENOTDIR ? Errors::FileNotFound : Errors::FileNotReadable;
}

void WatchTable::remove_watch(WatchID watch_id) {
    if (watches.erase(watch_id) == 0)
        return;
    for (auto it = folders.begin(); it != folders.end();) {
        if (it->second.watch_id == watch_id) {
            inotify_rm_watch(inotify_fd, it->first);
            it = folders.erase(it);
        } else {
            ++it;
        }
    }
}

const WatchTable::Watch* WatchTable::find_watch(WatchID watch_id) const {
    auto it = watches.find(watch_id);
    return it == watches.end() ? nullptr : &it->second;
}

const WatchTable::Folder* WatchTable::find_folder(int descriptor) const {
    auto it = folders.find(descriptor);
    return it == folders.end() ? nullptr : &it->second;
}

void WatchTable::follow_new_folder(WatchID watch_id, const std::string& path,
                                   std::vector<Notification>& out) {
    add_folder(watch_id, path, false, true, out);
}

void WatchTable::rename_folders(WatchID watch_id, const std::string& old_path,
                                const std::string& new_path) {
    for (auto& [descriptor, folder] : folders) {
        if (folder.watch_id == watch_id && starts_with(folder.path, old_path))
            folder.path = new_path + folder.path.substr(old_path.size());
    }
}

void WatchTable::forget_folders(WatchID watch_id, const std::string& path) {
    for (auto it = folders.begin(); it != folders.end();) {
        if (it->second.watch_id == watch_id && starts_with(it->second.path, path)) {
            inotify_rm_watch(inotify_fd, it->first);
            it = folders.erase(it);
        } else {
            ++it;
        }
    }
}

int WatchTable::add_folder(WatchID watch_id, const std::string& path, bool is_root, bool report,
                           std::vector<Notification>& out) {
    // The root may be reached through a link; folders below it are not.
    const uint32_t mask = is_root ? watched_events : watched_events | IN_DONT_FOLLOW;
    const int descriptor = inotify_add_watch(inotify_fd, path.c_str(), mask);
    if (descriptor < 0)
        return -1;
    if (folders.count(descriptor))
        return -2;  // the same folder under another name or watch: its holder keeps it
    folders[descriptor] = Folder{watch_id, path};
    if (watches.at(watch_id).recursive)
        add_sub_folders(watch_id, path, report, out);
    return descriptor;
}

void WatchTable::add_sub_folders(WatchID watch_id, const std::string& path, bool report,
                                 std::vector<Notification>& out) {
    namespace fs = std::filesystem;
    std::error_code error;
    for (fs::directory_iterator it(path, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (report)
            out.push_back(Notification{watch_id, path, name, Actions::Add, ""});
        std::error_code kind_error;
        if (it->symlink_status(kind_error).type() == fs::file_type::directory)
            add_folder(watch_id, path + name + "/", false, report, out);
    }
}

}  // namespace watch
