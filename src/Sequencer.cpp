#include "Sequencer.h"

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <map>
#include <numbers>
#include <optional>
#include <random>
#include <set>

#include "InputParser.h"

// The shuffle's random source: seeded once per run, used on the audio thread only.
std::random_device dev("default");
std::mt19937 rng(dev());
std::uniform_int_distribution<unsigned long> dist8(0, 7);

namespace {

constexpr int kStepsPerMeasure = 8;

// Double to int, truncated toward zero and held to the int range.
int truncate_to_int(double value) {
    if (!(value > static_cast<double>(INT_MIN)))
        return INT_MIN;
    if (!(value < static_cast<double>(INT_MAX)))
        return INT_MAX;
    return static_cast<int>(value);
}

template <class List>
auto find_by_name(List& list, const std::string& name) {
    return std::find_if(list.begin(), list.end(),
                        [&name](const auto& item) { return item->name == name; });
}

template <class List>
void erase_by_name(List& list, const std::string& name) {
    std::erase_if(list, [&name](const auto& item) { return item->name == name; });
}

void shuffle_steps(SequencerPattern& pattern) {
    // Every position draws over all eight steps, not only the ones below it.
    for (int i = kStepsPerMeasure - 1; i >= 0; --i) {
        std::swap(pattern.steps[i], pattern.steps[dist8(rng)]);
    }
}

}  // namespace

SequencerState::SequencerState(std::string name) : name(std::move(name)) {}

PatternList clone_patterns(const PatternList& patterns) {
    PatternList copies;
    copies.reserve(patterns.size());
    for (const auto& pattern : patterns) {
        copies.push_back(std::make_shared<SequencerPattern>(*pattern));
    }
    return copies;
}

Sequencer::Sequencer() = default;

Sequencer::~Sequencer() = default;

void Sequencer::set_callbacks(StepCallback step, TriggerCallback trigger,
                              SampleExistsCallback exists) {
    std::lock_guard<std::mutex> lock(patterns_mutex);
    on_step = std::move(step);
    on_trigger = std::move(trigger);
    sample_exists = std::move(exists);
}

PatternPtr Sequencer::get_pattern(const std::string& name) {
    std::lock_guard<std::mutex> lock(patterns_mutex);
    auto found = find_by_name(patterns, name);
    return found == patterns.end() ? nullptr : *found;
}

PatternPtr Sequencer::get_or_create_pattern(const std::string& name) {
    std::lock_guard<std::mutex> lock(patterns_mutex);
    auto found = find_by_name(patterns, name);
    if (found != patterns.end())
        return *found;
    if (!sample_exists || !sample_exists(name))
        return nullptr;

    auto pattern = std::make_shared<SequencerPattern>();
    pattern->name = name;
    pattern->active = true;
    pattern->enabled = false;
    // Every part gains the new instrument muted.
    for (auto& state : states) {
        state->patterns.push_back(std::make_shared<SequencerPattern>(*pattern));
    }
    pattern->enabled = true;
    patterns.push_back(pattern);
    return pattern;
}

PatternList Sequencer::get_patterns(bool only_active) {
    std::lock_guard<std::mutex> lock(patterns_mutex);
    PatternList result;
    for (const auto& pattern : patterns) {
        if (!only_active || pattern->active)
            result.push_back(pattern);
    }
    return result;
}

std::vector<std::string> Sequencer::get_pattern_names(bool only_active) {
    std::lock_guard<std::mutex> lock(patterns_mutex);
    std::vector<std::string> names;
    for (const auto& pattern : patterns) {
        if (!only_active || pattern->active)
            names.push_back(pattern->name);
    }
    return names;
}

void Sequencer::delete_sample(const std::string& name) {
    std::lock_guard<std::mutex> lock(patterns_mutex);
    erase_by_name(patterns, name);
    for (auto& state : states)
        erase_by_name(state->patterns, name);
}

void Sequencer::rename_sample(const std::string& old_name, const std::string& new_name) {
    std::lock_guard<std::mutex> lock(patterns_mutex);
    auto rename_first = [&](PatternList& list) {
        auto found = find_by_name(list, old_name);
        if (found != list.end())
            (*found)->name = new_name;
    };
    rename_first(patterns);
    for (auto& state : states)
        rename_first(state->patterns);
}

