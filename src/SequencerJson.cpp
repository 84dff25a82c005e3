// The composition's JSON form: Sequencer::to_json and Sequencer::from_json.
#include "Sequencer.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <map>
#include <optional>
#include <set>
#include <string_view>
#include <unordered_set>

#include "InputParser.h"

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

std::string Sequencer::too_large_to_load(const picojson::value& root) {
    auto too_many = [](const picojson::value& object, const char* key) {
        if (key_is<picojson::array>(object, key))
            return object.get(key).get<picojson::array>().size() > max_instruments;
        if (key_is<picojson::object>(object, key))
            return object.get(key).get<picojson::object>().size() > max_instruments;
        return false;
    };
    const std::string reason = "more than " + std::to_string(max_instruments) + " instruments";
    if (too_many(root, "activeInstruments"))
        return reason;
    // A save lists every instrument of the parts among the current ones too,
    // so the names of the whole composition must fit in one list for its
    // file to load back.
    std::unordered_set<std::string_view> names;
    auto name_all = [&names](const picojson::value& object, const char* key) {
        if (!object.is<picojson::object>() || !object.contains(key))
            return true;
        for (const auto* element : elements_of(object.get(key))) {
            if (key_is<std::string>(*element, "name"))
                names.insert(element->get("name").get<std::string>());
        }
        return names.size() <= max_instruments;
    };
    if (!name_all(root, "activeInstruments"))
        return reason;
    if (key_is<picojson::object>(root, "parts")) {
        for (const auto& [name, part] : root.get("parts").get<picojson::object>()) {
            if (too_many(part, "instrumentCollection"))
                return reason + " in the part " + name;
            if (!name_all(part, "instrumentCollection"))
                return reason + " in all";
        }
    }
    return "";
}

bool Sequencer::from_json(const picojson::value& root) {
    if (!root.is<picojson::object>() || !too_large_to_load(root).empty())
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
