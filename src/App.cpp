#include "App.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <iomanip>
#include <optional>
#include <sstream>
#include <thread>
#include <utility>

#include <picojson.h>

#include "CommandField.h"
#include "CompositionFile.h"
#include "ReplyText.h"
#include "custom_input.h"
#include "io/RegularFile.h"
#include "scroller.h"
#include "string_utils.h"
#include "tui/screen_interactive.h"
#include "tui/unicode.h"
#include "window_frame.h"

// ---------------------------------------------------------------------------
// The application
// ---------------------------------------------------------------------------

const std::size_t max_output_len = 10;

std::string base_folder_for(const std::string& program_path) {
    if (program_path.find('/') != std::string::npos)
        return get_extension(program_path).directory;
    std::error_code error;
    const auto program = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : get_extension(program.string()).directory;
}

namespace {

constexpr int kTextWidth = reply_width;

// Composition and pack names become file names under the base folder: one
// holding "/" or being ".." would reach outside it.
bool is_plain_name(const std::string& name) {
    return name.find('/') == std::string::npos && name != "..";
}

const wchar_t* const kRefusedName = L"refused: names may not hold \"/\" or \"..\"";
const wchar_t* const kRecordingFailed = L"recording failed:";

}  // namespace

App::App(const std::string& base_folder)
    : base_folder(base_folder), pack_folder(base_folder + "/samples/default") {
    audio_engine = std::make_unique<AudioEngine>();
    sequencer = std::make_unique<Sequencer>();
    input_parser = std::make_unique<InputParser>(*sequencer, this);
    tutorial_pager = std::make_unique<Tutorial>();
    user_lib = std::make_unique<UserLib>(this->base_folder + "/samples");
    audio_engine->tick_callback = [this](int frames, int sample_rate) {
        sequencer->tick(frames, sample_rate);
    };
    play_option.on_change = [this] { sequencer->playing = play_checked; };
    record_option.on_change = [this] { toggle_recording(); };
    try {
        load_sample_pack("default", false);
    } catch (...) {
        // The watcher's handlers point into members that are about to go.
        user_lib.reset();
        throw;
    }
}

App::~App() {
    audio_engine->stop();
    // The watcher's thread runs handlers on the sample map and the sequencer:
    // it ends before those go.
    user_lib.reset();
}

// --- replies to the commands ---

namespace {

// A plain title and bold word lines, every one within the output area.
std::vector<tui::Element> wrapped_lines(const std::wstring& title,
                                        const std::vector<std::wstring>& words) {
    std::vector<tui::Element> lines;
    for (auto& line : wrap_text(title))
        lines.push_back(tui::text(std::move(line)));
    for (auto& line : wrap_words(words))
        lines.push_back(tui::text(std::move(line)) | tui::bold);
    return lines;
}

void keep_last_lines(std::vector<tui::Element>& output) {
    if (output.size() > max_output_len)
        output.erase(output.begin(), output.end() - static_cast<std::ptrdiff_t>(max_output_len));
}

}  // namespace

void App::add_words(const std::wstring& title, const std::vector<std::wstring>& words) {
    queue(wrapped_lines(title, words));
}

void App::add_failure(const std::wstring& title, const std::string& reason) {
    add_words(title, words_of(tui::to_wstring(reason)));
}

void App::queue(std::vector<tui::Element> lines) {
    std::lock_guard<std::mutex> lock(output_mutex);
    pending_output.insert(pending_output.end(), std::make_move_iterator(lines.begin()),
                          std::make_move_iterator(lines.end()));
}

void App::queue_lines(const std::vector<std::string>& lines, tui::Decorator style) {
    std::vector<tui::Element> styled;
    for (const auto& line : lines)
        styled.push_back(tui::text(tui::to_wstring(line)) | style);
    queue(std::move(styled));
}

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

void App::on_record(bool record) {
    end_failed_recording();
    const bool was_recording = audio_engine->is_recording();
    record_checked = record;
    if (record != was_recording)
        record_option.on_change();
    const std::wstring path = tui::to_wstring(audio_engine->recording_path);
    if (record) {
        if (audio_engine->is_recording())
            add_words(L"started recording...", {});
        else
            add_failure(L"could not start recording:",
                        audio_engine->recording_path + ": " +
                            std::strerror(audio_engine->last_recording_error()));
    } else if (!was_recording) {
        add_words(L"nothing is being recorded", {});
    } else if (audio_engine->last_recording_error() == 0) {
        add_words(L"saved as " + path, {});
    }
    // A failed recording has been reported by the stop itself.
}