void Sequencer::set_pattern(PatternPtr pattern) {
    if (!pattern)
        return;
    std::lock_guard<std::mutex> lock(patterns_mutex);
    auto copy = std::make_shared<SequencerPattern>(*pattern);
    if (auto found = find_by_name(patterns, pattern->name); found != patterns.end()) {
        *found = copy;
    } else {
        patterns.push_back(copy);
    }
    for (auto& state : states) {
        auto part_copy = std::make_shared<SequencerPattern>(*pattern);
        auto found = find_by_name(state->patterns, pattern->name);
        if (found != state->patterns.end()) {
            *found = part_copy;
        } else {
            part_copy->enabled = false;
            state->patterns.push_back(part_copy);
        }
    }
}

void Sequencer::delete_part(const std::string& name) {
    std::lock_guard<std::mutex> lock(patterns_mutex);
    erase_by_name(states, name);
}

bool Sequencer::save_state(const std::string& name) {
    {
        std::lock_guard<std::mutex> lock(patterns_mutex);
        if (find_by_name(patterns, name) != patterns.end())
            return false;
    }
    std::lock_guard<std::mutex> lock(patterns_mutex);
    std::shared_ptr<SequencerState> state;
    if (auto found = find_by_name(states, name); found != states.end()) {
        state = *found;
    } else {
        state = std::make_shared<SequencerState>(name);
        states.push_back(state);
    }
    state->patterns = clone_patterns(patterns);
    state->bpm = bpm.load();
    return true;
}

bool Sequencer::load_state(const std::string& name) {
    std::lock_guard<std::mutex> lock(patterns_mutex);
    auto found = find_by_name(states, name);
    if (found == states.end())
        return false;
    patterns = clone_patterns((*found)->patterns);
    bpm.store((*found)->bpm);
    return true;
}

bool Sequencer::delete_state(const std::string& name) {
    std::lock_guard<std::mutex> lock(patterns_mutex);
    auto found = find_by_name(states, name);
    if (found == states.end())
        return false;
    states.erase(found);
    return true;
}

std::vector<std::string> Sequencer::get_state_names() {
    std::lock_guard<std::mutex> lock(patterns_mutex);
    std::vector<std::string> names;
    names.reserve(states.size());
    for (const auto& state : states)
        names.push_back(state->name);
    return names;
}

void Sequencer::clear() {
    std::lock_guard<std::mutex> lock(patterns_mutex);
    patterns.clear();
    states.clear();
}

SequencerPattern Sequencer::read_pattern(const PatternPtr& pattern) const {
    std::lock_guard<std::mutex> lock(patterns_mutex);
    return *pattern;
}

std::vector<SequencerPattern> Sequencer::snapshot_patterns(bool only_active) const {
    std::lock_guard<std::mutex> lock(patterns_mutex);
    std::vector<SequencerPattern> copies;
    copies.reserve(patterns.size());
    for (const auto& pattern : patterns) {
        if (!only_active || pattern->active)
            copies.push_back(*pattern);
    }
    return copies;
}

int Sequencer::frames_per_step(int tempo, int sample_rate) {
    const long long rate = sample_rate;
    const long long limited = std::clamp<long long>(tempo, 1, 30 * rate);
    return static_cast<int>(rate * 60 / limited / 2);
}

void Sequencer::tick(int frames, int sample_rate) {
    if (sample_rate <= 0 || frames < 0)
        return;
    // The step length comes from the tempo before this period's ramp update.
    const int step_frames = frames_per_step(bpm.load(std::memory_order_relaxed), sample_rate);
    if (!playing.load(std::memory_order_relaxed))
        return;

    frame_accumulator = static_cast<int>(
        std::min<long long>(static_cast<long long>(frame_accumulator) + frames, INT_MAX));

    std::lock_guard<std::mutex> lock(patterns_mutex);
    if (ramp_target > 0)
        advance_ramp(frames, sample_rate);

    if (frame_accumulator <= step_frames)
        return;
    step_index = (step_index + 1) % kStepsPerMeasure;
    published_step.store(step_index, std::memory_order_relaxed);
    if (on_step)
        on_step(step_index);
    frame_accumulator -= step_frames;
    // One step per call at most: a surplus beyond one step only says "advance
    // on the next call", so it is kept to that instead of growing without end.
    frame_accumulator = std::min(frame_accumulator, step_frames);
    play_step();
}

void Sequencer::advance_ramp(int frames, int sample_rate) {
    if (ramp_elapsed >= ramp_duration) {
        bpm.store(truncate_to_int(ramp_target), std::memory_order_relaxed);
        ramp_target = 0;
        return;
    }
    ramp_elapsed += static_cast<double>(frames) / sample_rate;
    const double t = ramp_elapsed / ramp_duration;
    const double e = (std::sin(std::numbers::pi * t - std::numbers::pi / 2) + 1) / 2;
    bpm.store(truncate_to_int(ramp_target * e + ramp_start * (1 - e)), std::memory_order_relaxed);
}

