#pragma once

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "InputParser.h"
#include "Sequencer.h"

namespace quarn_test {

// A listener that knows a set of sample names and writes down every call but
// has_sample, as "operation:argument".
class RecordingListener : public ParseListener {
  public:
    std::set<std::string> samples;
    std::vector<std::string> calls;
    float volume = 1.0f;
    std::string listing = "kick\nsnare\n";

    void on_sample_pack(const std::string& name) override { calls.push_back("pack:" + name); }
    void on_play(bool play) override { calls.push_back(play ? "play" : "stop"); }
    void on_record(bool record) override { calls.push_back(record ? "record" : "record_stop"); }
    void on_save(const std::string& name) override { calls.push_back("save:" + name); }
    void on_load(const std::string& name) override { calls.push_back("load:" + name); }
    void on_help(const std::string& topic) override { calls.push_back("help:" + topic); }
    void on_tutorial() override { calls.push_back("tutorial"); }
    void on_tutorial_next() override { calls.push_back("next"); }
    bool on_play_sample(const std::string& name) override {
        calls.push_back("play_sample:" + name);
        return samples.count(name) > 0;
    }
    bool has_sample(const std::string& name) override { return samples.count(name) > 0; }
    float on_get_volume() override {
        calls.push_back("get_volume");
        return volume;
    }
    void on_set_volume(float value) override {
        calls.push_back("set_volume:" + std::to_string(value));
    }
    std::string get_sample_listing() override {
        calls.push_back("listing");
        return listing;
    }
};

// A sequencer whose samples are the listener's, and a parser over both.
class ParserTest : public ::testing::Test {
  protected:
    ParserTest() {
        listener.samples = {"kick", "snare", "hh"};
        sequencer.set_callbacks(nullptr, nullptr, [this](const std::string& name) {
            return listener.samples.count(name) > 0;
        });
    }

    // The live pattern's fields, read under the sequencer's lock.
    SequencerPattern pattern(const std::string& name) {
        auto live = sequencer.get_pattern(name);
        EXPECT_TRUE(live) << "no pattern " << name;
        return live ? sequencer.read_pattern(live) : SequencerPattern{};
    }

    RecordingListener listener;
    Sequencer sequencer;
    InputParser parser{sequencer, &listener};
};

// Steps as text, one character per step ("#" on, "-" off) with a pitch after
// each hit that has one: "#3--#3--#3-".
inline std::string steps_text(const std::array<SequencePatternStep, 8>& steps) {
    std::string text;
    for (const auto& step : steps) {
        text += step.on ? "#" : "-";
        if (step.on && step.pitch != 0)
            text += std::to_string(step.pitch);
    }
    return text;
}

}  // namespace quarn_test
