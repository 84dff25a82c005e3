#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "io/UniqueFd.h"
#include "watch/FolderId.h"
#include "watch/Notification.h"

namespace watch {

class EventTranslator;
class PollingTable;
class WatchTable;

// Negative results of FileWatcher::addWatch.
namespace Errors {
enum Error : WatchID {
    FileNotFound = -1,     // missing, or not a folder
    FileRepeated = -2,     // the folder is already watched by this watcher
    FileNotReadable = -3,  // the system refused to watch it
    WatcherFailed = -4,    // the watcher's thread could not be set up
};
}

// Receives the events of one or more watches.
class FileWatchListener {
  public:
    virtual ~FileWatchListener() = default;

    // Watcher thread only. `dir` ends with "/". For a move `old_filename` is
    // the former name in the same `dir`: a file that changes folder is
    // reported as deleted in the old folder and added in the new one.
    virtual void handleFileAction(WatchID watch_id, const std::string& dir,
                                  const std::string& filename, Actions::Action action,
                                  std::string old_filename = "") = 0;

    // Watcher thread only. Events under `dir` (the watch's folder, ending
    // with "/") were lost, when the system's event queue overflowed or the
    // watch changed over to polling: what lies there now may differ from what
    // was reported. Later events are reported as before.
    virtual void handleMissedFileActions(WatchID /*watch_id*/, const std::string& /*dir*/) {}
};

// Watches folders and calls the listeners on a thread of its own: through
// inotify, and by listing the folders every half second where inotify cannot
// be set up or has no room left for a watch's folders. Polling sees no
// closing of files and no inotify cookies: a file is reported once it rests
// between two listings, and a move between folders comes as deleted + added.
//
// A new file is reported as added once its writer has closed it (at once
// when it arrives by a rename or as a hard link); later writes report
// modified. A folder is reported to one watch only: a watch on a folder that
// another watch already holds is refused, and a recursive watch leaves out
// sub-folders that another watch holds. Symbolic links below a watched folder
// are not followed. Files found in a folder that appears inside a recursive
// watch are reported as added, since they may predate its watch.
//
// Nothing thrown on the thread ends the program: a listener that throws is
// told to the failure handler and the watcher goes on with the next event; a
// failure of the watcher's own work, or a thread that cannot be started, is
// told too and ends the watching.
class FileWatcher {
  public:
    // Watcher thread (or the caller of watch(), when the thread cannot start).
    // `path` is the file or folder whose event a listener failed on, empty
    // when the watching itself ended; `what` says why.
    using FailureHandler = std::function<void(const std::string& path, const std::string& what)>;

    // Any thread. `use_polling` polls every watch instead of using inotify.
    explicit FileWatcher(bool use_polling = false, FailureHandler on_failure = nullptr);
    // Stops and joins the thread. Not from a listener.
    ~FileWatcher();
    FileWatcher(const FileWatcher&) = delete;
    FileWatcher& operator=(const FileWatcher&) = delete;

    // Any thread, also from a listener. Returns the new watch's id (above 0)
    // or a negative Errors code. `listener` must outlive the watch.
    WatchID addWatch(const std::string& directory, FileWatchListener* listener, bool recursive);

    // Any thread, also from a listener. Once it returns no callback of the
    // watch runs any more; from another thread it waits for one in progress,
    // so the caller must not hold a lock that the listener takes.
    void removeWatch(WatchID watch_id);

    // Starts the thread; later calls do nothing. Any thread. A thread that
    // cannot be started is told to the failure handler, and a later call
    // tries again.
    void watch();

  private:
    using Clock = std::chrono::steady_clock;

    WatchID add_polled_watch(WatchID watch_id, const std::string& root, FileWatchListener* listener,
                             bool recursive);
    // The roots of every watch but `except`, which a listing leaves out. State lock held.
    std::set<FolderId> other_roots(WatchID except) const;
    void update_foreign_roots();
    // The thread's top level: whatever escapes the loop is told and ends it.
    void run();
    // Runs `work`; what it throws is told about dir + filename.
    template <class Work>
    void guarded(const std::string& dir, const std::string& filename, Work&& work);
    void watch_loop();
    // Tells `cause` + `what` about dir + filename; builds the news itself, so
    // that the callers' catch blocks cannot throw.
    void tell_failure(const std::string& dir, const std::string& filename, const char* cause,
                      const char* what) noexcept;
    int next_timeout();
    bool wait_for_events(int timeout_ms);
    std::vector<Notification> read_events();
    // Moves inotify watches that ran out of room for their folders to polling.
    void change_over_starved(std::vector<Notification>& out);
    void poll_folders(std::vector<Notification>& out);
    void dispatch(const std::vector<Notification>& notifications);

    const FailureHandler on_failure;
    io::UniqueFd inotify_fd;
    io::UniqueFd wake_fd;
    std::mutex state_mutex;               // over the tables, the translator and the ids
    std::recursive_mutex dispatch_mutex;  // held while a listener runs
    std::unique_ptr<WatchTable> table;
    std::unique_ptr<EventTranslator> translator;
    std::unique_ptr<PollingTable> polled;
    std::map<WatchID, FolderId> root_ids;
    WatchID next_id = 1;
    Clock::time_point next_poll;  // watcher thread only
    std::atomic<bool> stopping{false};
    std::once_flag started;
    std::thread thread;
};

}  // namespace watch
