#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "watch/Notification.h"
#include "watch/UniqueFd.h"

namespace watch {

class EventTranslator;
class WatchTable;

// Negative results of FileWatcher::addWatch.
namespace Errors {
enum Error : WatchID {
    FileNotFound = -1,     // missing, or not a folder
    FileRepeated = -2,     // the folder is already watched by this watcher
    FileNotReadable = -3,  // the system refused to watch it
    WatcherFailed = -4,    // inotify could not be set up
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
};

// Watches folders with inotify and calls the listeners on a thread of its own.
//
// A folder is reported to one watch only: a watch on a folder that another
// watch already holds is refused, and a recursive watch leaves out sub-folders
// that another watch holds. Symbolic links below a watched folder are not
// followed. Files found in a folder that appears inside a recursive watch are
// reported as added, since they may predate its watch.
class FileWatcher {
  public:
    // Any thread.
    FileWatcher();
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

    // Starts the thread; later calls do nothing. Any thread.
    void watch();

  private:
    void run();
    bool wait_for_events(bool moves_pending);
    std::vector<Notification> read_events();
    void dispatch(const std::vector<Notification>& notifications);

    UniqueFd inotify_fd;
    UniqueFd wake_fd;
    std::mutex state_mutex;               // over table and translator
    std::recursive_mutex dispatch_mutex;  // held while a listener runs
    std::unique_ptr<WatchTable> table;
    std::unique_ptr<EventTranslator> translator;
    std::atomic<bool> stopping{false};
    std::once_flag started;
    std::thread thread;
};

}  // namespace watch
