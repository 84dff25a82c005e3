#include "watch/WatchTable.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <cerrno>
#include <filesystem>

#include "watch/FileWatcher.h"

namespace watch {

namespace {

constexpr uint32_t watched_events =
    IN_CREATE | IN_DELETE | IN_CLOSE_WRITE | IN_MOVED_FROM | IN_MOVED_TO | IN_ONLYDIR;

// The root may be reached through a link; folders below it are not.
uint32_t mask_for(bool is_root) {
    return is_root ? watched_events : watched_events | IN_DONT_FOLLOW;
}

bool starts_with(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The entries of `path` that are folders themselves (links not followed).
std::vector<std::pair<std::string, FolderId>> sub_folders_of(const std::string& path) {
    namespace fs = std::filesystem;
    std::vector<std::pair<std::string, FolderId>> found;
    std::error_code error;
    for (fs::directory_iterator it(path, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        struct stat info;
        if (::lstat((path + name).c_str(), &info) == 0 && S_ISDIR(info.st_mode))
            found.emplace_back(name, FolderId{info.st_dev, info.st_ino});
    }
    return found;
}

FolderId id_of(const std::string& path) {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0)
        return FolderId{};
    return FolderId{info.st_dev, info.st_ino};
}

}  // namespace

WatchTable::Added WatchTable::add_watch(WatchID watch_id, const std::string& root,
                                        FileWatchListener* listener, bool recursive) {
    watches[watch_id] = Watch{root, listener, recursive};
    std::vector<Notification> unused;
    const int descriptor = add_folder(watch_id, root, true, false, unused);
    const int error = errno;
    const bool no_room = starved.erase(watch_id) > 0;
    if (descriptor >= 0 && !no_room)
        return Added::Yes;
    remove_watch(watch_id);
    if (no_room)
        return Added::NoRoom;
    if (descriptor == -2)
        return Added::Repeated;
    return error == ENOENT || error == ENOTDIR ? Added::NotFound : Added::NotReadable;
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

std::vector<WatchID> WatchTable::watch_ids() const {
    std::vector<WatchID> ids;
    for (const auto& [watch_id, watch] : watches)
        ids.push_back(watch_id);
    return ids;
}

bool WatchTable::holds(const FolderId& folder) const {
    for (const auto& [descriptor, held] : folders) {
        if (held.id == folder)
            return true;
    }
    return false;
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

void WatchTable::refresh(WatchID watch_id) {
    const auto watch = watches.find(watch_id);
    if (watch == watches.end())
        return;
    std::set<int> seen;
    refresh_folder(watch_id, watch->second.root, true, seen);
    for (auto it = folders.begin(); it != folders.end();) {
        if (it->second.watch_id == watch_id && !seen.count(it->first)) {
            inotify_rm_watch(inotify_fd, it->first);
            it = folders.erase(it);
        } else {
            ++it;
        }
    }
}

std::vector<WatchID> WatchTable::take_starved() {
    std::vector<WatchID> ids(starved.begin(), starved.end());
    starved.clear();
    return ids;
}

int WatchTable::add_folder(WatchID watch_id, const std::string& path, bool is_root, bool report,
                           std::vector<Notification>& out) {
    const int descriptor = inotify_add_watch(inotify_fd, path.c_str(), mask_for(is_root));
    if (descriptor < 0) {
        note_refusal(watch_id);
        return -1;
    }
    if (folders.count(descriptor))
        return -2;  // the same folder under another name or watch: its holder keeps it
    folders[descriptor] = Folder{watch_id, path, id_of(path)};
    if (watches.at(watch_id).recursive)
        add_sub_folders(watch_id, path, report, out);
    return descriptor;
}

void WatchTable::add_sub_folders(WatchID watch_id, const std::string& path, bool report,
                                 std::vector<Notification>& out) {
    if (report) {
        namespace fs = std::filesystem;
        std::error_code error;
        for (fs::directory_iterator it(path, error), end; !error && it != end; it.increment(error))
            out.push_back(
                Notification{watch_id, path, it->path().filename().string(), Actions::Add, ""});
    }
    for (const auto& [name, id] : sub_folders_of(path)) {
        if (!foreign_roots.count(id))
            add_folder(watch_id, path + name + "/", false, report, out);
    }
}

void WatchTable::refresh_folder(WatchID watch_id, const std::string& path, bool is_root,
                                std::set<int>& seen) {
    const int descriptor = inotify_add_watch(inotify_fd, path.c_str(), mask_for(is_root));
    if (descriptor < 0) {
        note_refusal(watch_id);
        return;
    }
    const auto held = folders.find(descriptor);
    if ((held != folders.end() && held->second.watch_id != watch_id) ||
        !seen.insert(descriptor).second)
        return;
    folders[descriptor] = Folder{watch_id, path, id_of(path)};
    if (!watches.at(watch_id).recursive)
        return;
    for (const auto& [name, id] : sub_folders_of(path)) {
        if (!foreign_roots.count(id))
            refresh_folder(watch_id, path + name + "/", false, seen);
    }
}

void WatchTable::note_refusal(WatchID watch_id) {
    if (errno == ENOSPC || errno == ENOMEM)
        starved.insert(watch_id);
}

}  // namespace watch
