#include "App.h"

#include <filesystem>
#include <unordered_set>

#include "string_utils.h"

void App::bind_file_handlers(std::uint64_t pack, const std::string& folder) {
    auto changed = [this, pack, folder](const std::string& path) {
        on_sample_file_changed(pack, folder, path);
    };
    user_lib->set_file_callbacks(
        changed,
        [this, pack, folder](const std::string& path) {
            on_sample_file_deleted(pack, folder, path);
        },
        changed,
        [this, pack, folder](const std::string& old_path, const std::string& new_path) {
            on_sample_file_moved(pack, folder, old_path, new_path);
        },
        [this, pack, folder] { on_sample_files_missed(pack, folder); });
}

void App::on_sample_file_changed(std::uint64_t pack, const std::string& folder,
                                 const std::string& path) {
    if (!is_inside_folder(folder, path) || !UserLib::accept_file(get_extension(path)))
        return;
    const auto change = intake->note_change(pack, get_extension(path).name);
    if (change)
        take_changed_file(change, path, false);
}

void App::take_changed_file(const SampleIntake::Change& change, const std::string& path,
                            bool second_try) {
    SampleIntake::Taken taken = intake->take(change, path);
    if (taken.refusal != SampleIntake::Refusal::none) {
        // Whatever the name holds stays as it is.
        tell_refused({path}, {taken}, true);
        return;
    }
    if (!taken.buffer && !second_try) {
        // A file still being written decodes a moment later. The second try
        // waits on the intake's timer, so that the events after this one do not.
        intake->try_again(change, [this, change, path] { take_changed_file(change, path, true); });
        return;
    }
    // A second failure removes the sample of that name.
    intake->commit(change, [&] { update_sample(path, std::move(taken.buffer)); });
}

void App::on_sample_file_deleted(std::uint64_t pack, const std::string& folder,
                                 const std::string& path) {
    if (!is_inside_folder(folder, path))
        return;
    const std::string name = get_extension(path).name;
    intake->commit(intake->note_change(pack, name), [&] {
        if (sequencer->get_pattern(name))
            sequencer->delete_sample(name);
    });
}

void App::on_sample_file_moved(std::uint64_t pack, const std::string& folder,
                               const std::string& old_path, const std::string& new_path) {
    if (!is_inside_folder(folder, new_path))
        return;
    const std::string old_name = get_extension(old_path).name;
    const std::string new_name = get_extension(new_path).name;
    // Both names change: a second try of the old one is dropped too.
    intake->note_change(pack, old_name);
    const auto change = intake->note_change(pack, new_name);
    if (!change)
        return;
    auto old_pattern = sequencer->get_pattern(old_name);
    auto new_pattern = sequencer->get_pattern(new_name);
    SampleIntake::Taken taken;
    if (UserLib::accept_file(get_extension(new_path))) {
        // The very file the old name's sample came from is not decoded again.
        taken.buffer = intake->decoded_from(new_path, old_name);
        if (!taken.buffer)
            taken = intake->take(change, new_path);
    }
    if (taken.refusal != SampleIntake::Refusal::none) {
        // Not followed: both names keep what they hold.
        tell_refused({new_path}, {taken}, true);
        return;
    }

    intake->commit(change, [&] {
        if (!old_pattern) {
            update_sample(new_path, std::move(taken.buffer));
            return;
        }
        if (new_pattern)
            sequencer->delete_sample(new_name);
        if (taken.buffer)
            update_sample(new_path, std::move(taken.buffer));
        else
            update_sample(old_path, nullptr);
        if (new_pattern) {
            sequencer->rename_sample(old_name, new_name);
        } else {
            // Only the live instrument takes the new name; the parts keep the old one.
            sequencer->edit_pattern(old_pattern, [&](SequencerPattern& p) { p.name = new_name; });
        }
    });
}

void App::on_sample_files_missed(std::uint64_t pack, const std::string& folder) {
    if (!intake->is_current(pack))
        return;
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
        if (on_disk.count(name))
            continue;
        // As after a deletion: the instruments go, the sample stays loaded.
        intake->commit(intake->note_change(pack, name), [&] {
            if (sequencer->get_pattern(name))
                sequencer->delete_sample(name);
        });
    }
    // The files whose sample is not the one decoded from them, on all cores.
    std::vector<std::string> paths;
    std::vector<SampleIntake::Change> changes;
    for (const auto& path : last_of_each_name(UserLib::list_sample_files(folder))) {
        const std::string name = get_extension(path).name;
        if (intake->decoded_from(path, name))
            continue;
        paths.push_back(path);
        changes.push_back(intake->note_change(pack, name));
    }
    const auto taken = intake->take_all(paths, changes);
    tell_refused(paths, taken, true);
    for (std::size_t i = 0; i < paths.size(); ++i) {
        // A file that does not decode may still be being written; its own events follow.
        if (taken[i].buffer)
            intake->commit(changes[i], [&] { update_sample(paths[i], taken[i].buffer); });
    }
}
