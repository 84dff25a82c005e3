#pragma once

#include <tao/pegtl.hpp>

// The command language: one line is one command, the first command rule that
// matches the whole line. Rules only; their actions are in InputActions.h.
namespace hello {

namespace pegtl = tao::pegtl;

using pegtl::eof;
using pegtl::opt;
using pegtl::plus;
using pegtl::seq;
using pegtl::sor;
using pegtl::star;
using pegtl::ascii::blank;
using pegtl::ascii::one;

// Optional spaces or tabs.
using blanks = star<blank>;
// Exactly one space: a tab does not separate names or step groups.
using space = one<' '>;

// ASCII letters.
struct name : plus<pegtl::ascii::alpha> {};
// Decimal digits.
struct intPos : plus<pegtl::ascii::digit> {};
// A pitch: digits with an optional minus sign.
struct integer : seq<opt<one<'-'>>, intPos> {};

// A sample or part name: "kick", "hh_open", "kick2", "hh_open2".
struct phrase_checked : seq<name, opt<one<'_'>>, opt<name>, opt<intPos>> {};
// The same shape, for names that need not be loaded samples.
struct phrase_unchecked : seq<name, opt<one<'_'>>, opt<name>, opt<intPos>> {};
// Names separated by single spaces.
struct PhraseListChecked : seq<phrase_checked, star<space, phrase_checked>> {};
// Names separated by single spaces.
struct PhraseListUnchecked : seq<phrase_unchecked, star<space, phrase_unchecked>> {};

// The pitch of a hit, or nothing.
struct EventPitch : opt<integer> {};
// A hit: "#", "#7", "#-12".
struct EventOn : seq<one<'#'>, EventPitch> {};
// A rest.
struct EventOff : one<'-'> {};
// One step.
struct EventPattern : sor<EventOn, EventOff> {};
// Groups of steps separated by single spaces: "#- #3 -".
struct Pattern : seq<plus<EventPattern>, star<space, plus<EventPattern>>> {};

// Everything up to the end of the line.
struct AssignFilename : plus<pegtl::ascii::any> {};
// A tempo: digits only.
struct AssignBpm : plus<pegtl::ascii::digit> {};
// "0.5", ".5", "1." or "2": no sign, no exponent.
using decimal = sor<seq<one<'.'>, intPos>, seq<intPos, one<'.'>, intPos>, seq<intPos, one<'.'>>,
                    plus<pegtl::ascii::digit>>;
// A volume.
struct AssignVolume : decimal {};
// A tempo ramp's length in seconds.
struct AssignBpmDuration : decimal {};
// A shuffle interval: "&4".
struct AssignRandom : seq<one<'&'>, intPos> {};

// help [topic]
struct helpEvent : seq<TAO_PEGTL_STRING("help"), blanks, opt<AssignFilename>, eof> {};
// tutorial
struct tutorialEvent : seq<TAO_PEGTL_STRING("tutorial"), blanks, eof> {};
// next
struct tutorialNextEvent : seq<TAO_PEGTL_STRING("next"), blanks, eof> {};
// use [pack]
struct loadPackEvent : seq<TAO_PEGTL_STRING("use"), blanks, opt<AssignFilename>, blanks, eof> {};
// save [file]
struct saveEvent : seq<TAO_PEGTL_STRING("save"), blanks, opt<AssignFilename>, blanks, eof> {};
// load [file]
struct loadEvent : seq<TAO_PEGTL_STRING("load"), blanks, opt<AssignFilename>, blanks, eof> {};
// bpm
struct bpmInfoEvent : seq<TAO_PEGTL_STRING("bpm"), blanks, eof> {};
// bpm N [seconds]
struct bpmEvent
    : seq<TAO_PEGTL_STRING("bpm"), blanks, AssignBpm, blanks, opt<AssignBpmDuration>, blanks, eof> {
};
// volume
struct volumeInfoEvent : seq<TAO_PEGTL_STRING("volume"), blanks, eof> {};
// volume V
struct volumeEvent : seq<TAO_PEGTL_STRING("volume"), blanks, AssignVolume, blanks, eof> {};
// record start
struct recordStartEvent
    : seq<TAO_PEGTL_STRING("record"), blanks, TAO_PEGTL_STRING("start"), blanks, eof> {};
// record stop
struct recordStopEvent
    : seq<TAO_PEGTL_STRING("record"), blanks, TAO_PEGTL_STRING("stop"), blanks, eof> {};
// samples
struct listSamplesEvent : seq<TAO_PEGTL_STRING("samples"), blanks, eof> {};
// parts
struct listPartsEvent : seq<TAO_PEGTL_STRING("parts"), blanks, eof> {};
// NAMES [volume] [steps] [&N]: a volume comes first, steps and shuffle in
// either order, each after exactly one blank; only bare names may trail blanks.
struct assignPattern
    : sor<seq<PhraseListChecked, blanks, eof>, seq<PhraseListChecked, blank, Pattern, eof>,
          seq<PhraseListChecked, blank, AssignVolume, blank, Pattern, blank, AssignRandom, eof>,
          seq<PhraseListChecked, blank, AssignVolume, blank, AssignRandom, blank, Pattern, eof>,
          seq<PhraseListChecked, blank, Pattern, blank, AssignRandom, eof>,
          seq<PhraseListChecked, blank, AssignRandom, blank, Pattern, eof>,
          seq<PhraseListChecked, blank, AssignVolume, blank, Pattern, eof>,
          seq<PhraseListChecked, blank, AssignVolume, blank, AssignRandom, eof>,
          seq<PhraseListChecked, blank, AssignVolume, eof>,
          seq<PhraseListChecked, blank, AssignRandom, eof>> {};
// =NAME
struct saveStateEvent : seq<one<'='>, blanks, phrase_unchecked, blanks, eof> {};
// /NAMES, or / alone for everything
struct deleteStateEvent
    : sor<seq<one<'/'>, blanks, PhraseListUnchecked, blanks, eof>, seq<one<'/'>, blanks, eof>> {};
// .NAMES
struct stopMultiEvent : seq<one<'.'>, blanks, PhraseListChecked, eof> {};
// >NAMES
struct playMultiEvent : seq<one<'>'>, blanks, PhraseListChecked, eof> {};
// .
struct stopEvent : seq<one<'.'>, blanks, eof> {};
// >
struct playEvent : seq<one<'>'>, blanks, eof> {};

// A command line. The order decides between commands that share a prefix.
struct grammar
    : sor<helpEvent, tutorialEvent, tutorialNextEvent, loadPackEvent, saveEvent, loadEvent,
          bpmInfoEvent, bpmEvent, volumeInfoEvent, volumeEvent, recordStartEvent, recordStopEvent,
          listSamplesEvent, listPartsEvent, assignPattern, saveStateEvent, deleteStateEvent,
          stopMultiEvent, playMultiEvent, stopEvent, playEvent> {};

}  // namespace hello
