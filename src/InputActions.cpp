#include "InputActions.h"

#include <cfloat>
#include <charconv>
#include <climits>
#include <cstdio>
#include <string_view>

#include "InputMessages.h"
#include "string_utils.h"

namespace hello {

namespace {

// Digits with an optional leading "-", held to the int range.
int to_saturated_int(std::string_view text) {
    int value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec == std::errc::result_out_of_range)
        return text.starts_with('-') ? INT_MIN : INT_MAX;
    return value;
}

// "0.5", ".5", "1." or "2", held to the finite double range. Locale-free,
// unlike atof, whose decimal point follows the terminal's locale.
double to_saturated_double(std::string_view text) {
    double value = 0.0;
    const auto result =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    if (result.ec == std::errc::result_out_of_range) {
        // Out of range either way: only a whole part above 0 is too large.
        const auto whole = text.substr(0, text.find('.'));
        const bool too_large = whole.find_first_not_of('0') != std::string_view::npos;
        return too_large ? DBL_MAX : 0.0;
    }
    return value;
}

ParseListener* listener_of(const WorkData& work) {
    return work.parser->listener;
}

// Text after the prefix character ("&4" -> "4").
std::string_view after_first(const std::string& text) {
    return std::string_view(text).substr(1);
}

std::string format_volume(float volume) {
    const int size = std::snprintf(nullptr, 0, "%f", static_cast<double>(volume));
    std::string text(static_cast<size_t>(size > 0 ? size : 0), '\0');
    std::snprintf(text.data(), text.size() + 1, "%f", static_cast<double>(volume));
    return text;
}

// The values of an assignment, written in one go under the sequencer's lock.
void assign_values(const WorkData& work, SequencerPattern& pattern) {
    if (work.random >= 0)
        pattern.random = work.random;
    if (work.volume >= 0.0f)
        pattern.volume = work.volume;
    if (!work.steps.empty()) {
        for (size_t i = 0; i < pattern.steps.size(); ++i)
            pattern.steps[i] = work.steps[i % work.steps.size()];
    }
    pattern.active = true;
    pattern.enabled = true;
}

}  // namespace

void store_phrase(WorkData& work, std::string name, const pegtl::position& location) {
    work.phrases.push_back({std::move(name), location});
}

void store_pitch(WorkData& work, const std::string& text) {
    if (!text.empty())
        work.pending_step.pitch = to_saturated_int(text);
}

void store_on(WorkData& work) {
    work.pending_step.on = true;
}

void store_off(WorkData& work) {
    work.pending_step.on = false;
}

void store_step(WorkData& work) {
    work.steps.push_back(work.pending_step);
    work.pending_step.pitch = 0;
}

void store_filename(WorkData& work, const std::string& text) {
    work.filename = trim(text);
}

void store_bpm(WorkData& work, const std::string& text) {
    work.bpm = to_saturated_int(text);
}

void store_bpm_duration(WorkData& work, const std::string& text) {
    work.bpm_duration = to_saturated_double(text);
}

void store_volume(WorkData& work, const std::string& text) {
    // Beyond the float range the conversion would be undefined.
    const double value = to_saturated_double(text);
    work.volume = value > FLT_MAX ? FLT_MAX : static_cast<float>(value);
}

void store_random(WorkData& work, const std::string& text) {
    work.random = to_saturated_int(after_first(text));
}

void run_help(WorkData& work) {
    if (auto* listener = listener_of(work))
        listener->on_help(work.filename);
}

void run_tutorial(WorkData& work) {
    if (auto* listener = listener_of(work))
        listener->on_tutorial();
}

void run_tutorial_next(WorkData& work) {
    if (auto* listener = listener_of(work))
        listener->on_tutorial_next();
}

void run_use_pack(WorkData& work) {
    auto* listener = listener_of(work);
    if (!listener)
        return;
    // Without a name the application lists the packs itself.
    listener->on_sample_pack(work.filename);
    if (!work.filename.empty())
        work.output = listener->get_sample_listing();
}

void run_save(WorkData& work) {
    if (auto* listener = listener_of(work))
        listener->on_save(work.filename);
}

void run_load(WorkData& work) {
    if (auto* listener = listener_of(work))
        listener->on_load(work.filename);
}

void run_show_bpm(WorkData& work) {
    work.output = std::to_string(work.sequencer->bpm.load());
}

void run_set_bpm(WorkData& work) {
    work.sequencer->animate_bpm(work.bpm, work.bpm_duration);
}

void run_show_volume(WorkData& work) {
    if (auto* listener = listener_of(work))
        work.output = format_volume(listener->on_get_volume());
}

void run_set_volume(WorkData& work) {
    if (auto* listener = listener_of(work))
        listener->on_set_volume(work.volume);
}

void run_record_start(WorkData& work) {
    if (auto* listener = listener_of(work))
        listener->on_record(true);
}

void run_record_stop(WorkData& work) {
    if (auto* listener = listener_of(work))
        listener->on_record(false);
}

void run_list_samples(WorkData& work) {
    if (auto* listener = listener_of(work))
        work.output = listener->get_sample_listing();
}

void run_list_parts(WorkData& work) {
    const auto part_names = work.sequencer->get_state_names();
    if (part_names.empty()) {
        work.output = messages::no_parts;
        return;
    }
    std::string listing;
    for (const auto& name : part_names) {
        listing += messages::part_item;
        listing += name;
        listing += '\n';
    }
    work.output = std::move(listing);
}

void run_assign(WorkData& work) {
    const bool has_values = work.random >= 0 || work.volume >= 0.0f || !work.steps.empty();
    if (has_values) {
        // Raises before any pattern is written when a name cannot be had.
        for (const auto& pattern : work.phrases_as_patterns()) {
            work.sequencer->edit_pattern(
                pattern, [&work](SequencerPattern& live) { assign_values(work, live); });
        }
        return;
    }
    if (work.phrases_ok()) {
        // Names alone, all of them samples: play each once.
        for (const auto& phrase : work.phrases)
            listener_of(work)->on_play_sample(phrase.name);
        return;
    }
    const auto& first = work.phrases.front().name;
    if (!work.sequencer->load_state(first))
        work.output = std::string(messages::unknown_part_or_sample) + first;
}

void run_save_part(WorkData& work) {
    work.sequencer->save_state(work.phrases.front().name);
}

void run_delete(WorkData& work) {
    if (work.phrases.empty()) {
        work.sequencer->clear();
        return;
    }
    for (const auto& phrase : work.phrases) {
        work.sequencer->delete_state(phrase.name);
        work.sequencer->delete_sample(phrase.name);
    }
}

void run_mute(WorkData& work) {
    for (const auto& pattern : work.phrases_as_patterns()) {
        work.sequencer->edit_pattern(pattern, [](SequencerPattern& live) { live.enabled = false; });
    }
}

void run_unmute(WorkData& work) {
    for (const auto& pattern : work.phrases_as_patterns()) {
        work.sequencer->edit_pattern(pattern, [](SequencerPattern& live) {
            live.enabled = true;
            live.active = true;
        });
    }
}

void run_stop(WorkData& work) {
    if (auto* listener = listener_of(work))
        listener->on_play(false);
}

void run_play(WorkData& work) {
    if (auto* listener = listener_of(work))
        listener->on_play(true);
}

}  // namespace hello
