#include "App.h"

#include <chrono>
#include <filesystem>
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
    if (!is_inside_folder(folder, path) || !UserLib::accept_file(get_extension(path)))
        return;
    auto buffer = audio_engine->load_sample(path);
    if (!buffer) {
        // A file still being written decodes a moment later; a pack switch
        // meanwhile does not wait for the pause.
        if (!UserLib::pause_callback(std::chrono::milliseconds(250)))
            return;
        buffer = audio_engine->load_sample(path);
    }
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
    std::shared_ptr<AudioBuffer> buffer;
    if (UserLib::accept_file(get_extension(new_path)))
        buffer = audio_engine->load_sample(new_path);

    if (!old_pattern) {
        update_sample_of(generation, new_path, std::move(buffer));
        return;
    }
    if (new_pattern)
        sequencer->delete_sample(new_name);
    if (buffer) {
        update_sample_of(generation, new_path, std::move(buffer));
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
    std::vector<std::shared_ptr<AudioBuffer>> buffers = decode_files(paths);

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
    // A file that does not decode may still be being written; its own events follow.
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (buffers[i])
            update_sample_of(generation, paths[i], std::move(buffers[i]));
    }
}
