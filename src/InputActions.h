#pragma once

#include <string>

#include <tao/pegtl.hpp>

#include "InputGrammar.h"
#include "InputParser.h"

// What each rule does when it has matched. Value actions store what their rule
// matched in the work record; command actions run once, for the command that
// matched the whole line. All run on the thread that parses.
namespace hello {

// Value actions.
void store_phrase(WorkData& work, std::string name, const pegtl::position& location);
void store_pitch(WorkData& work, const std::string& text);
void store_on(WorkData& work);
void store_off(WorkData& work);
void store_step(WorkData& work);
void store_filename(WorkData& work, const std::string& text);
void store_bpm(WorkData& work, const std::string& text);
void store_bpm_duration(WorkData& work, const std::string& text);
void store_volume(WorkData& work, const std::string& text);
void store_random(WorkData& work, const std::string& text);

// Command actions.
void run_help(WorkData& work);
void run_tutorial(WorkData& work);
void run_tutorial_next(WorkData& work);
void run_use_pack(WorkData& work);
void run_save(WorkData& work);
void run_load(WorkData& work);
void run_show_bpm(WorkData& work);
void run_set_bpm(WorkData& work);
void run_show_volume(WorkData& work);
void run_set_volume(WorkData& work);
void run_record_start(WorkData& work);
void run_record_stop(WorkData& work);
void run_list_samples(WorkData& work);
void run_list_parts(WorkData& work);
void run_assign(WorkData& work);
void run_save_part(WorkData& work);
void run_delete(WorkData& work);
void run_mute(WorkData& work);
void run_unmute(WorkData& work);
void run_stop(WorkData& work);
void run_play(WorkData& work);

template <void (*Store)(WorkData&, const std::string&)>
struct value_action {
    template <class ActionInput>
    static void apply(const ActionInput& in, WorkData& work) {
        Store(work, in.string());
    }
};

// Actions that need only the work record, not the matched text.
template <void (*Run)(WorkData&)>
struct work_action {
    template <class ActionInput>
    static void apply(const ActionInput&, WorkData& work) {
        Run(work);
    }
};

struct phrase_action {
    template <class ActionInput>
    static void apply(const ActionInput& in, WorkData& work) {
        store_phrase(work, in.string(), in.position());
    }
};

template <class Rule>
struct action : pegtl::nothing<Rule> {};

template <>
struct action<phrase_checked> : phrase_action {};
template <>
struct action<phrase_unchecked> : phrase_action {};
template <>
struct action<EventPitch> : value_action<store_pitch> {};
template <>
struct action<EventOn> : work_action<store_on> {};
template <>
struct action<EventOff> : work_action<store_off> {};
template <>
struct action<EventPattern> : work_action<store_step> {};
template <>
struct action<AssignFilename> : value_action<store_filename> {};
template <>
struct action<AssignBpm> : value_action<store_bpm> {};
template <>
struct action<AssignBpmDuration> : value_action<store_bpm_duration> {};
template <>
struct action<AssignVolume> : value_action<store_volume> {};
template <>
struct action<AssignRandom> : value_action<store_random> {};

template <>
struct action<helpEvent> : work_action<run_help> {};
template <>
struct action<tutorialEvent> : work_action<run_tutorial> {};
template <>
struct action<tutorialNextEvent> : work_action<run_tutorial_next> {};
template <>
struct action<loadPackEvent> : work_action<run_use_pack> {};
template <>
struct action<saveEvent> : work_action<run_save> {};
template <>
struct action<loadEvent> : work_action<run_load> {};
template <>
struct action<bpmInfoEvent> : work_action<run_show_bpm> {};
template <>
struct action<bpmEvent> : work_action<run_set_bpm> {};
template <>
struct action<volumeInfoEvent> : work_action<run_show_volume> {};
template <>
struct action<volumeEvent> : work_action<run_set_volume> {};
template <>
struct action<recordStartEvent> : work_action<run_record_start> {};
template <>
struct action<recordStopEvent> : work_action<run_record_stop> {};
template <>
struct action<listSamplesEvent> : work_action<run_list_samples> {};
template <>
struct action<listPartsEvent> : work_action<run_list_parts> {};
template <>
struct action<assignPattern> : work_action<run_assign> {};
template <>
struct action<saveStateEvent> : work_action<run_save_part> {};
template <>
struct action<deleteStateEvent> : work_action<run_delete> {};
template <>
struct action<stopMultiEvent> : work_action<run_mute> {};
template <>
struct action<playMultiEvent> : work_action<run_unmute> {};
template <>
struct action<stopEvent> : work_action<run_stop> {};
template <>
struct action<playEvent> : work_action<run_play> {};

}  // namespace hello
