#pragma once

#include <exception>
#include <string>
#include <vector>

#include <tao/pegtl/position.hpp>

#include "Sequencer.h"

// What a parse gave: the command's output text on success, the error text on
// failure (empty when the line matched no command).
struct InputError {
    bool succeeded = false;
    std::string message;     // lines separated by "\n"
    int error_position = 0;  // byte offset of the place a parse error names, else 0

    // True when the parse failed. Any thread.
    explicit operator bool() const { return !succeeded; }
};

// The application side of the commands. The parser calls it on the thread
// that called InputParser::parse, inside the parse.
class ParseListener {
  public:
    virtual void on_sample_pack(const std::string& name) = 0;
    virtual void on_play(bool play) = 0;
    virtual void on_record(bool record) = 0;
    virtual void on_save(const std::string& name) = 0;
    virtual void on_load(const std::string& name) = 0;
    virtual void on_help(const std::string& topic) = 0;
    virtual void on_tutorial() = 0;
    virtual void on_tutorial_next() = 0;
    // True when a sample of that name was played.
    virtual bool on_play_sample(const std::string& name) = 0;
    // True when a sample of that name is loaded.
    virtual bool has_sample(const std::string& name) = 0;
    virtual float on_get_volume() = 0;
    virtual void on_set_volume(float volume) = 0;
    virtual std::string get_sample_listing() = 0;

  protected:
    // Never owned through this interface.
    ~ParseListener() = default;
};

class InputParser;

// The work record of one parse: what the rules' actions have cut out of the
// line so far. Alternatives that fail leave their values behind.
struct WorkData {
    struct InputPhrase {
        std::string name;
        tao::pegtl::position location;  // where the name begins
    };

    // The parsing thread.
    explicit WorkData(InputParser& parser);

    // True when there is a listener and every name is a loaded sample. The
    // parsing thread.
    bool phrases_ok() const;

    // One pattern per name, in order, created where a sample exists. Throws
    // tao::pegtl::parse_error at the first name with neither. The parsing thread.
    PatternList phrases_as_patterns() const;

    Sequencer* sequencer;
    InputParser* parser;
    std::vector<InputPhrase> phrases;
    std::vector<SequencePatternStep> steps;
    SequencePatternStep pending_step;
    int random = -1;       // shuffle interval; -1 = absent
    float volume = -1.0f;  // -1 = absent
    int bpm = 120;
    double bpm_duration = 0.0;
    std::string filename;
    std::string output;
};

// Parses command lines and applies them to the sequencer and the listener.
// Keeps no state between calls.
class InputParser {
  public:
    // `listener` may be null: commands that need the application then do
    // nothing. Any thread.
    InputParser(Sequencer& sequencer, ParseListener* listener);

    // Parses and runs one command line. Main thread; never while holding the
    // sequencer's lock.
    InputError parse(const std::string& line);

    // Fills the 8 steps at `steps` from the step string at the start of `text`;
    // leaves them untouched when there is none. Writes without a lock, so the
    // steps must not belong to a pattern the audio thread can see. Any thread
    // not holding the sequencer's lock.
    InputError parse_pattern(const std::string& text, SequencePatternStep* steps);

    Sequencer* sequencer;
    ParseListener* listener;
};

// The text shown to the user for an exception: a parse error's message without
// its position prefix, any other exception's whole text. Any thread.
std::string get_error(const std::exception& error);
