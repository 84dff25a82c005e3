#include "App.h"

#include <utility>

#include "CompositionFile.h"
#include "Help.h"
#include "ReplyText.h"
#include "tui/screen/unicode.h"

void App::on_sample_pack(const std::string& name) {
    // A mistyped name ("use drovn", or "user" read as "use r") must not wipe
    // the composition: only a pack of the pack list is switched to.
    if (!name.empty() && is_plain_name(name) && !user_lib->is_pack(name)) {
        add_words(L"no such pack: " + tui::to_wstring(name), {});
        pack_refused = true;
        return;
    }
    load_sample_pack(name, true);
}

void App::on_play(bool play) {
    play_checked = play;
    play_option.on_change();
}

bool App::composition_name_usable(const std::string& name) {
    if (name.empty()) {
        add_words(L"Files: ", user_lib->get_json_files());
        return false;
    }
    if (!is_plain_name(name)) {
        refuse_name();
        return false;
    }
    return true;
}

void App::on_save(const std::string& name) {
    if (!composition_name_usable(name))
        return;
    // The pack's folder name as it is on disk: the file is UTF-8, and a name
    // that is not (an old archive's Latin-1 "lat\xe9n") would come back as
    // another name, one that is no pack.
    const std::string pack = pack_folder.substr(pack_folder.rfind('/') + 1);
    if (tui::to_string(tui::to_wstring(pack)) != pack) {
        add_failure(L"could not save " + tui::to_wstring(name) + L".json:",
                    "the pack's folder name is not UTF-8");
        return;
    }
    picojson::value composition = sequencer->to_json();
    if (composition.is<picojson::object>())
        composition.get<picojson::object>().insert({"samplePack", picojson::value(pack)});
    const std::string path = base_folder + "/" + name + ".json";
    std::string error;
    const auto text = composition_text(composition, error);
    if (!text || !write_composition_file(path, *text, error))
        add_failure(L"could not save " + tui::to_wstring(name) + L".json:", error);
}

void App::on_load(const std::string& name) {
    if (!composition_name_usable(name))
        return;
    const std::string path = base_folder + "/" + name + ".json";
    std::string error;
    const auto text = read_composition_file(path, error);
    if (error.empty() && (!text || is_blank(*text))) {
        add_words(L"file not found :(", {});
        return;
    }
    // Only a file read to its end is applied: a broken one changes nothing.
    picojson::value composition;
    if (error.empty())
        error = parse_composition(*text, composition);
    if (!error.empty()) {
        add_failure(L"could not load " + tui::to_wstring(name) + L".json:", error);
        return;
    }
    if (!composition.is<picojson::object>()) {
        add_words(L"file not found :(", {});
        return;
    }
    if (const auto reason = Sequencer::too_large_to_load(composition); !reason.empty()) {
        add_failure(L"could not load " + tui::to_wstring(name) + L".json:", reason);
        return;
    }
    const auto& root = composition.get<picojson::object>();
    const auto pack = root.find("samplePack");
    if (pack != root.end() && pack->second.is<std::string>()) {
        const std::string& pack_to_use = pack->second.get<std::string>();
        if (!is_plain_name(pack_to_use)) {
            refuse_name();
            return;
        }
        // The composition still loads, silent: the line tells why.
        if (!pack_to_use.empty() && !user_lib->is_pack(pack_to_use))
            add_words(L"no such pack: " + tui::to_wstring(pack_to_use), {});
        load_sample_pack(pack_to_use, false);
    }
    add_words(sequencer->from_json(composition) ? L"file loaded!" : L"file not found :(", {});
}

void App::on_help(const std::string& topic) {
    queue_lines(help(topic), tui::color(tui::Color::CyanLight));
}

void App::on_tutorial() {
    tutorial_pager->reset();
    on_tutorial_next();
}

void App::on_tutorial_next() {
    queue_lines(tutorial_pager->next(), tui::color(tui::Color::CyanLight));
}

bool App::on_play_sample(const std::string& name) {
    return play_sample(name, 1.0f, 0);
}

bool App::has_sample(const std::string& name) {
    std::lock_guard<std::mutex> lock(samples_mutex);
    return sample_buffers.count(name) > 0;
}

float App::on_get_volume() {
    return audio_engine->master_volume.load();
}

void App::on_set_volume(float volume) {
    audio_engine->master_volume.store(volume);
}

std::string App::get_sample_listing() {
    // "use" lists the samples after its switch; a refused one has nothing new to show.
    if (std::exchange(pack_refused, false))
        return "";
    std::vector<std::wstring> names;
    {
        std::lock_guard<std::mutex> lock(samples_mutex);
        for (const auto& name : sample_names)
            names.push_back(tui::to_wstring(name));
    }
    if (names.empty())
        return "You have no samples loaded.\nVery strange!";
    std::string listing;
    for (const auto& line : wrap_words(names)) {
        if (!listing.empty())
            listing += '\n';
        listing += tui::to_string(line);
    }
    return listing;
}
