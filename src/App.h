#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "AudioEngine.h"
#include "Help.h"
#include "InputParser.h"
#include "SampleIntake.h"
#include "Sequencer.h"
#include "UserLib.h"
#include "tui/component/component.h"
#include "tui/component/component_options.h"
#include "tui/dom/elements.h"
#include "tui/screen/screen.h"

// ---------------------------------------------------------------------------
// The application: owns every part of the system and answers the commands
// that need more than the sequencer.
// ---------------------------------------------------------------------------

// Lines the output area keeps.
extern const std::size_t max_output_len;

class CommandField;
namespace tui {
class ScreenInteractive;
}

class App : public ParseListener {
  public:
    // Main thread. Builds the whole system and switches to the pack "default".
    explicit App(const std::string& base_folder);
    // Main thread. Stops the audio thread and the watcher's thread before any
    // member they use goes.
    virtual ~App();
    App(const App&) = delete;
    App& operator=(const App&) = delete;

    // Main thread. The full-screen interface, until the terminal library ends
    // its loop (an ending signal, or the end of the input). However it ends,
    // by returning or by an exception, the audio engine is stopped and the
    // sequencer's callbacks are cleared first.
    void run();

    // Main thread.
    Sequencer& get_sequencer() { return *sequencer; }
    AudioEngine& get_audio_engine() { return *audio_engine; }
    InputParser& get_input_parser() { return *input_parser; }
    // Any thread. Where the pack's files become samples (the memory bound, the second tries).
    SampleIntake& get_sample_intake() { return *intake; }

    // The commands' side of the application. Main thread, inside InputParser::parse.
    void on_sample_pack(const std::string& name) override;
    void on_play(bool play) override;
    void on_record(bool record) override;
    void on_save(const std::string& name) override;
    void on_load(const std::string& name) override;
    void on_help(const std::string& topic) override;
    void on_tutorial() override;
    void on_tutorial_next() override;
    bool on_play_sample(const std::string& name) override;
    bool has_sample(const std::string& name) override;
    float on_get_volume() override;
    void on_set_volume(float volume) override;
    std::string get_sample_listing() override;

    // Queues a plain title line and the words wrapped into bold lines of at
    // most 48 columns. A wider title is wrapped over plain lines and a wider
    // word is cut, so every line fits the output area. Any thread.
    void add_words(const std::wstring& title, const std::vector<std::wstring>& words);
    // Why something failed: a short plain title ("could not save x.json:")
    // and the reason (UTF-8) in wrapped bold lines. Any thread.
    void add_failure(const std::wstring& title, const std::string& reason);

    // Main thread. Makes `name` the active pack (the empty name lists the packs).
    void load_sample_pack(const std::string& name, bool show_readme);

    // Main thread. Installs the sequencer's callbacks: a sounding step plays
    // its pattern's sample at the pattern's volume and the step's pitch,
    // instruments are made only of loaded samples, and `on_step` runs after
    // each step on the audio thread. run() gives the screen's redraw.
    void connect_sequencer(std::function<void(int step)> on_step);

    // Main thread. Ends a recording that failed while it ran (a full disk, the
    // file-size limit, a disk too slow) and says so in the output area at
    // once, clearing the "Record" box; does nothing otherwise. The interface
    // calls it on every event, and a failing recording posts one.
    void end_failed_recording();

    // Main thread. Shows what failed meanwhile on another thread (the folder
    // watcher, the decoding) in the output area at once; does nothing
    // otherwise. The interface calls it on every event, and a failure posts one.
    void show_background_failures();

    // Main thread. What an accepted command shows: its echo, the queued lines,
    // then the pieces of its output text; the area keeps the last lines.
    void show_accepted_command(const std::wstring& command, const std::string& message);

    // Copies of the output area and of the queued lines. Any thread.
    std::vector<tui::Element> output_lines();
    std::vector<tui::Element> pending_lines();

    // Main thread. The middle column: the output area, the command field with
    // its status line, and the pattern grid.
    tui::Element render_main(CommandField& field);

  private:
    friend class CommandField;

