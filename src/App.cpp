#include "App.h"

const std::size_t max_output_len = 10;

bool App::is_plain_name(const std::string& name) {
    // Composition and pack names become file names under the base folder:
    // one holding "/" or being ".." would reach outside it.
    return name.find('/') == std::string::npos && name != "..";
}

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