void App::toggle_recording() {
    if (audio_engine->is_recording()) {
        audio_engine->end_recording();
        record_checked = false;
        if (audio_engine->last_recording_error() != 0)
            add_failure(kRecordingFailed, recording_failure());
        return;
    }
    // Takes begun within one second share the time stamp: a counter tells
    // them apart. The file is created exclusively, so no take replaces another.
    constexpr int kMostTakesPerSecond = 1000;
    const std::string stem = base_folder + "/recording_" + get_file_timestamp();
    for (int take = 1; take <= kMostTakesPerSecond; ++take) {
        const std::string suffix = take == 1 ? "" : "-" + std::to_string(take);
        record_checked = audio_engine->begin_recording(stem + suffix + ".wav");
        if (record_checked || audio_engine->last_recording_error() != EEXIST)
            return;
    }
}

void App::end_failed_recording() {
    if (!audio_engine->recording_failed())
        return;
    audio_engine->end_recording();
    record_checked = false;
    // Told now, not with the next command: the take ended without one.
    auto lines = wrapped_lines(kRecordingFailed, words_of(tui::to_wstring(recording_failure())));
    std::lock_guard<std::mutex> lock(output_mutex);
    output.insert(output.end(), lines.begin(), lines.end());
    keep_last_lines(output);
}

std::string App::recording_failure() const {
    return audio_engine->recording_path + ": " +
           std::strerror(audio_engine->last_recording_error()) +
           "; it keeps what was recorded before";
}

bool App::composition_name_usable(const std::string& name) {
    if (name.empty()) {
        add_words(L"Files: ", user_lib->get_json_files());
        return false;
    }
    if (!is_plain_name(name)) {
        add_words(kRefusedName, {});
        return false;
    }
    return true;
}

