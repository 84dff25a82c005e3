#include "App.h"

#include <algorithm>

#include "ReplyText.h"
#include "string_utils.h"
#include "tui/screen/unicode.h"

const std::size_t max_output_len = 10;

bool App::is_plain_name(const std::string& name) {
    // Composition and pack names become file names under the base folder:
    // one holding "/" or being ".." would reach outside it, and the system
    // would cut one holding a NUL short, to another name.
    return name.find_first_of("/\0", 0, 2) == std::string::npos && name != "..";
}

App::App(const std::string& base_folder)
    : base_folder(base_folder), pack_folder(base_folder + "/samples/default") {
    audio_engine = std::make_unique<AudioEngine>();
    sequencer = std::make_unique<Sequencer>();
    input_parser = std::make_unique<InputParser>(*sequencer, this);
    tutorial_pager = std::make_unique<Tutorial>();
    user_lib = std::make_unique<UserLib>(this->base_folder + "/samples",
                                         [this](const std::string& path, const std::string& what) {
                                             report_watcher_failure(path, what);
                                         });
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

void App::report_background_failure(const std::wstring& title, const std::string& reason) {
    {
        std::lock_guard<std::mutex> lock(output_mutex);
        // A fault that recurs while its news waits (a thread limit met by
        // every decoding) is told once; once shown, it is told again.
        const std::pair<std::wstring, std::string> news{title, reason};
        if (std::find(background_failures.begin(), background_failures.end(), news) !=
            background_failures.end())
            return;
        background_failures.push_back(news);
    }
    std::lock_guard<std::mutex> lock(wake_mutex);
    if (wake_interface)
        wake_interface();
}

void App::report_watcher_failure(const std::string& path, const std::string& what) {
    if (path.empty()) {
        report_background_failure(L"folder watching stopped:", what);
        return;
    }
    // Shown from the samples folder on: the base folder's path adds nothing.
    const std::string samples = folder_prefix(base_folder + "/samples");
    const std::string shown = path.starts_with(samples) ? path.substr(samples.size()) : path;
    report_background_failure(L"could not follow a change to " + tui::to_wstring(shown) + L":",
                              what);
}

void App::show_background_failures() {
    std::vector<std::pair<std::wstring, std::string>> failures;
    {
        std::lock_guard<std::mutex> lock(output_mutex);
        failures.swap(background_failures);
    }
    for (const auto& [title, reason] : failures)
        show_words_now(title, words_of(tui::to_wstring(reason)));
}
