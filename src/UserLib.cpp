#include "UserLib.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <iostream>

#include "tui/screen/unicode.h"
#include "watch/FileSystem.h"

std::wstring to_wstring(const std::string& text) {
    return tui::to_wstring(text);
}

void SampleUpdateListener::handleFileAction(watch::WatchID, const std::string& dir,
                                            const std::string& filename,
                                            watch::Actions::Action action,
                                            std::string old_filename) {
    user_lib->handle_pack_event(dir, filename, action, old_filename);
}

void SamplePackUpdateListener::handleFileAction(watch::WatchID watch_id, const std::string& dir,
                                                const std::string& filename,
                                                watch::Actions::Action action,
                                                std::string old_filename) {
    user_lib->reload_sample_packs();
    user_lib->sample_update_listener->handleFileAction(watch_id, dir, filename, action,
                                                       std::move(old_filename));
}

void SampleUpdateListener::handleMissedFileActions(watch::WatchID, const std::string& dir) {
    user_lib->handle_missed_pack_events(dir);
}

void SamplePackUpdateListener::handleMissedFileActions(watch::WatchID watch_id,
                                                       const std::string& dir) {
    user_lib->reload_sample_packs();
    user_lib->sample_update_listener->handleMissedFileActions(watch_id, dir);
}

UserLib::UserLib(const std::string& samples_path, FailureCallback on_failure)
    : file_watcher(std::make_unique<watch::FileWatcher>(false, std::move(on_failure))),
      samples_path(samples_path),
      sample_update_listener(std::make_unique<SampleUpdateListener>(*this)),
      sample_pack_update_listener(std::make_unique<SamplePackUpdateListener>(*this)) {
    samples_watch_id =
        file_watcher->addWatch(samples_path, sample_pack_update_listener.get(), true);
    file_watcher->watch();
    reload_sample_packs();
}

UserLib::~UserLib() {
    // The thread calls the listeners and the callbacks: it must end first.
    file_watcher.reset();
}

void UserLib::reload_sample_packs() {
    uint64_t ticket;
    {
        std::lock_guard<std::mutex> lock(state_mutex);
        ticket = ++listings_started;
    }
    std::vector<std::wstring> names;
    for (const auto& [name, info] : watch::FileSystem::filesInfoFromPath(samples_path)) {
        if (info.isDirectory() && is_pack(name))
            names.push_back(to_wstring(name));
    }
    std::sort(names.begin(), names.end());
    std::lock_guard<std::mutex> lock(state_mutex);
    // Two listings may overlap (constructor and watcher): the later one wins.
    if (ticket > listing_applied) {
        listing_applied = ticket;
        sample_pack_names = std::move(names);
    }
}

void UserLib::set_active_sample_pack(const std::string& pack_folder) {
    if (pack_watch_id > 0)
        file_watcher->removeWatch(pack_watch_id);
    pack_watch_id = 0;
    const std::string prefix = folder_prefix(pack_folder);
    {
        std::lock_guard<std::mutex> dispatching(pack_dispatch_mutex);
        std::lock_guard<std::mutex> lock(state_mutex);
        active_pack_prefix = prefix;
    }
    // The samples watch already reports what happens under it; a pack
    // elsewhere (a name with "..") needs a watch of its own.
    if (samples_watch_id <= 0 || !is_inside_folder(samples_path, prefix))
        pack_watch_id = file_watcher->addWatch(pack_folder, sample_update_listener.get(), true);

    sample_files = list_sample_files(pack_folder);
}

bool UserLib::is_pack(const std::string& name) const {
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
        return false;
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path folder = fs::canonical(samples_path + "/" + name, error);
    if (error || !fs::is_directory(folder, error) || ::access(folder.c_str(), R_OK | X_OK) != 0)
        return false;
    const fs::path samples = fs::canonical(samples_path, error);
    if (error)
        return false;
    const std::string inside = folder_prefix(folder.string());
    return !folder_prefix(samples.string()).starts_with(inside);
}

std::vector<std::string> UserLib::list_sample_files(const std::string& pack_folder) {
    std::vector<std::string> files;
    for (const auto& [name, info] : watch::FileSystem::filesInfoFromPath(pack_folder)) {
        if (accept_file(get_extension(name)))
            files.push_back(pack_folder + "/" + name);
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<std::wstring> UserLib::get_sample_pack_names() const {
    std::lock_guard<std::mutex> lock(state_mutex);
    return sample_pack_names;
}

std::vector<std::wstring> UserLib::get_json_files() const {
    // The folder that holds the samples folder, found by name, so that it is
    // listed even when the samples folder is missing.
    std::filesystem::path base = folder_prefix(samples_path);
    base = base.parent_path().parent_path();
    std::vector<std::wstring> names;
    for (const auto& [name, info] :
         watch::FileSystem::filesInfoFromPath(base.empty() ? std::string(".") : base.string())) {
        const NameInfo parts = get_extension(name);
        if (info.isReadable() && parts.extension == "json")
            names.push_back(to_wstring(parts.name));
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool UserLib::accept_file(const NameInfo& info) {
    return !info.name.starts_with("recording_") &&
           (info.extension == "mp3" || info.extension == "wav");
}

void UserLib::set_file_callbacks(FileCallback added, FileCallback deleted, FileCallback modified,
                                 MoveCallback moved, MissedCallback missed) {
    std::lock_guard<std::mutex> lock(state_mutex);
    on_file_added = std::move(added);
    on_file_deleted = std::move(deleted);
    on_file_modified = std::move(modified);
    on_file_moved = std::move(moved);
    on_file_events_missed = std::move(missed);
}

void UserLib::handle_missed_pack_events(const std::string& dir) {
    std::lock_guard<std::mutex> dispatching(pack_dispatch_mutex);
    MissedCallback missed;
    {
        std::lock_guard<std::mutex> lock(state_mutex);
        // The samples watch covers the pack only when the pack lies inside it.
        if (active_pack_prefix.empty() || !active_pack_prefix.starts_with(folder_prefix(dir)))
            return;
        missed = on_file_events_missed;
    }
    if (missed)
        missed();
}

void UserLib::handle_pack_event(const std::string& dir, const std::string& filename,
                                watch::Actions::Action action, const std::string& old_filename) {
    if (action < watch::Actions::Add || action > watch::Actions::Moved) {
        std::cout << "Should never happen!" << std::endl;
        return;
    }
    const std::string path = dir + filename;
    std::lock_guard<std::mutex> dispatching(pack_dispatch_mutex);
    FileCallback file_callback;
    MoveCallback move_callback;
    {
        std::lock_guard<std::mutex> lock(state_mutex);
        if (active_pack_prefix.empty() || !is_inside_folder(active_pack_prefix, path))
            return;
        if (action == watch::Actions::Add)
            file_callback = on_file_added;
        else if (action == watch::Actions::Delete)
            file_callback = on_file_deleted;
        else if (action == watch::Actions::Modified)
            file_callback = on_file_modified;
        else
            move_callback = on_file_moved;
    }
    if (file_callback)
        file_callback(path);
    if (move_callback)
        move_callback(dir + old_filename, path);
}
