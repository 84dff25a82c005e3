#include "App.h"

#include <chrono>
#include <filesystem>
#include <thread>
#include <unordered_set>

#include "string_utils.h"

void App::bind_file_handlers(std::uint64_t generation, const std::string& folder) {
    auto changed = [this, generation, folder](const std::string& path) {
        on_sample_file_changed(generation, folder, path);
    };
    user_lib->set_file_callbacks(
        changed,
        [this, generation, folder](const std::string& path) {
            on_sample_file_deleted(generation, folder, path);
        },
        changed,
        [this, generation, folder](const std::string& old_path, const std::string& new_path) {
            on_sample_file_moved(generation, folder, old_path, new_path);
        },
        [this, generation, folder] { on_sample_files_missed(generation, folder); });
}

void App::on_sample_file_changed(std::uint64_t generation, const std::string& folder,
                                 const std::string& path) {
    if (!is_inside_folder(folder, path) || !UserLib::accept_file(get_extension(path)) ||
        !is_current(generation))
        return;
    SampleReservation reservation(*this);
    bool refused = false;
    auto buffer = decode_within_limit(generation, path, reservation, refused);
    if (buffer || refused) {
        store_file_result(generation, path, std::move(buffer));
        return;
    }
    // A file still being written decodes a moment later. The second try
    // waits on a timer, so that the events after this one do not.
    schedule_retry(generation, path);
}

void App::store_file_result(std::uint64_t generation, const std::string& path,
                            std::shared_ptr<AudioBuffer> buffer) {
    std::lock_guard<std::mutex> commit(file_commit_mutex);
    retry_tickets.erase(path);
    update_sample_of(generation, path, std::move(buffer));
}

void App::schedule_retry(std::uint64_t generation, const std::string& path) {
    constexpr auto kPause = std::chrono::milliseconds(250);
    std::uint64_t ticket;
    {
        std::lock_guard<std::mutex> commit(file_commit_mutex);
        ticket = ++last_retry_ticket;
        retry_tickets[path] = ticket;
    }
    // Taken outside the lock, which the try takes: where the timer has no
    // thread, it is made here. Events of a path come from the watcher's
    // thread alone, so none takes this one's place in between.
    auto retry = [this, generation, path, ticket] { retry_file(generation, path, ticket); };
    if (!retry_timer->call_at(path, CallTimer::Clock::now() + kPause, retry)) {
        std::this_thread::sleep_for(kPause);
        retry();
    }
}

void App::retry_file(std::uint64_t generation, const std::string& path, std::uint64_t ticket) {
    // A later event for the file decides instead, before or while this decodes.
    auto still_waiting = [&] {
        const auto found = retry_tickets.find(path);
        return found != retry_tickets.end() && found->second == ticket;
    };
    {
        std::lock_guard<std::mutex> commit(file_commit_mutex);
        if (!still_waiting())
            return;
    }
    SampleReservation reservation(*this);
    bool refused = false;
    std::shared_ptr<AudioBuffer> buffer;
    if (is_current(generation))
        buffer = decode_within_limit(generation, path, reservation, refused);
    std::lock_guard<std::mutex> commit(file_commit_mutex);
    if (!still_waiting())
        return;
    retry_tickets.erase(path);
    // A second failure removes the sample of that name.
    update_sample_of(generation, path, std::move(buffer));
}

void App::on_sample_file_deleted(std::uint64_t generation, const std::string& folder,
                                 const std::string& path) {
    if (!is_inside_folder(folder, path) || !is_current(generation))
        return;
    const std::string name = get_extension(path).name;
    if (sequencer->get_pattern(name))
        sequencer->delete_sample(name);
}

void App::on_sample_file_moved(std::uint64_t generation, const std::string& folder,
                               const std::string& old_path, const std::string& new_path) {
    if (!is_inside_folder(folder, new_path) || !is_current(generation))
        return;
    const std::string old_name = get_extension(old_path).name;
    const std::string new_name = get_extension(new_path).name;
    auto old_pattern = sequencer->get_pattern(old_name);
    auto new_pattern = sequencer->get_pattern(new_name);
    SampleReservation reservation(*this);
    std::shared_ptr<AudioBuffer> buffer;
    bool refused = false;
    if (UserLib::accept_file(get_extension(new_path)))
        buffer = decode_within_limit(generation, new_path, reservation, refused);

    if (!old_pattern) {
        store_file_result(generation, new_path, std::move(buffer));
        return;
    }
    if (new_pattern)
        sequencer->delete_sample(new_name);
    if (buffer) {
        store_file_result(generation, new_path, std::move(buffer));
    } else {
        update_sample_of(generation, old_path, nullptr);
    }
    if (new_pattern) {
        sequencer->rename_sample(old_name, new_name);
    } else {
        // Only the live instrument takes the new name; the parts keep the old one.
        sequencer->edit_pattern(old_pattern, [&](SequencerPattern& p) { p.name = new_name; });
    }
}

void App::on_sample_files_missed(std::uint64_t generation, const std::string& folder) {
    if (!is_current(generation))
        return;
    const std::vector<std::string> paths = UserLib::list_sample_files(folder);

    // A sample counts as gone when no file of its name is left anywhere in
    // the pack: files in sub-folders are loaded by their events too.
    std::unordered_set<std::string> on_disk;
    namespace fs = std::filesystem;
    std::error_code error;
    for (fs::recursive_directory_iterator
             it(folder, fs::directory_options::skip_permission_denied, error),
         end;
         !error && it != end; it.increment(error)) {
        const NameInfo info = get_extension(it->path().filename().string());
        if (UserLib::accept_file(info))
            on_disk.insert(info.name);
    }
    std::vector<std::string> loaded;
    {
        std::lock_guard<std::mutex> lock(samples_mutex);
        loaded = sample_names;
    }
    for (const auto& name : loaded) {
        // As after a deletion: the instruments go, the sample stays loaded.
        if (!on_disk.count(name) && is_current(generation) && sequencer->get_pattern(name))
            sequencer->delete_sample(name);
    }
    // One file at a time, each within the memory limit with what is loaded.
    // A file that does not decode may still be being written; its own events follow.
    for (const auto& path : paths) {
        SampleReservation reservation(*this);
        bool refused = false;
        auto buffer = decode_within_limit(generation, path, reservation, refused);
        if (buffer || refused)
            store_file_result(generation, path, std::move(buffer));
    }
}