void App::on_save(const std::string& name) {
    if (!composition_name_usable(name))
        return;
    picojson::value composition = sequencer->to_json();
    if (composition.is<picojson::object>()) {
        composition.get<picojson::object>().insert(
            {"samplePack", picojson::value(tui::to_string(pack_name))});
    }
    const std::string path = base_folder + "/" + name + ".json";
    std::string error;
    if (!write_composition_file(path, composition.serialize(true), error)) {
        add_failure(L"could not save " + tui::to_wstring(name) + L".json:", error);
    }
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
    const auto& root = composition.get<picojson::object>();
    const auto pack = root.find("samplePack");
    if (pack != root.end() && pack->second.is<std::string>()) {
        const std::string& pack_to_use = pack->second.get<std::string>();
        if (!is_plain_name(pack_to_use)) {
            add_words(kRefusedName, {});
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
    std::lock_guard<std::mutex> lock(samples_mutex);
    const auto found = sample_buffers.find(name);
    if (found == sample_buffers.end())
        return false;
    audio_engine->play(found->second, 1.0f, 0);
    return true;
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
    for (const auto& line : wrap_words(names))
        listing += (listing.empty() ? "" : "\n") + tui::to_string(line);
    return listing;
}

void App::show_accepted_command(const std::wstring& command, const std::string& message) {
    std::lock_guard<std::mutex> lock(output_mutex);
    output.push_back(tui::text(L"> " + command));
    output.insert(output.end(), pending_output.begin(), pending_output.end());
    pending_output.clear();
    for (const auto& piece : split(message, "\n")) {
        output.push_back(tui::text(tui::to_wstring(piece)) | tui::bold);
    }
    keep_last_lines(output);
}

std::vector<tui::Element> App::output_lines() {
    std::lock_guard<std::mutex> lock(output_mutex);
    return output;
}

std::vector<tui::Element> App::pending_lines() {
    std::lock_guard<std::mutex> lock(output_mutex);
    return pending_output;
}

// --- packs and sample files ---

void App::load_sample_pack(const std::string& name, bool show_readme_lines) {
    if (name.empty()) {
        add_words(L"Sample packs: ", user_lib->get_sample_pack_names());
        return;
    }
    if (!is_plain_name(name)) {
        add_words(kRefusedName, {});
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
    std::uint64_t generation;
    // The old pack's buffers are freed once the lock is released: the
    // trigger never waits for a free.
    std::unordered_map<std::string, std::shared_ptr<AudioBuffer>> old_buffers;
    {
        std::lock_guard<std::mutex> lock(samples_mutex);
        old_buffers.swap(sample_buffers);
        sample_names.clear();
        generation = ++pack_generation;
        pack_loading = follow;
        removed_while_loading.clear();
    }
    old_buffers.clear();
    if (!follow)
        return;  // the handlers of the pack before are out of date and stay out
    // Bound before the library moves to the new folder, so that no event of
    // the new pack falls between the two; the handlers keep to their folder.
    bind_file_handlers(generation, pack_folder);
    user_lib->set_active_sample_pack(pack_folder);

    // The samples are added in the order of their paths.
    const std::vector<std::string> paths = user_lib->files();
    install_pack_samples(paths, decode_files(paths));

    if (show_readme_lines)
        show_readme(pack_folder + "/readme.txt");
}

std::vector<std::shared_ptr<AudioBuffer>> App::decode_files(const std::vector<std::string>& paths) {
    // Decoding takes the time of a switch: spread it over the cores.
    std::vector<std::shared_ptr<AudioBuffer>> buffers(paths.size());
    std::atomic<std::size_t> next{0};
    auto decode = [&] {
        for (std::size_t i = next++; i < paths.size(); i = next++) {
            buffers[i] = audio_engine->load_sample(paths[i]);
        }
    };
    const std::size_t workers =
        std::min<std::size_t>(paths.size(), std::max(1u, std::thread::hardware_concurrency()));
    std::vector<std::jthread> pool;
    for (std::size_t i = 1; i < workers; ++i)
        pool.emplace_back(decode);
    decode();
    pool.clear();
    return buffers;
}

void App::install_pack_samples(const std::vector<std::string>& paths,
                               std::vector<std::shared_ptr<AudioBuffer>> buffers) {
    // Of two files with one sample name the later path decides, also when it
    // does not decode.
    std::vector<std::string> names;
    std::unordered_map<std::string, std::shared_ptr<AudioBuffer>> loaded;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const std::string name = get_extension(paths[i]).name;
        if (!buffers[i]) {
            if (loaded.erase(name))
                std::erase(names, name);
            continue;
        }
        if (!loaded.count(name))
            names.push_back(name);
        loaded[name] = std::move(buffers[i]);
    }
    // The pack's handlers may have run while it was decoding. They saw later
    // states of their files, so what they stored or removed stands; but the
    // pack's own files come first, in the order of their paths.
    std::lock_guard<std::mutex> lock(samples_mutex);
    std::vector<std::string> order;
    for (const auto& name : names) {
        if (removed_while_loading.count(name) && !sample_buffers.count(name))
            continue;
        sample_buffers.try_emplace(name, std::move(loaded[name]));
        order.push_back(name);
    }
    for (const auto& name : sample_names) {
        if (!loaded.count(name))
            order.push_back(name);
    }
    sample_names = std::move(order);
    pack_loading = false;
    removed_while_loading.clear();
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

bool App::is_current(std::uint64_t generation) {
    std::lock_guard<std::mutex> lock(samples_mutex);
    return generation == pack_generation;
}

void App::update_sample_of(std::uint64_t generation, const std::string& path,
                           std::shared_ptr<AudioBuffer> buffer) {
    const std::string name = get_extension(path).name;
    if (!buffer) {
        if (!is_current(generation))
            return;
        sequencer->delete_sample(name);
    }
    // The buffer replaced or removed is freed after the lock is released
    // (declared first, so destroyed last): the trigger never waits for a free.
    std::shared_ptr<AudioBuffer> old_buffer;
    std::lock_guard<std::mutex> lock(samples_mutex);
    if (generation != pack_generation)
        return;
    const auto found = sample_buffers.find(name);
    if (!buffer) {
        if (found != sample_buffers.end()) {
            old_buffer = std::move(found->second);
            sample_buffers.erase(found);
        }
        std::erase(sample_names, name);
        if (pack_loading)
            removed_while_loading.insert(name);
        return;
    }
    if (found == sample_buffers.end()) {
        sample_names.push_back(name);
        sample_buffers.emplace(name, std::move(buffer));
        return;
    }
    old_buffer = std::exchange(found->second, std::move(buffer));
}

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

// --- the screen ---

namespace {

tui::Element fixed_width(tui::Element element, int width) {
    return element | tui::size(tui::WIDTH, tui::EQUAL, width);
}

// Sends the standard error stream to nowhere while the screen is up: libraries
// below the audio device and the decoders print notes there, which would
// scribble over the interface.
class QuietStandardError {
  public:
    QuietStandardError() : saved(::dup(STDERR_FILENO)) {
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (saved >= 0 && null >= 0)
            ::dup2(null, STDERR_FILENO);
        if (null >= 0)
            ::close(null);
    }
    ~QuietStandardError() {
        if (saved < 0)
            return;
        ::dup2(saved, STDERR_FILENO);
        ::close(saved);
    }
    QuietStandardError(const QuietStandardError&) = delete;
    QuietStandardError& operator=(const QuietStandardError&) = delete;

  private:
    int saved;
};

}  // namespace

void App::run() {
    audio_engine->start();

    CommandField field(*this);
    {
        std::lock_guard<std::mutex> lock(output_mutex);
        output.assign(max_output_len, tui::text(L""));
        output[max_output_len - 2] = tui::text(L"type 'tutorial' for tutorial") | tui::bold;
        output[max_output_len - 1] = tui::text(L"type 'help' for help") | tui::bold;
    }
    field.history_index = 0;
    play_option.on_change = [this] { sequencer->playing = play_checked; };
    record_option.on_change = [this] { toggle_recording(); };

    // Right column.
    auto pack_list = tui::Renderer([this] { return render_pack_list(); });
    auto sample_list = tui::Renderer([this] { return render_sample_list(); });
    auto right_column = tui::Container::Vertical({
        Window(L"Sample Packs", pack_list, -1),
        Window(L"Samples", tui::Scroller(tui::Container::Vertical({sample_list})), -1),
    });

    // Left column. Shift-Tab on "Play" and Tab on "Volume" close the focus ring
    // through the command field.
    field.play_checkbox = tui::CatchEvent(tui::Checkbox("Play", &play_checked, play_option),
                                          [&field](const tui::Event& event) {
                                              if (event != tui::Event::TabReverse)
                                                  return false;
                                              field.command_input->TakeFocus();
                                              return true;
                                          });
    auto spacer = tui::Renderer([] { return fixed_width(tui::text(L""), 20); });
    field.volume_slider =
        tui::CatchEvent(tui::Slider("Volume", &audio_engine->master_volume, 0.0f, 1.0f, 0.05f),
                        [&field](const tui::Event& event) {
                            if (event != tui::Event::Tab)
                                return false;
                            field.command_input->TakeFocus();
                            return true;
                        });
    auto settings = tui::Container::Vertical({
        field.play_checkbox,
        tui::Checkbox("Record", &record_checked, record_option),
        tui::Checkbox("Basic", &basic_view),
        spacer,
        tui::Slider("BPM   ", &sequencer->bpm, 20, 240, 1),
        field.volume_slider,
    });
    auto part_list = tui::Renderer([this] { return render_part_list(); });
    auto left_column = tui::Container::Vertical({
        Window(L"Settings", settings, 8),
        Window(L"Parts", tui::Scroller(tui::Container::Vertical({part_list})), -1),
    });

    field.command_option.on_enter = [&field] { field.on_enter(); };

    auto middle_column = tui::Renderer(
        tui::CatchEvent(field.command_input,
                        [&field](const tui::Event& event) { return field.on_key(event); }),
        [this, &field] { return render_main(field); });
    // The step clock asks for the focus from the audio thread; it is moved
    // here, on the interface thread, when the posted event arrives.
    auto root =
        tui::CatchEvent(tui::Container::Horizontal({left_column, middle_column, right_column}),
                        [this, &field](const tui::Event& event) {
                            if (event == tui::Event::Custom)
                                field.command_input->TakeFocus();
                            end_failed_recording();
                            // The sounds that ended meanwhile are freed here,
                            // on this thread, not on the audio thread.
                            audio_engine->release_ended_players();
                            return false;
                        });

    auto screen = tui::ScreenInteractive::Fullscreen();
    // However the loop ends, the audio thread lets go of the screen and the
    // field before they go (declared after them, so it runs first).
    struct Unhook {
        App& app;
        ~Unhook() {
            app.audio_engine->stop();
            app.audio_engine->set_recording_failed_callback(nullptr);
            app.sequencer->set_callbacks(nullptr, nullptr, nullptr);
        }
    } unhook{*this};
    sequencer->set_callbacks([&screen](int) { screen.PostEvent(tui::Event::Custom); },
                             [this](std::shared_ptr<SequencerPattern> pattern, int step) {
                                 std::lock_guard<std::mutex> lock(samples_mutex);
                                 const auto found = sample_buffers.find(pattern->name);
                                 if (found == sample_buffers.end())
                                     return;
                                 audio_engine->play(found->second, pattern->volume,
                                                    pattern->steps[step].pitch);
                             },
                             [this](const std::string& name) {
                                 std::lock_guard<std::mutex> lock(samples_mutex);
                                 return sample_buffers.count(name) > 0;
                             });
    // A take that fails wakes the loop, which ends it and says so at once.
    audio_engine->set_recording_failed_callback(
        [&screen] { screen.PostEvent(tui::Event::Custom); });
    field.command_input->TakeFocus();
    QuietStandardError quiet;
    screen.Loop(root);
}

tui::Element App::render_main(CommandField& field) {
    std::vector<tui::Element> lines;
    {
        std::lock_guard<std::mutex> lock(output_mutex);
        lines = output;
    }
    // Squeezed, the output area keeps its newest lines in view.
    if (!lines.empty())
        lines.back() = lines.back() | tui::select;
    auto output_block =
        fixed_width(tui::vbox(std::move(lines)) | tui::yframe, kTextWidth) | tui::hcenter;
    auto command_block = fixed_width(tui::vbox({
                                         tui::text(L"") | tui::yflex_shrink,
                                         tui::text(L"Command:") | tui::yflex_shrink,
                                         field.command_input->Render(),
                                         tui::text(field.status_text) | field.status_style,
                                         tui::text(L"") | tui::yflex_shrink,
                                     }),
                                     kTextWidth) |
                         tui::hcenter;
    // Short of rows, the pattern grid gives way first (cut at the bottom), then
    // the oldest output lines; the command field and its status line stay.
    auto above_grid = tui::vbox({output_block | tui::yflex_shrink, command_block});
    auto grid = render_pattern_grid() | tui::yframe | tui::yflex_shrink;
    return custom_window(tui::text(L"Quarn"), tui::vbox({above_grid, grid}) | tui::xflex);
}

tui::Element App::render_pattern_grid() {
    const int name_width = basic_view ? 14 : 30;
    tui::Elements rows;
    for (const auto& pattern : sequencer->snapshot_patterns(true)) {
        const int current = sequencer->current_step();
        std::wostringstream header;
        header << (pattern.enabled ? L"> " : L". ") << std::left << std::setw(name_width)
               << tui::to_wstring(pattern.name) << L" " << std::fixed << std::setprecision(2)
               << pattern.volume << L" &" << pattern.random;
        rows.push_back(tui::text(header.str()));

        tui::Elements cells;
        for (int i = 0; i < 8; ++i) {
            const auto& step = pattern.steps[i];
            std::wstring cell;
            if (basic_view) {
                cell = step.on ? L" # " : L" - ";
            } else {
                cell = step.on ? L" #" + to_tiny_string(step.pitch) : L" -   ";
            }
            const bool lit = pattern.enabled && i == current;
            cells.push_back(tui::text(cell) |
                            tui::bgcolor(lit ? tui::Color::GrayLight : tui::Color::GrayDark) |
                            tui::color(tui::Color::White));
        }
        rows.push_back(tui::hbox(std::move(cells)));
    }
    return tui::vbox(std::move(rows)) | tui::hcenter;
}

tui::Element App::render_pack_list() {
    const auto names = user_lib->get_sample_pack_names();
    tui::Elements rows;
    for (const auto& name : names)
        rows.push_back(tui::text((name == pack_name ? L"> " : L"  ") + name));
    return fixed_width(tui::vbox(std::move(rows)), 20) |
           tui::size(tui::HEIGHT, tui::EQUAL, static_cast<int>(names.size()));
}

tui::Element App::render_sample_list() {
    tui::Elements rows;
    {
        std::lock_guard<std::mutex> lock(samples_mutex);
        for (const auto& name : sample_names)
            rows.push_back(tui::text(tui::to_wstring(name)));
    }
    return fixed_width(tui::vbox(std::move(rows)), 20);
}

tui::Element App::render_part_list() {
    tui::Elements rows;
    for (const auto& name : sequencer->get_state_names()) {
        rows.push_back(tui::text(tui::to_wstring(name)));
    }
    if (rows.empty())
        rows.push_back(tui::text(L"None"));
    return fixed_width(tui::vbox(std::move(rows)), 20);
}