void Sequencer::play_step() {
    for (const auto& pattern : patterns) {
        if (step_index == 0 && pattern->random >= 1) {
            pattern->random_counter = (pattern->random_counter + 1) % pattern->random;
            if (pattern->random_counter == 0)
                shuffle_steps(*pattern);
        } else if (pattern->random < 1) {
            pattern->random_counter = 0;
        }
        if (on_trigger && pattern->active && pattern->enabled && pattern->steps[step_index].on) {
            on_trigger(pattern, step_index);
        }
    }
}

void Sequencer::animate_bpm(int target, double seconds) {
    std::lock_guard<std::mutex> lock(patterns_mutex);
    ramp_target = target;
    ramp_duration = seconds;
    ramp_elapsed = 0;
    ramp_start = bpm.load();
}

// The composition file.

namespace {

// The device's rate; tempos above 30 times it would make a step 0 frames long.
constexpr int kDeviceRate = 96000;
constexpr double kMaxFileTempo = 30.0 * kDeviceRate;

// A part's fields, copied under the lock for writing outside it.
struct PartCopy {
    std::string name;
    int bpm;
    std::vector<SequencerPattern> patterns;
};

picojson::value pattern_to_json(const SequencerPattern& pattern, bool mute) {
    picojson::array pitches;
    picojson::array notes;
    for (const auto& step : pattern.steps) {
        pitches.push_back(step.on ? picojson::value(static_cast<double>(step.pitch))
                                  : picojson::value());
        notes.push_back(step.on ? picojson::value(note_name(step.pitch)) : picojson::value());
    }
    const std::string text = step_text(pattern.steps);
    picojson::object object;
    object["mute"] = picojson::value(mute);
    object["name"] = picojson::value(pattern.name);
    object["pattern"] = picojson::value(std::move(pitches));
    object["patternRaw"] = picojson::value(text);
    object["rand"] = picojson::value(static_cast<double>(pattern.random));
    object["rawPattern"] = picojson::value(text);
    object["sequence"] = picojson::value(std::move(notes));
    object["volume"] = picojson::value(static_cast<double>(pattern.volume));
    return picojson::value(std::move(object));
}

// A tempo from the "bpm" member, truncated; none when absent, of the wrong
// type or outside what the step clock can play.
std::optional<int> tempo_from_json(const picojson::value& object) {
    if (!key_is<double>(object, "bpm"))
        return std::nullopt;
    const double tempo = std::trunc(object.get("bpm").get<double>());
    if (!(tempo >= 1 && tempo <= kMaxFileTempo))
        return std::nullopt;
    return static_cast<int>(tempo);
}

// The nearest float, held to the float range (a wider value has no float).
float to_float(double value) {
    return static_cast<float>(
        std::clamp(value, static_cast<double>(-FLT_MAX), static_cast<double>(FLT_MAX)));
}

// A new pattern from one element of "activeInstruments" or of an
// "instrumentCollection"; null when a required key is missing or mistyped.
PatternPtr pattern_from_json(const picojson::value& element, InputParser& parser) {
    const bool has_steps =
        key_is<std::string>(element, "patternRaw") || key_is<std::string>(element, "rawPattern");
    if (!key_is<std::string>(element, "name") || !has_steps || !key_is<double>(element, "volume"))
        return nullptr;
    auto pattern = std::make_shared<SequencerPattern>();
    pattern->name = element.get("name").get<std::string>();
    pattern->active = true;
    const char* steps_key =
        key_is<std::string>(element, "patternRaw") ? "patternRaw" : "rawPattern";
    // A text that does not parse leaves the steps off.
    parser.parse_pattern(element.get(steps_key).get<std::string>(), pattern->steps.data());
    pattern->volume = to_float(element.get("volume").get<double>());
    if (key_is<bool>(element, "mute"))
        pattern->enabled = !element.get("mute").get<bool>();
    if (key_is<double>(element, "rand"))
        pattern->random = truncate_to_int(element.get("rand").get<double>());
    return pattern;
}

// The elements of an object (in key order) or of an array.
std::vector<const picojson::value*> elements_of(const picojson::value& collection) {
    std::vector<const picojson::value*> elements;
    if (collection.is<picojson::object>()) {
        for (const auto& member : collection.get<picojson::object>())
            elements.push_back(&member.second);
    } else if (collection.is<picojson::array>()) {
        for (const auto& element : collection.get<picojson::array>())
            elements.push_back(&element);
    }
    return elements;
}

// Patterns whose name "activeInstruments" holds come first, in its order; the
// others keep their reading order.
void sort_by_order(PatternList& patterns, const std::map<std::string, int>& order) {
    auto rank = [&order](const PatternPtr& pattern) {
        auto found = order.find(pattern->name);
        return found == order.end() ? std::pair(1, 0) : std::pair(0, found->second);
    };
    std::stable_sort(
        patterns.begin(), patterns.end(),
        [&rank](const PatternPtr& a, const PatternPtr& b) { return rank(a) < rank(b); });
}

}  // namespace

