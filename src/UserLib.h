#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "string_utils.h"
#include "watch/FileWatcher.h"

// UTF-8 to wide text, one wchar_t per code point: the screen's own
// conversion, so that a name is shown and measured alike everywhere. Each
// malformed sequence becomes one U+FFFD. Any thread.
std::wstring to_wstring(const std::string& text);

class UserLib;

// Passes the events under the active pack folder to the file callbacks.
class SampleUpdateListener : public watch::FileWatchListener {
  public:
    explicit SampleUpdateListener(UserLib& user_lib) : user_lib(&user_lib) {}

    // Watcher thread.
    void handleFileAction(watch::WatchID watch_id, const std::string& dir,
                          const std::string& filename, watch::Actions::Action action,
                          std::string old_filename) override;
    // Watcher thread. Asks the application to look at the pack folder again.
    void handleMissedFileActions(watch::WatchID watch_id, const std::string& dir) override;

    UserLib* user_lib;
};

// Re-lists the packs on every event under the samples folder, and hands the
// event on to the pack's handling, since the one samples watch covers it.
class SamplePackUpdateListener : public watch::FileWatchListener {
  public:
    explicit SamplePackUpdateListener(UserLib& user_lib) : user_lib(&user_lib) {}

    // Watcher thread.
    void handleFileAction(watch::WatchID watch_id, const std::string& dir,
                          const std::string& filename, watch::Actions::Action action,
                          std::string old_filename) override;
    // Watcher thread. Lists the packs again and hands the loss on to the pack's handling.
    void handleMissedFileActions(watch::WatchID watch_id, const std::string& dir) override;

    UserLib* user_lib;
};

// The sample folders on disk: the packs, the active pack's sample files, the
// composition files beside the samples folder, and a watcher thread that
// reports changes.
class UserLib {
  public:
    using FileCallback = std::function<void(const std::string& path)>;
    using MoveCallback =
        std::function<void(const std::string& old_path, const std::string& new_path)>;
    using MissedCallback = std::function<void()>;

    // What failed on the watcher's thread: the file whose event a callback
    // failed on (the watching goes on), or "" when the watching itself ended
    // or could not start. Called on the watcher's thread, or in the
    // constructor when the thread cannot start.
    using FailureCallback = std::function<void(const std::string& path, const std::string& what)>;

    // Main thread. Starts the watcher's thread.
    explicit UserLib(const std::string& samples_path, FailureCallback on_failure = nullptr);
    // Main thread. Stops the watcher's thread before anything else goes.
    virtual ~UserLib();
    UserLib(const UserLib&) = delete;
    UserLib& operator=(const UserLib&) = delete;

    // Any thread. Lists the packs again.
    void reload_sample_packs();

    // Main thread. Watches `pack_folder` and lists its sample files. Once it
    // returns, no callback for the previous pack runs; it waits for one in
    // progress, so the caller must not hold a lock that the callbacks take.
    void set_active_sample_pack(const std::string& pack_folder);

    // Main thread. The active pack's accepted files as full paths, sorted;
    // not updated by later file events.
    const std::vector<std::string>& files() const { return sample_files; }

    // Any thread. The pack names, sorted.
    std::vector<std::wstring> get_sample_pack_names() const;

    // Any thread. Whether `name` is a pack: a plain name of a readable
    // folder in the samples folder (a link to one elsewhere counts), but
    // not "." or a link back to the samples folder or above it, which
    // would hold every pack.
    bool is_pack(const std::string& name) const;

    // Any thread. Names (without ".json") of the readable composition files
    // in the folder that holds the samples folder, sorted.
    std::vector<std::wstring> get_json_files() const;

    // Any thread. A "wav" or "mp3" file whose name does not start with "recording_".
    static bool accept_file(const NameInfo& info);

    // Any thread, also from a callback. Installs the callbacks together; an
    // empty one drops its events. They run on the watcher's thread, for
    // changes under the active pack folder only. `missed` runs when events
    // there were lost: the folder may now differ from what was reported.
    void set_file_callbacks(FileCallback added, FileCallback deleted, FileCallback modified,
                            MoveCallback moved, MissedCallback missed = nullptr);

    // Any thread. The accepted files directly in `pack_folder`, as full
    // paths, sorted.
    static std::vector<std::string> list_sample_files(const std::string& pack_folder);

  private:
    friend class SampleUpdateListener;
    friend class SamplePackUpdateListener;

    // Watcher thread: calls the callback for an event under the active pack.
    void handle_pack_event(const std::string& dir, const std::string& filename,
                           watch::Actions::Action action, const std::string& old_filename);
    // Watcher thread: calls the missed callback when `dir` holds the active pack.
    void handle_missed_pack_events(const std::string& dir);

    std::unique_ptr<watch::FileWatcher> file_watcher;
    std::string samples_path;
    // Kept for the whole life: it filters by the active pack folder, so a
    // switch need not replace it.
    std::unique_ptr<SampleUpdateListener> sample_update_listener;
    std::unique_ptr<SamplePackUpdateListener> sample_pack_update_listener;
    std::vector<std::string> sample_files;
    watch::WatchID pack_watch_id = 0;  // a watch of its own, for a pack outside the samples watch
    watch::WatchID samples_watch_id = 0;

    // Held while a pack callback runs, so that a switch can wait it out.
    std::mutex pack_dispatch_mutex;

    // Small lock, never held while calling out.
    mutable std::mutex state_mutex;
    FileCallback on_file_added;
    FileCallback on_file_deleted;
    FileCallback on_file_modified;
    MoveCallback on_file_moved;
    MissedCallback on_file_events_missed;
    std::string active_pack_prefix;  // normal form, ends with "/"; "" before the first switch
    std::vector<std::wstring> sample_pack_names;
    uint64_t listings_started = 0;
    uint64_t listing_applied = 0;
};
