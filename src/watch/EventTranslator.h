#pragma once

#include <chrono>
#include <cstdint>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "watch/Notification.h"

namespace watch {

class WatchTable;

// One event as inotify reports it.
struct RawEvent {
    int descriptor;
    uint32_t mask;
    uint32_t cookie;
    std::string name;
};

// The events in a buffer filled by read() on an inotify descriptor.
std::vector<RawEvent> parse_raw_events(const char* buffer, std::size_t length);

// Turns inotify events into listener events: pairs the two halves of a move
// by cookie, keeps the table's folders in step with created, moved and
// removed folders, and holds back a newly created file until the writer
// closes it, so that it is reported once, whole. Not thread-safe:
// FileWatcher guards it with its state lock.
class EventTranslator {
  public:
    using Clock = std::chrono::steady_clock;

    // How long the first half of a move waits for its second half.
    static constexpr std::chrono::milliseconds move_grace{50};

    explicit EventTranslator(WatchTable& table) : table(table) {}

    void translate(const std::vector<RawEvent>& events, Clock::time_point now,
                   std::vector<Notification>& out);
    // Reports first halves older than the grace as deleted.
    void expire_moves(Clock::time_point now, std::vector<Notification>& out);
    bool moves_pending() const { return !pending_moves.empty(); }
    // Drops what is held back for a watch that is going.
    void forget_watch(WatchID watch_id);

  private:
    struct PendingMove {
        uint32_t cookie;
        WatchID watch_id;
        std::string dir;
        std::string name;
        bool is_folder;
        bool announced;  // false for a file created and not yet closed
        Clock::time_point since;
    };
    using Place = std::tuple<WatchID, std::string, std::string>;  // watch, dir, name

    void translate_one(const RawEvent& event, Clock::time_point now,
                       std::vector<Notification>& out);
    void created(WatchID watch_id, const std::string& dir, const std::string& name, bool is_folder,
                 std::vector<Notification>& out);
    void complete_move(const PendingMove& from, WatchID watch_id, const std::string& dir,
                       const std::string& name, std::vector<Notification>& out);
    void arrive(WatchID watch_id, const std::string& dir, const std::string& name, bool is_folder,
                std::vector<Notification>& out);
    void leave(const PendingMove& from, std::vector<Notification>& out);
    // The queue overflowed: what was held back is unknown now, and the
    // listeners of every watch hear that they missed events.
    void overflowed(std::vector<Notification>& out);

    WatchTable& table;
    std::vector<PendingMove> pending_moves;
    std::set<Place> being_written;  // created, not yet closed after writing
};

}  // namespace watch
