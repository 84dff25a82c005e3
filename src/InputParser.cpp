#include "InputParser.h"

#include <climits>

#include <tao/pegtl.hpp>

#include "InputActions.h"
#include "InputGrammar.h"
#include "InputMessages.h"
#include "string_utils.h"

namespace {

// Every input is read under this name; error texts begin with it.
constexpr const char* kSourceName = "src";

int error_offset(const tao::pegtl::parse_error& error) {
    if (error.positions().empty())
        return 0;
    const auto byte = error.positions().front().byte;
    return byte > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(byte);
}

}  // namespace

// The part names are asked for only by the command that lists them, so that
// no other line (nor each step string of a composition being read) copies
// them all.
WorkData::WorkData(InputParser& parser) : sequencer(parser.sequencer), parser(&parser) {}

bool WorkData::phrases_ok() const {
    auto* listener = parser->listener;
    if (!listener)
        return false;
    for (const auto& phrase : phrases) {
        if (!listener->has_sample(phrase.name))
            return false;
    }
    return true;
}

PatternList WorkData::phrases_as_patterns() const {
    PatternList patterns;
    for (const auto& phrase : phrases) {
        auto pattern = sequencer->get_or_create_pattern(phrase.name);
        if (!pattern) {
            throw tao::pegtl::parse_error(
                std::string(hello::messages::pattern_not_found) + phrase.name, phrase.location);
        }
        patterns.push_back(std::move(pattern));
    }
    return patterns;
}

InputParser::InputParser(Sequencer& sequencer, ParseListener* listener)
    : sequencer(&sequencer), listener(listener) {}

InputError InputParser::parse(const std::string& line) {
    try {
        WorkData work(*this);
        tao::pegtl::string_input in(line, kSourceName);
        const bool matched = tao::pegtl::parse<hello::grammar, hello::action>(in, work);
        if (!matched && listener) {
            // One word the grammar cannot take as a name may still be a sample.
            const std::string word = trim(line);
            if (word.find(' ') == std::string::npos && listener->on_play_sample(word))
                return {true, "", 0};
        }
        return {matched, work.output, 0};
    } catch (const tao::pegtl::parse_error& error) {
        return {false, get_error(error), error_offset(error)};
    } catch (const std::exception& error) {
        return {false, get_error(error), 0};
    }
}

InputError InputParser::parse_pattern(const std::string& text, SequencePatternStep* steps) {
    try {
        WorkData work(*this);
        tao::pegtl::string_input in(text, kSourceName);
        if (!tao::pegtl::parse<hello::Pattern, hello::action>(in, work))
            return {false, "", 0};
        // A shorter string repeats; of a longer one the first 8 steps count.
        for (std::size_t i = 0; i < std::tuple_size_v<decltype(SequencerPattern::steps)>; ++i)
            steps[i] = work.steps[i % work.steps.size()];
        return {true, work.output, 0};
    } catch (const tao::pegtl::parse_error& error) {
        return {false, error.what(), error_offset(error)};
    } catch (const std::exception& error) {
        return {false, error.what(), 0};
    }
}

std::string get_error(const std::exception& error) {
    const std::string text = error.what();
    if (!text.starts_with(std::string(kSourceName) + ":"))
        return text;
    const auto space = text.find(' ');
    return space == std::string::npos ? "" : text.substr(space + 1);
}
