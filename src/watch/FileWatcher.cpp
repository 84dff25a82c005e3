#include "watch/FileWatcher.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <cerrno>
#include <cstdint>
#include <filesystem>

#include "watch/EventTranslator.h"
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

FileWatcher::FileWatcher()
    : inotify_fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)),
      wake_fd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)),
      table(std::make_unique<WatchTable>(inotify_fd.get())),
      translator(std::make_unique<EventTranslator>(*table)) {}

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
    if (!inotify_fd.valid() || !wake_fd.valid())
        return Errors::WatcherFailed;
    if (directory.empty() || listener == nullptr)
        return Errors::FileNotFound;
    std::lock_guard<std::mutex> lock(state_mutex);
    return table->add_watch(folder_form(directory), listener, recursive);
}

void FileWatcher::removeWatch(WatchID watch_id) {
    // Taking the dispatch lock waits out a callback in progress on the thread.
    std::lock_guard<std::recursive_mutex> dispatching(dispatch_mutex);
    std::lock_guard<std::mutex> lock(state_mutex);
    table->remove_watch(watch_id);
}

void FileWatcher::watch() {
    if (!inotify_fd.valid() || !wake_fd.valid())
        return;
    std::call_once(started, [this] { thread = std::thread([this] { run(); }); });
}

void FileWatcher::run() {
    while (!stopping) {
        std::vector<Notification> notifications;
        bool moves_pending;
        {
            std::lock_guard<std::mutex> lock(state_mutex);
            moves_pending = translator->moves_pending();
        }
        const bool readable = wait_for_events(moves_pending);
        if (stopping)
            break;
        if (readable)
            notifications = read_events();
        {
            std::lock_guard<std::mutex> lock(state_mutex);
            translator->expire_moves(EventTranslator::Clock::now(), notifications);
        }
        dispatch(notifications);
    }
}

bool FileWatcher::wait_for_events(bool moves_pending) {
    pollfd fds[2] = {{inotify_fd.get(), POLLIN, 0}, {wake_fd.get(), POLLIN, 0}};
    const int timeout = moves_pending ? static_cast<int>(EventTranslator::move_grace.count()) : -1;
    if (::poll(fds, 2, timeout) <= 0)
        return false;
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
        }
        if (listener != nullptr)
            listener->handleFileAction(note.watch_id, note.dir, note.filename, note.action,
                                       note.old_filename);
    }
}

}  // namespace watch
