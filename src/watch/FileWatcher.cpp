#include "watch/FileWatcher.h"

#include <cxxabi.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <filesystem>

#include "watch/EventTranslator.h"
#include "watch/PollingTable.h"
#include "watch/WatchTable.h"

namespace watch {

namespace {

// A folder path in the form the listeners get: normal, ending with "/".
std::string folder_form(const std::string& directory) {
    std::string path = std::filesystem::path(directory).lexically_normal().string();
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path == "/" ? path : path + "/";
}

}  // namespace

FileWatcher::FileWatcher(bool use_polling, FailureHandler on_failure)
    : on_failure(std::move(on_failure)),
      inotify_fd(use_polling ? -1 : inotify_init1(IN_NONBLOCK | IN_CLOEXEC)),
      wake_fd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)),
      table(std::make_unique<WatchTable>(inotify_fd.get())),
      translator(std::make_unique<EventTranslator>(*table)),
      polled(std::make_unique<PollingTable>()) {}

FileWatcher::~FileWatcher() {
    stopping = true;
    if (thread.joinable()) {
        const uint64_t one = 1;
        [[maybe_unused]] auto written = ::write(wake_fd.get(), &one, sizeof one);
        thread.join();
    }
}

WatchID FileWatcher::addWatch(const std::string& directory, FileWatchListener* listener,
                              bool recursive) {
    if (!wake_fd.valid())
        return Errors::WatcherFailed;
    if (directory.empty() || listener == nullptr)
        return Errors::FileNotFound;
    const std::string root = folder_form(directory);
    const std::optional<FolderId> root_id = folder_id(root);
    if (!root_id)
        return Errors::FileNotFound;
    WatchID watch_id;
    {
        std::lock_guard<std::mutex> lock(state_mutex);
        if (polled->holds(*root_id))
            return Errors::FileRepeated;
        watch_id = next_id;
        if (inotify_fd.valid()) {
            switch (table->add_watch(watch_id, root, listener, recursive)) {
                case WatchTable::Added::Yes:
                    root_ids[watch_id] = *root_id;
                    return next_id++;
                case WatchTable::Added::Repeated:
                    return Errors::FileRepeated;
                case WatchTable::Added::NotFound:
                    return Errors::FileNotFound;
                case WatchTable::Added::NotReadable:
                    return Errors::FileNotReadable;
                case WatchTable::Added::NoRoom:
                    break;
            }
        }
        if (table->holds(*root_id))
            return Errors::FileRepeated;
        if (::access(root.c_str(), R_OK | X_OK) != 0)
            return Errors::FileNotReadable;
        root_ids[watch_id] = *root_id;
        ++next_id;
    }
    return add_polled_watch(watch_id, root, listener, recursive);
}

WatchID FileWatcher::add_polled_watch(WatchID watch_id, const std::string& root,
                                      FileWatchListener* listener, bool recursive) {
    std::set<FolderId> skip;
    {
        std::lock_guard<std::mutex> lock(state_mutex);
        skip = other_roots(watch_id);
    }
    // Listed outside the lock: a large tree takes a while.
    const Listing baseline = list_tree(root, recursive, skip);
    {
        std::lock_guard<std::mutex> lock(state_mutex);
        const auto root_id = root_ids.find(watch_id);
        if (root_id == root_ids.end())
            return watch_id;  // removed meanwhile
        polled->add_watch(watch_id, PollingTable::Watch{root, listener, recursive, root_id->second},
                          baseline);
        update_foreign_roots();
    }
    // The thread may be waiting with no timeout.
    const uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(wake_fd.get(), &one, sizeof one);
    return watch_id;
}

void FileWatcher::removeWatch(WatchID watch_id) {
    // Taking the dispatch lock waits out a callback in progress on the thread.
    std::lock_guard<std::recursive_mutex> dispatching(dispatch_mutex);
    std::lock_guard<std::mutex> lock(state_mutex);
    table->remove_watch(watch_id);
    polled->remove_watch(watch_id);
    translator->forget_watch(watch_id);
    root_ids.erase(watch_id);
    update_foreign_roots();
}

void FileWatcher::watch() {
    if (!wake_fd.valid())
        return;
    try {
        std::call_once(started, [this] { thread = std::thread([this] { run(); }); });
    } catch (const std::exception& error) {
        tell_failure("", "", "its thread could not start: ", error.what());
    }
}

void FileWatcher::tell_failure(const std::string& dir, const std::string& filename,
                               const char* cause, const char* what) noexcept {
    if (!on_failure)
        return;
    try {
        on_failure(dir + filename, std::string(cause) + what);
    } catch (...) {
        // The handler could not take the news (no memory left): the watcher
        // goes on all the same.
    }
}

std::set<FolderId> FileWatcher::other_roots(WatchID except) const {
    std::set<FolderId> roots;
    for (const auto& [watch_id, root_id] : root_ids) {
        if (watch_id != except)
            roots.insert(root_id);
    }
    return roots;
}

void FileWatcher::update_foreign_roots() {
    std::set<FolderId> roots;
    for (const auto& [watch_id, watch] : polled->all_watches())
        roots.insert(watch.root_id);
    table->set_foreign_roots(std::move(roots));
}

void FileWatcher::run() {
    guarded("", "", [this] { watch_loop(); });
}

