#include "Sequencer.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <numbers>
#include <random>
#include <utility>

// The shuffle's random source: seeded once per run, used on the audio thread only.
std::random_device dev("default");
std::mt19937 rng(dev());
std::uniform_int_distribution<unsigned long> dist8(0, 7);

namespace {

constexpr int kStepsPerMeasure = 8;

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

int truncate_to_int(double value) {
    if (!(value > static_cast<double>(INT_MIN)))
        return INT_MIN;
    if (!(value < static_cast<double>(INT_MAX)))
        return INT_MAX;
    return static_cast<int>(value);
}

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
    PatternList replaced;  // freed after the lock, so the audio thread waits less
    std::lock_guard<std::mutex> lock(patterns_mutex);
    std::shared_ptr<SequencerState> state;
    if (auto found = find_by_name(states, name); found != states.end()) {
        state = *found;
    } else {
        state = std::make_shared<SequencerState>(name);
        states.push_back(state);
    }
    replaced = std::exchange(state->patterns, clone_patterns(patterns));
    state->bpm = bpm.load();
    return true;
}

bool Sequencer::load_state(const std::string& name) {
    PatternList replaced;  // freed after the lock, so the audio thread waits less
    std::lock_guard<std::mutex> lock(patterns_mutex);
    auto found = find_by_name(states, name);
    if (found == states.end())
        return false;
    replaced = std::exchange(patterns, clone_patterns((*found)->patterns));
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

std::size_t Sequencer::part_count() const {
    std::lock_guard<std::mutex> lock(patterns_mutex);
    return states.size();
}

std::vector<std::string> Sequencer::get_state_names(std::size_t first, std::size_t count) {
    std::lock_guard<std::mutex> lock(patterns_mutex);
    std::vector<std::string> names;
    const std::size_t begin = std::min(first, states.size());
    const std::size_t end = begin + std::min(count, states.size() - begin);
    names.reserve(end - begin);
    for (std::size_t i = begin; i < end; ++i)
        names.push_back(states[i]->name);
    return names;
}

std::vector<std::string> Sequencer::get_state_names() {
    return get_state_names(0, SIZE_MAX);
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

std::vector<SequencerPattern> Sequencer::snapshot_patterns(bool only_active, std::size_t first,
                                                           std::size_t count) const {
    std::lock_guard<std::mutex> lock(patterns_mutex);
    std::vector<SequencerPattern> copies;
    std::size_t index = 0;  // among the selected ones
    for (const auto& pattern : patterns) {
        if (copies.size() >= count)
            break;
        if ((pattern->active || !only_active) && index++ >= first)
            copies.push_back(*pattern);
    }
    return copies;
}

std::size_t Sequencer::pattern_count() const {
    std::lock_guard<std::mutex> lock(patterns_mutex);
    return patterns.size();
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
