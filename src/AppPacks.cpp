#include "App.h"

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "ReplyText.h"
#include "io/RegularFile.h"
#include "tui/screen/unicode.h"

void App::load_sample_pack(const std::string& name, bool show_readme_lines) {
    if (name.empty()) {
        add_words(L"Sample packs: ", user_lib->get_sample_pack_names());
        return;
    }
    if (!is_plain_name(name)) {
        refuse_name();
        return;
    }
    pack_folder = base_folder + "/samples/" + name;
    // A name that is no pack still empties the composition (a file naming it
    // loads silent). A missing folder is followed, so that the pack loads once
    // it is made; one that is there but no pack ("." or a link back above the
    // samples folder would hold every pack) is not.
    std::error_code error;
    const bool follow =
        user_lib->is_pack(name) || (name != "." && !std::filesystem::exists(pack_folder, error));
    pack_name = to_wstring(name);  // as the pack list converts it, so that it is found there
    sequencer->clear();
    // From here on no change of the pack before is stored: the samples are
    // emptied after it.
    const std::uint64_t pack = intake->begin_pack();
    // The old pack's buffers are freed once the lock is released: the
    // trigger never waits for a free.
    SampleIntake::SampleMap old_buffers;
    {
        std::lock_guard<std::mutex> lock(samples_mutex);
        old_buffers.swap(sample_buffers);
        sample_names.clear();
    }
    old_buffers.clear();
    if (!follow)
        return;  // the handlers of the pack before are out of date and stay out
    try {
        // Bound before the library moves to the new folder, so that no event of
        // the new pack falls between the two; the handlers keep to their folder.
        bind_file_handlers(pack, pack_folder);
        user_lib->set_active_sample_pack(pack_folder);
        load_pack_files(pack, user_lib->files());
    } catch (const std::exception& error) {
        // What is loaded stays.
        add_failure(L"could not load all of the pack " + pack_name + L":", error.what());
    }

    if (show_readme_lines)
        show_readme(pack_folder + "/readme.txt");
}

std::vector<std::string> App::last_of_each_name(const std::vector<std::string>& paths) {
    std::unordered_map<std::string, std::size_t> last_of_name;
    for (std::size_t i = 0; i < paths.size(); ++i)
        last_of_name[get_extension(paths[i]).name] = i;
    std::vector<std::string> deciding;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (last_of_name[get_extension(paths[i]).name] == i)
            deciding.push_back(paths[i]);
    }
    return deciding;
}

void App::load_pack_files(std::uint64_t pack, const std::vector<std::string>& all_paths) {
    // Of several files of one sample name the last in path order decides:
    // the others are not decoded at all.
    const std::vector<std::string> paths = last_of_each_name(all_paths);
    std::vector<SampleIntake::Change> changes;
    for (const auto& path : paths)
        changes.push_back(intake->note_change(pack, get_extension(path).name));
    std::vector<SampleIntake::Taken> taken = intake->take_all(paths, changes);
    tell_refused(paths, taken, false);

    // By name, in nodes that move into the samples without allocating.
    SampleIntake::SampleMap loaded;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (taken[i].buffer)
            loaded.emplace(changes[i].name, std::move(taken[i].buffer));
    }
    // Buffers a handler stored before the switch's files were listed: freed
    // once the locks are released (declared first), so that the trigger never
    // waits for a free.
    std::vector<std::shared_ptr<AudioBuffer>> replaced;
    intake->commit_all([&](const auto& stands) {
        std::lock_guard<std::mutex> lock(samples_mutex);
        // The pack's own files come first, in the order of their paths; where
        // a handler has stored a later change of a name, that stands. All
        // that can fail comes before the first change, so that a failure
        // leaves the samples and their names in step.
        std::vector<std::string> order;
        std::unordered_set<std::string> placed;
        order.reserve(paths.size() + sample_names.size());
        placed.reserve(paths.size() + sample_names.size());
        replaced.reserve(paths.size());
        sample_buffers.reserve(sample_buffers.size() + loaded.size());
        for (const auto& change : changes) {
            const bool ours = stands(change);
            placed.insert(change.name);
            if (ours ? loaded.count(change.name) > 0 : sample_buffers.count(change.name) > 0)
                order.push_back(change.name);
        }
        for (const auto& name : sample_names) {
            if (placed.insert(name).second)
                order.push_back(name);
        }
        for (const auto& change : changes) {
            if (!stands(change))
                continue;
            const auto found = sample_buffers.find(change.name);
            if (found != sample_buffers.end()) {
                replaced.push_back(std::move(found->second));
                sample_buffers.erase(found);
            }
            if (auto node = loaded.extract(change.name))
                sample_buffers.insert(std::move(node));
        }
        sample_names = std::move(order);
    });
}

void App::tell_refused(const std::vector<std::string>& paths,
                       const std::vector<SampleIntake::Taken>& taken, bool now) {
    for (const auto refusal : {SampleIntake::Refusal::too_long, SampleIntake::Refusal::no_room}) {
        std::vector<std::wstring> names;
        std::string listed;
        for (std::size_t i = 0; i < paths.size(); ++i) {
            if (taken[i].refusal != refusal)
                continue;
            const std::string name = std::filesystem::path(paths[i]).filename().string();
            names.push_back(to_wstring(name));
            listed += (listed.empty() ? "" : " ") + name;
        }
        if (names.empty())
            continue;
        if (now)
            report_background_failure(intake->refusal_title(refusal), listed);
        else
            add_words(intake->refusal_title(refusal), names);
    }
}

void App::show_readme(const std::string& path) {
    // Readmes are a few lines; a FIFO or a link to a device under that name
    // must neither hang the switch nor fill the memory.
    constexpr std::uint64_t kLargestReadme = 64 * 1024;
    const auto text = io::read_regular_file(path, kLargestReadme);
    if (!text)
        return;
    std::vector<tui::Element> lines;
    std::istringstream in(*text);
    for (std::string line; std::getline(in, line) && !line.empty();) {
        for (auto& piece : wrap_text(tui::to_wstring(line)))
            lines.push_back(tui::text(std::move(piece)) | tui::bold);
    }
    queue(std::move(lines));
}

void App::update_sample(const std::string& path, std::shared_ptr<AudioBuffer> buffer) {
    const std::string name = get_extension(path).name;
    if (!buffer)
        sequencer->delete_sample(name);
    // The buffer replaced or removed is freed after the lock is released
    // (declared first, so destroyed last): the trigger never waits for a free.
    std::shared_ptr<AudioBuffer> old_buffer;
    std::lock_guard<std::mutex> lock(samples_mutex);
    const auto found = sample_buffers.find(name);
    if (!buffer) {
        if (found != sample_buffers.end()) {
            old_buffer = std::move(found->second);
            sample_buffers.erase(found);
        }
        std::erase(sample_names, name);
        return;
    }
    if (found == sample_buffers.end()) {
        // A sample that let go of its memory for its replacement is still listed.
        if (std::find(sample_names.begin(), sample_names.end(), name) == sample_names.end())
            sample_names.push_back(name);
        sample_buffers.emplace(name, std::move(buffer));
        return;
    }
    old_buffer = std::exchange(found->second, std::move(buffer));
}

bool App::play_sample(const std::string& name, float volume, int semitones) {
    std::lock_guard<std::mutex> lock(samples_mutex);
    const auto found = sample_buffers.find(name);
    if (found == sample_buffers.end())
        return false;
    audio_engine->play(found->second, volume, semitones);
    return true;
}