template <class Work>
void FileWatcher::guarded(const std::string& dir, const std::string& filename, Work&& work) {
    try {
        work();
    } catch (const abi::__forced_unwind&) {
        throw;  // the thread is being cancelled: its unwinding must go on
    } catch (const std::exception& error) {
        tell_failure(dir, filename, "", error.what());
    } catch (...) {
        tell_failure(dir, filename, "", "an unknown error");
    }
}

void FileWatcher::watch_loop() {
    next_poll = Clock::now() + PollingTable::interval;
    while (!stopping) {
        const bool readable = wait_for_events(next_timeout());
        if (stopping)
            break;
        std::vector<Notification> notifications;
        if (readable)
            notifications = read_events();
        {
            std::lock_guard<std::mutex> lock(state_mutex);
            translator->expire_moves(EventTranslator::Clock::now(), notifications);
        }
        change_over_starved(notifications);
        if (Clock::now() >= next_poll) {
            poll_folders(notifications);
            next_poll = Clock::now() + PollingTable::interval;
        }
        dispatch(notifications);
    }
}

int FileWatcher::next_timeout() {
    std::lock_guard<std::mutex> lock(state_mutex);
    int timeout =
        translator->moves_pending() ? static_cast<int>(EventTranslator::move_grace.count()) : -1;
    if (!polled->empty()) {
        const auto until_poll =
            std::chrono::ceil<std::chrono::milliseconds>(next_poll - Clock::now());
        const int wait = std::max(0, static_cast<int>(until_poll.count()));
        timeout = timeout < 0 ? wait : std::min(timeout, wait);
    }
    return timeout;
}

bool FileWatcher::wait_for_events(int timeout_ms) {
    // A descriptor below 0 (no inotify) is left out by poll().
    pollfd fds[2] = {{inotify_fd.get(), POLLIN, 0}, {wake_fd.get(), POLLIN, 0}};
    if (::poll(fds, 2, timeout_ms) <= 0)
        return false;
    if (fds[1].revents & POLLIN) {
        uint64_t wakes;
        [[maybe_unused]] auto taken = ::read(wake_fd.get(), &wakes, sizeof wakes);
    }
    return fds[0].revents & POLLIN;
}

std::vector<Notification> FileWatcher::read_events() {
    alignas(inotify_event) char buffer[64 * 1024];
    std::vector<RawEvent> events;
    for (;;) {
        const ssize_t length = ::read(inotify_fd.get(), buffer, sizeof buffer);
        if (length <= 0)
            break;
        auto batch = parse_raw_events(buffer, static_cast<std::size_t>(length));
        events.insert(events.end(), batch.begin(), batch.end());
    }
    std::vector<Notification> notifications;
    std::lock_guard<std::mutex> lock(state_mutex);
    translator->translate(events, EventTranslator::Clock::now(), notifications);
    return notifications;
}

void FileWatcher::change_over_starved(std::vector<Notification>& out) {
    std::vector<std::pair<WatchID, WatchTable::Watch>> starved;
    {
        std::lock_guard<std::mutex> lock(state_mutex);
        for (const WatchID watch_id : table->take_starved()) {
            if (const auto* watch = table->find_watch(watch_id)) {
                starved.emplace_back(watch_id, *watch);
                table->remove_watch(watch_id);
                translator->forget_watch(watch_id);
            }
        }
    }
    for (const auto& [watch_id, watch] : starved) {
        add_polled_watch(watch_id, watch.root, watch.listener, watch.recursive);
        // What changed before the listing may not have been reported.
        out.push_back(Notification{watch_id, watch.root, "", Actions::Add, "", true});
    }
}

void FileWatcher::poll_folders(std::vector<Notification>& out) {
    std::vector<std::pair<WatchID, PollingTable::Watch>> watches;
    std::vector<std::set<FolderId>> skips;
    {
        std::lock_guard<std::mutex> lock(state_mutex);
        watches = polled->all_watches();
        for (const auto& [watch_id, watch] : watches)
            skips.push_back(other_roots(watch_id));
    }
    for (std::size_t i = 0; i < watches.size(); ++i) {
        const auto& [watch_id, watch] = watches[i];
        const Listing fresh = list_tree(watch.root, watch.recursive, skips[i]);
        std::lock_guard<std::mutex> lock(state_mutex);
        polled->update(watch_id, fresh, out);
    }
}

void FileWatcher::dispatch(const std::vector<Notification>& notifications) {
    for (const auto& note : notifications) {
        if (stopping)
            return;
        // Taken per event, so that removeWatch need not wait for a whole batch.
        std::lock_guard<std::recursive_mutex> dispatching(dispatch_mutex);
        FileWatchListener* listener = nullptr;
        {
            // Looked up per event: an earlier callback may have removed the watch.
            std::lock_guard<std::mutex> lock(state_mutex);
            if (const auto* watch = table->find_watch(note.watch_id))
                listener = watch->listener;
            else if (const auto* polled_watch = polled->find_watch(note.watch_id))
                listener = polled_watch->listener;
        }
        if (listener == nullptr)
            continue;
        // One event's failure leaves the others to be handled.
        guarded(note.dir, note.filename, [&] {
            if (note.missed)
                listener->handleMissedFileActions(note.watch_id, note.dir);
            else
                listener->handleFileAction(note.watch_id, note.dir, note.filename, note.action,
                                           note.old_filename);
        });
    }
}

}  // namespace watch
