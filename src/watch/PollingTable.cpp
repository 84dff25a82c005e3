#include "watch/PollingTable.h"

#include <dirent.h>
#include <fcntl.h>
#include <memory>

namespace watch {

namespace {

void list_folder(const std::string& root, const std::string& below, bool recursive,
                 const std::set<FolderId>& skip, Listing& out) {
    std::unique_ptr<DIR, int (*)(DIR*)> folder(::opendir((root + below).c_str()), &::closedir);
    if (!folder)
        return;
    std::vector<std::string> sub_folders;
    while (const dirent* entry = ::readdir(folder.get())) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat info;
        if (::fstatat(::dirfd(folder.get()), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0)
            continue;  // gone since it was read
        const bool is_folder = S_ISDIR(info.st_mode);
        out[below + name] = EntryStat{is_folder, info.st_dev, info.st_ino, info.st_size,
                                      info.st_mtim.tv_sec * 1'000'000'000LL + info.st_mtim.tv_nsec};
        if (is_folder && recursive && !skip.count(FolderId{info.st_dev, info.st_ino}))
            sub_folders.push_back(below + name + "/");
    }
    folder.reset();
    for (const auto& sub_folder : sub_folders)
        list_folder(root, sub_folder, recursive, skip, out);
}

// "" for an entry of the root itself, otherwise the folder part with its "/".
std::string parent_of(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

std::string base_of(const std::string& path) {
    return path.substr(parent_of(path).size());
}

bool same_inode(const EntryStat& a, const EntryStat& b) {
    return a.device == b.device && a.inode == b.inode && a.is_folder == b.is_folder;
}

bool same_content(const EntryStat& a, const EntryStat& b) {
    return same_inode(a, b) && a.size == b.size && a.modified_ns == b.modified_ns;
}

}  // namespace

Listing list_tree(const std::string& root, bool recursive, const std::set<FolderId>& skip) {
    Listing listing;
    list_folder(root, "", recursive, skip, listing);
    return listing;
}

void PollingTable::add_watch(WatchID watch_id, Watch watch, const Listing& baseline) {
    State state{std::move(watch), {}};
    for (const auto& [path, stat] : baseline)
        state.entries.emplace(path, Entry{stat, true, false});
    watches[watch_id] = std::move(state);
}

void PollingTable::remove_watch(WatchID watch_id) {
    watches.erase(watch_id);
}

const PollingTable::Watch* PollingTable::find_watch(WatchID watch_id) const {
    auto it = watches.find(watch_id);
    return it == watches.end() ? nullptr : &it->second.watch;
}

std::vector<std::pair<WatchID, PollingTable::Watch>> PollingTable::all_watches() const {
    std::vector<std::pair<WatchID, Watch>> all;
    for (const auto& [watch_id, state] : watches)
        all.emplace_back(watch_id, state.watch);
    return all;
}

bool PollingTable::holds(const FolderId& folder) const {
    for (const auto& [watch_id, state] : watches) {
        if (state.watch.root_id == folder)
            return true;
        if (!state.watch.recursive)
            continue;
        for (const auto& [path, entry] : state.entries) {
            if (entry.stat.is_folder && FolderId{entry.stat.device, entry.stat.inode} == folder)
                return true;
        }
    }
    return false;
}

void PollingTable::update(WatchID watch_id, const Listing& fresh, std::vector<Notification>& out) {
    auto found = watches.find(watch_id);
    if (found == watches.end())
        return;
    State& state = found->second;
    // Folders first, outermost first, so that what they hold is found under
    // its new path and not reported at all.
    while (follow_one_rename(watch_id, state, fresh, true, out)) {
    }
    while (follow_one_rename(watch_id, state, fresh, false, out)) {
    }

    Entries& known = state.entries;
    // Deepest first, in the order a removal takes them.
    std::vector<std::string> gone;
    for (auto it = known.rbegin(); it != known.rend(); ++it) {
        const auto now = fresh.find(it->first);
        if (now == fresh.end() || now->second.is_folder != it->second.stat.is_folder)
            gone.push_back(it->first);
    }
    for (const auto& path : gone) {
        if (known.at(path).announced)
            report(watch_id, state, path, Actions::Delete, out);
        known.erase(path);
    }

    for (const auto& [path, stat] : fresh) {
        // A folder is reported at once: what it holds is reported on its own.
        const auto [it, is_new] = known.try_emplace(path, Entry{stat, stat.is_folder, false});
        Entry& entry = it->second;
        if (is_new) {
            if (stat.is_folder)
                report(watch_id, state, path, Actions::Add, out);
            else
                entry.settling = true;
            continue;
        }
        if (stat.is_folder) {
            entry.stat = stat;
        } else if (!same_content(entry.stat, stat)) {
            entry.stat = stat;
            entry.settling = true;
        } else if (entry.settling) {
            entry.settling = false;
            report(watch_id, state, path, entry.announced ? Actions::Modified : Actions::Add, out);
            entry.announced = true;
        }
    }
}

bool PollingTable::follow_one_rename(WatchID watch_id, State& state, const Listing& fresh,
                                     bool folders, std::vector<Notification>& out) {
    Entries& known = state.entries;
    for (auto& [path, entry] : known) {
        if (entry.stat.is_folder != folders || !entry.announced)
            continue;
        const auto now = fresh.find(path);
        if (now != fresh.end() && same_inode(now->second, entry.stat))
            continue;
        // The same inode under another name in the same folder, where the
        // listener does not know it already.
        const std::string parent = parent_of(path);
        std::string target;
        for (auto it = fresh.lower_bound(parent); it != fresh.end(); ++it) {
            if (it->first.compare(0, parent.size(), parent) != 0)
                break;
            if (!same_inode(it->second, entry.stat) || parent_of(it->first) != parent)
                continue;
            const auto holder = known.find(it->first);
            if (holder == known.end() || !same_inode(holder->second.stat, it->second)) {
                target = it->first;
                break;
            }
        }
        if (target.empty())
            continue;

        const std::string from = path;
        Entry moved = entry;
        moved.settling = moved.settling || !same_content(moved.stat, fresh.at(target));
        moved.stat = fresh.at(target);
        known.erase(from);  // `path` and `entry` are gone from here on
        if (folders) {
            const std::string old_prefix = from + "/", new_prefix = target + "/";
            std::erase_if(known, [&](const auto& item) {
                return item.first.compare(0, new_prefix.size(), new_prefix) == 0;
            });
            std::vector<std::string> inside;
            for (auto it = known.lower_bound(old_prefix);
                 it != known.end() && it->first.compare(0, old_prefix.size(), old_prefix) == 0;
                 ++it)
                inside.push_back(it->first);
            for (const auto& old_path : inside) {
                auto node = known.extract(old_path);
                node.key() = new_prefix + old_path.substr(old_prefix.size());
                known.insert(std::move(node));
            }
        }
        known[target] = moved;
        report(watch_id, state, target, Actions::Moved, out, from);
        return true;
    }
    return false;
}

void PollingTable::report(WatchID watch_id, const State& state, const std::string& path,
                          Actions::Action action, std::vector<Notification>& out,
                          const std::string& old_path) {
    out.push_back(Notification{watch_id, state.watch.root + parent_of(path), base_of(path), action,
                               old_path.empty() ? "" : base_of(old_path)});
}

}  // namespace watch