    // The pack's file handlers (AppFileEvents.cpp), bound to the sample
    // library for one pack: a late handler of an earlier pack stays out.
    void bind_file_handlers(std::uint64_t pack, const std::string& folder);
    void on_sample_file_changed(std::uint64_t pack, const std::string& folder,
                                const std::string& path);
    void on_sample_file_deleted(std::uint64_t pack, const std::string& folder,
                                const std::string& path);
    void on_sample_file_moved(std::uint64_t pack, const std::string& folder,
                              const std::string& old_path, const std::string& new_path);
    // File events of the pack were lost: loads the files that changed as a
    // switch would and takes the instruments of samples whose files are
    // gone, leaving the other instruments and the parts alone.
    void on_sample_files_missed(std::uint64_t pack, const std::string& folder);
    // A changed file for its change: stored, refused, or tried once more.
    // Watcher's thread, or the intake's timer thread for the second try.
    void take_changed_file(const SampleIntake::Change& change, const std::string& path,
                           bool second_try);
    // Adds or replaces the sample named after `path`; an empty buffer removes
    // it and its instruments. Under the intake's commit lock, on the thread
    // of the change it stores.
    void update_sample(const std::string& path, std::shared_ptr<AudioBuffer> buffer);
    // The files of a switch, each the last of its sample name in path order,
    // taken in for their changes and added in that order; the refused ones
    // named in the output area. Main thread.
    void load_pack_files(std::uint64_t pack, const std::vector<std::string>& paths);
    // Of a pack's files in path order, the last of each sample name: the one
    // that decides it.
    static std::vector<std::string> last_of_each_name(const std::vector<std::string>& paths);
    // Names the files refused, under the title of their refusal: `now` in the
    // output area at once (no command to follow), otherwise after the
    // command. Any thread.
    void tell_refused(const std::vector<std::string>& paths,
                      const std::vector<SampleIntake::Taken>& taken, bool now);
    // Any thread. Keeps the news of work that failed off the interface thread
    // (a plain title, the reason in bold lines) for show_background_failures
    // and wakes the interface; news still waiting to be shown is not kept twice.
    void report_background_failure(const std::wstring& title, const std::string& reason);
    // Watcher thread: a handler failed on `path`, or the watching ended ("").
    void report_watcher_failure(const std::string& path, const std::string& what);
    // Plays the loaded sample `name`; false when there is none. Any thread,
    // the audio thread too (from the step clock's trigger).
    bool play_sample(const std::string& name, float volume, int semitones);

    // An empty name lists the composition files and a name reaching outside
    // the base folder is refused; both reply and give false. Main thread.
    bool composition_name_usable(const std::string& name);
    void toggle_recording();
    // Why the last recording failed, with its path. Main thread.
    std::string recording_failure() const;
    // Composition and pack names may hold no "/" and may not be "..".
    static bool is_plain_name(const std::string& name);
    // The reply to a name that is not plain.
    void refuse_name();
    // add_words straight into the output area, for news that comes without a
    // command. Main thread.
    void show_words_now(const std::wstring& title, const std::vector<std::wstring>& words);
    // Appends finished lines to the pending ones; the lines are made before
    // the output lock is taken. Any thread.
    void queue(std::vector<tui::Element> lines);
    void queue_lines(const std::vector<std::string>& lines, tui::Decorator style);
    void show_readme(const std::string& path);

    // The interface, built by run() (AppScreen.cpp).
    tui::Component settings_column(CommandField& field);
    tui::Component lists_column();
    // The sequencer's callbacks, the engine's failure callback and the wake-up
    // for news from other threads, which reach the screen. Cleared when run() ends.
    void connect_to_screen(tui::ScreenInteractive& screen);
    tui::Element render_pattern_grid();
    tui::Element render_pack_list();
    tui::Element render_sample_list();
    tui::Element render_part_list();

    std::unique_ptr<Sequencer> sequencer;
    std::unique_ptr<AudioEngine> audio_engine;
    std::unique_ptr<UserLib> user_lib;
    std::unique_ptr<InputParser> input_parser;
    std::unique_ptr<Tutorial> tutorial_pager;

    // The lock order of the whole program is written down in SampleIntake.h.
    std::mutex samples_mutex;  // guards the two members below
    SampleIntake::SampleMap sample_buffers;
    std::vector<std::string> sample_names;  // load order

    std::string base_folder;
    std::string pack_folder;
    bool record_checked = false;
    tui::CheckboxOption record_option;
    bool play_checked = true;
    tui::CheckboxOption play_option;
    bool basic_view = true;

    std::mutex output_mutex;  // guards the three members below; never held with another lock
    std::vector<tui::Element> output;
    std::vector<tui::Element> pending_output;
    std::vector<std::pair<std::wstring, std::string>> background_failures;  // title, reason

    std::mutex wake_mutex;                 // guards the member below; never held with another lock
    std::function<void()> wake_interface;  // set while run() shows the screen

    std::wstring pack_name;     // main thread
    bool pack_refused = false;  // main thread: the last "use" named no pack

    // Declared last: its timer's thread, which runs second tries on the
    // members above, stops before they go.
    std::unique_ptr<SampleIntake> intake = std::make_unique<SampleIntake>(
        samples_mutex, sample_buffers,
        [this](const std::wstring& title, const std::string& reason) {
            report_background_failure(title, reason);
        });
};
