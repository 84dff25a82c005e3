#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include <picojson.h>

// One step of a pattern.
struct SequencePatternStep {
    bool on = false;
    int pitch = 0;  // semitones, 0 = unshifted
};

// One instrument: the pattern of the sample called `name`.
//
// While a pattern is in the sequencer's lists the audio thread reads it under
// Sequencer::patterns_mutex; other threads change its fields only through
// Sequencer::edit_pattern and read them through Sequencer::read_pattern or
// Sequencer::snapshot_patterns.
struct SequencerPattern {
    std::string name;
    int random = 0;          // shuffle every `random` measures; below 1 = never
    int random_counter = 0;  // measures counted toward the next shuffle (step clock only)
    float volume = 1.0f;
    bool active = false;  // only active patterns sound, are drawn and are saved
    bool enabled = true;  // false when muted
    std::array<SequencePatternStep, 8> steps{};
};

using PatternPtr = std::shared_ptr<SequencerPattern>;
using PatternList = std::vector<PatternPtr>;

// One part: a named snapshot of all patterns and the tempo.
struct SequencerState {
    explicit SequencerState(std::string name);

    std::string name;
    int bpm = 120;
    PatternList patterns;  // the part's own copies, never shared with another list
};

// A new copy of every pattern, same order. Takes no lock: its callers hold it.
PatternList clone_patterns(const PatternList& patterns);

// Names of the pitch classes, C first.
inline constexpr std::array<std::string_view, 12> note_names = {"C",  "C#", "D",  "D#", "E",  "F",
                                                                "F#", "G",  "G#", "A",  "A#", "B"};

// A double truncated toward zero and held to the int range. Any thread.
int truncate_to_int(double value);

// The note of a pitch: 0 is "C3", 7 "G3", -1 "B2". Any thread.
std::string note_name(int pitch);

// Steps in the step notation, always eight: "#-#7---#-12-". Any thread.
std::string step_text(const std::array<SequencePatternStep, 8>& steps);

// True when `object` is a JSON object whose member `key` has type T. Any thread.
template <class T>
bool key_is(const picojson::value& object, const std::string& key) {
    return object.is<picojson::object>() && object.contains(key) && object.get(key).is<T>();
}

// The musical state and its step clock.
//
// Threads: every operation may be called from the main thread, the file
// watcher's thread and the sample intake's timer thread (a second try that
// fails removes its sample's instruments); `tick` only from the audio
// thread. All of them take `patterns_mutex` except `current_step`, `tick`
// while paused, and the plain reads of the atomics. The program's lock order
// is written in SampleIntake.h: this mutex comes after the intake's commit
// lock and before the application's sample lock.
class Sequencer {
  public:
    using StepCallback = std::function<void(int)>;
    using TriggerCallback = std::function<void(std::shared_ptr<SequencerPattern>, int)>;
    using SampleExistsCallback = std::function<bool(const std::string&)>;

    Sequencer();
    virtual ~Sequencer();
    Sequencer(const Sequencer&) = delete;
    Sequencer& operator=(const Sequencer&) = delete;

    // Installs the three callbacks together, under the lock, so that the audio
    // thread may already be running `tick`. Any thread but the audio thread.
    void set_callbacks(StepCallback step, TriggerCallback trigger, SampleExistsCallback exists);

    // Patterns and parts.
    PatternPtr get_pattern(const std::string& name);
    PatternPtr get_or_create_pattern(const std::string& name);
    PatternList get_patterns(bool only_active);
    std::vector<std::string> get_pattern_names(bool only_active);
    void delete_sample(const std::string& name);
    void rename_sample(const std::string& old_name, const std::string& new_name);
    void set_pattern(PatternPtr pattern);
    void delete_part(const std::string& name);
    bool save_state(const std::string& name);
    bool load_state(const std::string& name);
    bool delete_state(const std::string& name);
    std::vector<std::string> get_state_names();
    void clear();

    // Changes the fields of a pattern (live or not) under the lock, so that the
    // audio thread never sees it half written. `edit` must not call back into
    // the sequencer.
    template <class Edit>
    void edit_pattern(const PatternPtr& pattern, Edit&& edit) {
        std::lock_guard<std::mutex> lock(patterns_mutex);
        edit(*pattern);
    }

    // The composition as JSON, without the application's "samplePack". Main
    // thread.
    picojson::value to_json() const;

    // Replaces patterns, parts and tempo from a composition; false, changing
    // nothing, when `root` is no object or holds more than the sequencer
    // takes (see too_large_to_load). Always builds new pattern objects.
    // Main thread, never while holding the lock.
    bool from_json(const picojson::value& root);

    // The most instruments a composition may hold in its current list and in
    // each part: the step clock walks the current list at every step on the
    // audio thread, and recalling a part makes its list the current one.
    static constexpr std::size_t max_instruments = 100000;

    // Why from_json would refuse `root` for its size (more than
    // max_instruments elements in "activeInstruments" or in a part's
    // "instrumentCollection", or more instrument names in all of them, which
    // to_json writes into one list), or "" when it would not. Any thread.
    static std::string too_large_to_load(const picojson::value& root);

    // A consistent copy of one pattern, taken under the lock.
    SequencerPattern read_pattern(const PatternPtr& pattern) const;

    // Consistent copies of the current patterns (only the active ones when
    // `only_active`), in list order, taken under one lock: at most `count` of
    // them from the `first` one of that selection on. The work grows with the
    // patterns up to the last copy, not with those after it.
    std::vector<SequencerPattern> snapshot_patterns(bool only_active, std::size_t first = 0,
                                                    std::size_t count = SIZE_MAX) const;

    // The number of current patterns, active or not, without walking them.
    std::size_t pattern_count() const;

    // The number of parts, and the names of at most `count` of them from the
    // `first` one on, in the order of the parts list.
    std::size_t part_count() const;
    std::vector<std::string> get_state_names(std::size_t first, std::size_t count);

    // The step clock. Audio thread only, once per period.
    void tick(int frames, int sample_rate);

    // Ramps the tempo to `target` over `seconds` (0 = at the next running tick);
    // a target of 0 or below cancels a running ramp.
    void animate_bpm(int target, double seconds);

    // The step last advanced to, 0 before the first advance. Any thread, no lock.
    int current_step() const { return published_step.load(std::memory_order_relaxed); }

    // Written by the interface and commands, read by the audio thread.
    std::atomic<bool> playing{true};
    std::atomic<int> bpm{120};

  private:
    // Frames per step for the tempo, with the tempo held to 1 .. 30 x rate so
    // that a step is never 0 frames long.
    static int frames_per_step(int tempo, int sample_rate);

    void advance_ramp(int frames, int sample_rate);
    void play_step();

    StepCallback on_step;
    TriggerCallback on_trigger;
    SampleExistsCallback sample_exists;

    mutable std::mutex patterns_mutex;
    PatternList patterns;
    std::vector<std::shared_ptr<SequencerState>> states;

    std::atomic<int> published_step{0};
    double ramp_target = 0.0;
    double ramp_start = 0.0;
    double ramp_duration = 0.0;
    double ramp_elapsed = 0.0;
    int step_index = -1;
    int frame_accumulator = 0;  // touched by the audio thread only
};
