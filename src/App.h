#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "AudioEngine.h"
#include "CallTimer.h"
#include "Help.h"
#include "InputParser.h"
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

    // The memory the loaded samples may take in all, however they came (a
    // pack switch or files added while running): files past it are refused
    // by name, judged by their declared lengths before they are decoded. At
    // most 2 GiB, and a quarter of the memory on a machine with less than
    // 8 GiB. Any thread; applies to the files loaded after it.
    static std::uint64_t machine_sample_memory_limit();
    void limit_sample_memory(std::uint64_t bytes);
    // Any thread. Files that did not decode, waiting for their second try.
    std::size_t waiting_retries() const { return retry_timer->waiting(); }

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

    // Handlers bound to the sample library for one pack switch; the
    // generation tells a late handler of an earlier pack to stay out.
    void bind_file_handlers(std::uint64_t generation, const std::string& folder);
    void on_sample_file_changed(std::uint64_t generation, const std::string& folder,
                                const std::string& path);
    void on_sample_file_deleted(std::uint64_t generation, const std::string& folder,
                                const std::string& path);
    void on_sample_file_moved(std::uint64_t generation, const std::string& folder,
                              const std::string& old_path, const std::string& new_path);
    // File events of the pack were lost: loads its files as a switch would
    // and takes the instruments of samples whose files are gone, leaving the
    // other instruments and the parts alone.
    void on_sample_files_missed(std::uint64_t generation, const std::string& folder);
    // Any thread. Keeps the news of work that failed off the interface thread
    // (a plain title, the reason in bold lines) for show_background_failures
    // and wakes the interface; the same news twice in a row is kept once.
    void report_background_failure(const std::wstring& title, const std::string& reason);
    // Watcher thread: a handler failed on `path`, or the watching ended ("").
    void report_watcher_failure(const std::string& path, const std::string& what);
    // A second try that failed (with its path), or the timer's thread that
    // could not start (no path): the tries then wait on the watcher's thread.
    void report_retry_failure(const std::string& path, const std::exception_ptr& failure);
    // A file that could not be decoded for `failure` (not merely a file that
    // is no sound). Any thread.
    void report_decoding_failure(const std::string& path, std::exception_ptr failure) noexcept;
    // Adds or replaces the sample named after `path`; an empty buffer removes
    // it and its instruments. Does nothing once another pack is active. Main
    // thread or the watcher's thread.
    void update_sample_of(std::uint64_t generation, const std::string& path,
                          std::shared_ptr<AudioBuffer> buffer);
    bool is_current(std::uint64_t generation);
    // Plays the loaded sample `name`; false when there is none. Any thread,
    // the audio thread too (from the step clock's trigger).
    bool play_sample(const std::string& name, float volume, int semitones);
    // One buffer per path (null where a file does not decode), decoded on
    // all cores. Main thread or the watcher's thread.
    std::vector<std::shared_ptr<AudioBuffer>> decode_files(const std::vector<std::string>& paths);
    // Adds a switch's decoded files, one buffer per path (null where a file
    // did not decode), in the order of the paths.
    void install_pack_samples(const std::vector<std::string>& paths,
                              std::vector<std::shared_ptr<AudioBuffer>> buffers);

    // Memory set aside for decodes in flight, counted with the loaded
    // samples until it is given back, when it goes.
    class SampleReservation {
      public:
        explicit SampleReservation(App& app) : app(app) {}
        ~SampleReservation();
        SampleReservation(const SampleReservation&) = delete;
        SampleReservation& operator=(const SampleReservation&) = delete;
        // samples_mutex held.
        void add(std::uint64_t more);

      private:
        App& app;
        std::uint64_t bytes = 0;
    };
    // Of a pack's files in path order, those a switch decodes: the last file
    // of each sample name (the one that decides it), as far as they fit the
    // memory limit by their declared lengths, taken in path order; the files
    // past it are named in the output area. Sets their memory aside.
    std::vector<std::string> files_within_limit(const std::vector<std::string>& paths,
                                                SampleReservation& reservation);
    // Decodes one file of the pack `generation` whose memory, with that of
    // the loaded samples but the one it replaces, stays within the limit;
    // null when it does not decode, when another pack is active, or when it
    // is past the limit (`refused`, and named in the output area). A sample
    // it replaces that would not fit beside it while it decodes lets go of
    // its memory first: still listed, it is silent until the file is stored.
    std::shared_ptr<AudioBuffer> decode_within_limit(std::uint64_t generation,
                                                     const std::string& path,
                                                     SampleReservation& reservation, bool& refused);
    // samples_mutex held. The loaded samples' memory but that of `left_out`,
    // and the memory set aside.
    std::uint64_t sample_bytes_held(const std::string& left_out);
    // The title under which files past the memory limit are named.
    static std::wstring memory_refusal(std::uint64_t limit);

    // Stores what an event found in `path`; a retry still waiting for the
    // file is dropped, this being newer. Watcher's or retry thread.
    void store_file_result(std::uint64_t generation, const std::string& path,
                           std::shared_ptr<AudioBuffer> buffer);
    // No lock held. Decodes `path` once more a moment later.
    void schedule_retry(std::uint64_t generation, const std::string& path);
    void retry_file(std::uint64_t generation, const std::string& path, std::uint64_t ticket);

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

    std::mutex samples_mutex;  // guards the seven members below
    std::unordered_map<std::string, std::shared_ptr<AudioBuffer>> sample_buffers;
    std::vector<std::string> sample_names;  // load order
    std::uint64_t pack_generation = 0;      // counts pack switches
    // While a switch decodes its pack: the names its handlers removed meanwhile.
    bool pack_loading = false;
    std::unordered_set<std::string> removed_while_loading;
    std::uint64_t sample_memory_limit = machine_sample_memory_limit();  // bytes
    std::uint64_t reserved_sample_bytes = 0;                            // by decodes in flight

    // Taken while a file event's result is stored (outside samples_mutex),
    // so that a retry never stores an older state over a newer event's.
    std::mutex file_commit_mutex;
    std::unordered_map<std::string, std::uint64_t> retry_tickets;  // path: its waiting retry
    std::uint64_t last_retry_ticket = 0;

    std::string base_folder;
    std::string pack_folder;
    bool record_checked = false;
    tui::CheckboxOption record_option;
    bool play_checked = true;
    tui::CheckboxOption play_option;
    bool basic_view = true;

    std::mutex output_mutex;  // guards the four members below; never held with another lock
    std::vector<tui::Element> output;
    std::vector<tui::Element> pending_output;
    std::vector<std::pair<std::wstring, std::string>> background_failures;  // title, reason
    std::wstring last_background_failure;

    std::mutex wake_mutex;                 // guards the member below; never held with another lock
    std::function<void()> wake_interface;  // set while run() shows the screen

    std::wstring pack_name;     // main thread
    bool pack_refused = false;  // main thread: the last "use" named no pack

    // Second tries of files that did not decode, a pause after the first, so
    // that no other file event waits for the pause. Declared last: it stops
    // before the members its calls use go.
    std::unique_ptr<CallTimer> retry_timer = std::make_unique<CallTimer>(
        [this](const std::string& path, const std::exception_ptr& failure) {
            report_retry_failure(path, failure);
        });
};