std::string note_name(int pitch) {
    const int pitch_class = (pitch % 12 + 12) % 12;
    // Floor division, also for negative pitches.
    const long long octave = (static_cast<long long>(pitch) - pitch_class) / 12 + 3;
    return std::string(note_names[pitch_class]) + std::to_string(octave);
}

std::string step_text(const std::array<SequencePatternStep, 8>& steps) {
    std::string text;
    for (const auto& step : steps) {
        if (!step.on) {
            text += '-';
            continue;
        }
        text += '#';
        if (step.pitch != 0)
            text += std::to_string(step.pitch);
    }
    return text;
}

picojson::value Sequencer::to_json() const {
    picojson::object root;
    root["bpm"] = picojson::value(static_cast<double>(bpm.load()));
    root["name"] = picojson::value("composition");

    // Copies taken under one lock; the JSON is built outside it, so the audio
    // thread waits no longer than for the copies.
    std::vector<SequencerPattern> current;
    std::vector<PartCopy> parts;
    {
        std::lock_guard<std::mutex> lock(patterns_mutex);
        for (const auto& pattern : patterns)
            current.push_back(*pattern);
        for (const auto& state : states) {
            PartCopy& part = parts.emplace_back(PartCopy{state->name, state->bpm, {}});
            for (const auto& pattern : state->patterns)
                part.patterns.push_back(*pattern);
        }
    }

    picojson::array instruments;
    std::set<std::string> written;
    for (const auto& pattern : current) {
        if (pattern.active && written.insert(pattern.name).second)
            instruments.push_back(pattern_to_json(pattern, !pattern.enabled));
    }
    // Every instrument a part uses is named here too, muted.
    for (const auto& part : parts) {
        for (const auto& pattern : part.patterns) {
            if (written.insert(pattern.name).second)
                instruments.push_back(pattern_to_json(pattern, true));
        }
    }
    root["activeInstruments"] = picojson::value(std::move(instruments));

    picojson::object parts_object;
    for (const auto& part : parts) {
        picojson::object collection;
        for (const auto& pattern : part.patterns) {
            if (pattern.active)
                collection.emplace(pattern.name, pattern_to_json(pattern, !pattern.enabled));
        }
        picojson::object part_object;
        part_object["bpm"] = picojson::value(static_cast<double>(part.bpm));
        part_object["instrumentCollection"] = picojson::value(std::move(collection));
        parts_object.emplace(part.name, picojson::value(std::move(part_object)));
    }
    root["parts"] = picojson::value(std::move(parts_object));
    return picojson::value(std::move(root));
}

bool Sequencer::from_json(const picojson::value& root) {
    if (!root.is<picojson::object>())
        return false;
    InputParser parser(*this, nullptr);
    PatternList new_patterns;
    std::vector<std::shared_ptr<SequencerState>> new_states;
    std::map<std::string, int> order;

    if (key_is<picojson::array>(root, "activeInstruments")) {
        for (const auto* element : elements_of(root.get("activeInstruments"))) {
            if (auto pattern = pattern_from_json(*element, parser)) {
                order[pattern->name] = static_cast<int>(new_patterns.size());
                new_patterns.push_back(std::move(pattern));
            }
        }
    }
    if (key_is<picojson::object>(root, "parts")) {
        for (const auto& [name, part] : root.get("parts").get<picojson::object>()) {
            if (!key_is<picojson::object>(part, "instrumentCollection") &&
                !key_is<picojson::array>(part, "instrumentCollection"))
                continue;
            auto state = std::make_shared<SequencerState>(name);
            state->bpm = tempo_from_json(part).value_or(120);
            for (const auto* element : elements_of(part.get("instrumentCollection"))) {
                if (auto pattern = pattern_from_json(*element, parser))
                    state->patterns.push_back(std::move(pattern));
            }
            sort_by_order(state->patterns, order);
            new_states.push_back(std::move(state));
        }
    }
    if (auto tempo = tempo_from_json(root))
        bpm.store(*tempo);

    {
        std::lock_guard<std::mutex> lock(patterns_mutex);
        patterns.swap(new_patterns);
        states.swap(new_states);
    }
    // The old lists go here, outside the lock.
    return true;
}
