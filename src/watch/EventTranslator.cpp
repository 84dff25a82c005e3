#include "watch/EventTranslator.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <algorithm>
#include <cstring>

#include "watch/WatchTable.h"

namespace watch {

namespace {

// A new name whose writer may still be at work: a plain file with no other
// name. A hard link, a link or a device node is whole when it appears; a file
// already gone is settled by the deletion or move that follows.
bool may_be_written(const std::string& path) {
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0)
        return true;
    return S_ISREG(info.st_mode) && info.st_nlink == 1;
}

}  // namespace

std::vector<RawEvent> parse_raw_events(const char* buffer, std::size_t length) {
    std::vector<RawEvent> events;
    std::size_t offset = 0;
    while (offset + sizeof(inotify_event) <= length) {
        inotify_event header;
        std::memcpy(&header, buffer + offset, sizeof header);
        const char* name = buffer + offset + sizeof header;
        const std::size_t name_room =
            std::min<std::size_t>(header.len, length - offset - sizeof header);
        events.push_back(RawEvent{header.wd, header.mask, header.cookie,
                                  std::string(name, strnlen(name, name_room))});
        offset += sizeof header + header.len;
    }
    return events;
}

void EventTranslator::translate(const std::vector<RawEvent>& events, Clock::time_point now,
                                std::vector<Notification>& out) {
    for (const auto& event : events)
        translate_one(event, now, out);
}

void EventTranslator::expire_moves(Clock::time_point now, std::vector<Notification>& out) {
    auto expired = [&](const PendingMove& move) { return now - move.since >= move_grace; };
    for (const auto& move : pending_moves) {
        if (expired(move))
            leave(move, out);
    }
    std::erase_if(pending_moves, expired);
}

void EventTranslator::forget_watch(WatchID watch_id) {
    std::erase_if(being_written,
                  [&](const Place& place) { return std::get<0>(place) == watch_id; });
    std::erase_if(pending_moves,
                  [&](const PendingMove& move) { return move.watch_id == watch_id; });
}

void EventTranslator::translate_one(const RawEvent& event, Clock::time_point now,
                                    std::vector<Notification>& out) {
    if (event.mask & IN_Q_OVERFLOW) {
        overflowed(out);
        return;
    }
    if (event.mask & IN_IGNORED) {
        table.forget_descriptor(event.descriptor);
        return;
    }
    const WatchTable::Folder* folder = table.find_folder(event.descriptor);
    if (folder == nullptr || event.name.empty())
        return;
    const WatchID watch_id = folder->watch_id;
    const std::string dir = folder->path;
    const bool is_folder = event.mask & IN_ISDIR;
    const Place place{watch_id, dir, event.name};

    if (event.mask & IN_CREATE) {
        created(watch_id, dir, event.name, is_folder, out);
    } else if (event.mask & IN_DELETE) {
        // A file that was never reported goes unreported.
        if (!being_written.erase(place))
            out.push_back(Notification{watch_id, dir, event.name, Actions::Delete, ""});
    } else if (event.mask & IN_CLOSE_WRITE) {
        const bool first_close = being_written.erase(place) > 0;
        out.push_back(Notification{watch_id, dir, event.name,
                                   first_close ? Actions::Add : Actions::Modified, ""});
    } else if (event.mask & IN_MOVED_FROM) {
        const bool announced = !being_written.erase(place);
        pending_moves.push_back(
            PendingMove{event.cookie, watch_id, dir, event.name, is_folder, announced, now});
    } else if (event.mask & IN_MOVED_TO) {
        auto from =
            std::find_if(pending_moves.begin(), pending_moves.end(),
                         [&](const PendingMove& move) { return move.cookie == event.cookie; });
        if (from == pending_moves.end()) {
            arrive(watch_id, dir, event.name, is_folder, out);
        } else {
            const PendingMove move = *from;
            pending_moves.erase(from);
            complete_move(move, watch_id, dir, event.name, out);
        }
    }
}

void EventTranslator::created(WatchID watch_id, const std::string& dir, const std::string& name,
                              bool is_folder, std::vector<Notification>& out) {
    if (!is_folder && may_be_written(dir + name)) {
        being_written.insert(Place{watch_id, dir, name});
        return;
    }
    arrive(watch_id, dir, name, is_folder, out);
}

void EventTranslator::complete_move(const PendingMove& from, WatchID watch_id,
                                    const std::string& dir, const std::string& name,
                                    std::vector<Notification>& out) {
    if (!from.announced) {
        // Renamed while still being written: reported once closed, under its new name.
        being_written.insert(Place{watch_id, dir, name});
        return;
    }
    if (from.watch_id != watch_id) {
        leave(from, out);
        arrive(watch_id, dir, name, from.is_folder, out);
        return;
    }
    if (from.dir == dir) {
        out.push_back(Notification{watch_id, dir, name, Actions::Moved, from.name});
    } else {
        out.push_back(Notification{watch_id, from.dir, from.name, Actions::Delete, ""});
        out.push_back(Notification{watch_id, dir, name, Actions::Add, ""});
    }
    // The folder's inotify watches moved with it; only their paths changed.
    if (from.is_folder)
        table.rename_folders(watch_id, from.dir + from.name + "/", dir + name + "/");
}

void EventTranslator::arrive(WatchID watch_id, const std::string& dir, const std::string& name,
                             bool is_folder, std::vector<Notification>& out) {
    out.push_back(Notification{watch_id, dir, name, Actions::Add, ""});
    const WatchTable::Watch* watch = table.find_watch(watch_id);
    if (is_folder && watch != nullptr && watch->recursive)
        table.follow_new_folder(watch_id, dir + name + "/", out);
}

void EventTranslator::leave(const PendingMove& from, std::vector<Notification>& out) {
    if (!from.announced)
        return;
    out.push_back(Notification{from.watch_id, from.dir, from.name, Actions::Delete, ""});
    if (from.is_folder)
        table.forget_folders(from.watch_id, from.dir + from.name + "/");
}

void EventTranslator::overflowed(std::vector<Notification>& out) {
    pending_moves.clear();
    being_written.clear();
    for (const WatchID watch_id : table.watch_ids()) {
        // Folders made or moved meanwhile went unseen.
        table.refresh(watch_id);
        out.push_back(
            Notification{watch_id, table.find_watch(watch_id)->root, "", Actions::Add, "", true});
    }
}

}  // namespace watch
