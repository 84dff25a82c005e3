// Patterns and parts: creation, copies, save/recall/delete.
#include "Sequencer.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

using Names = std::vector<std::string>;

// A sequencer whose sample check answers for a fixed set of names.
class SequencerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sequencer.set_callbacks(
            {}, {}, [this](const std::string& name) { return samples.count(name) > 0; });
    }

    PatternPtr make(const std::string& name) {
        auto pattern = sequencer.get_or_create_pattern(name);
        EXPECT_TRUE(pattern) << name;
        return pattern;
    }

    std::set<std::string> samples{"kick", "snare", "hh"};
    Sequencer sequencer;
};

TEST_F(SequencerTest, StartsEmptyAt120Playing) {
    EXPECT_EQ(sequencer.bpm.load(), 120);
    EXPECT_TRUE(sequencer.playing.load());
    EXPECT_TRUE(sequencer.get_patterns(false).empty());
    EXPECT_TRUE(sequencer.get_state_names().empty());
    EXPECT_EQ(sequencer.current_step(), 0);
}

TEST_F(SequencerTest, CreatesOnlyForLoadedSamples) {
    EXPECT_FALSE(sequencer.get_or_create_pattern("nosuch"));
    EXPECT_TRUE(sequencer.get_patterns(false).empty());

    auto kick = make("kick");
    EXPECT_EQ(kick->name, "kick");
    EXPECT_TRUE(kick->active);
    EXPECT_TRUE(kick->enabled);
    EXPECT_FLOAT_EQ(kick->volume, 1.0f);
    EXPECT_EQ(kick->random, 0);
    for (const auto& step : kick->steps) {
        EXPECT_FALSE(step.on);
        EXPECT_EQ(step.pitch, 0);
    }
    // The second call returns the very same object, whatever its flags.
    kick->active = false;
    kick->enabled = false;
    EXPECT_EQ(sequencer.get_or_create_pattern("kick"), kick);
    EXPECT_EQ(sequencer.get_pattern("kick"), kick);
    EXPECT_FALSE(sequencer.get_pattern("snare"));
}

TEST_F(SequencerTest, NoSampleCheckMeansNoNewPatterns) {
    Sequencer bare;
    EXPECT_FALSE(bare.get_or_create_pattern("kick"));
    EXPECT_TRUE(bare.get_patterns(false).empty());
}

TEST_F(SequencerTest, ActiveSelectionKeepsOrder) {
    auto kick = make("kick");
    auto snare = make("snare");
    auto hh = make("hh");
    snare->active = false;
    EXPECT_EQ(sequencer.get_pattern_names(false), (Names{"kick", "snare", "hh"}));
    EXPECT_EQ(sequencer.get_pattern_names(true), (Names{"kick", "hh"}));
    auto active = sequencer.get_patterns(true);
    ASSERT_EQ(active.size(), 2u);
    EXPECT_EQ(active[0], kick);
    EXPECT_EQ(active[1], hh);
}

TEST_F(SequencerTest, NewInstrumentJoinsEveryPartMuted) {
    auto kick = make("kick");
    kick->steps[0].on = true;
    ASSERT_TRUE(sequencer.save_state("verse"));
    ASSERT_TRUE(sequencer.save_state("chorus"));

    // A part that already holds "snare" gains a second one.
    auto snare = make("snare");
    ASSERT_TRUE(sequencer.save_state("bridge"));
    sequencer.delete_sample("snare");
    ASSERT_FALSE(sequencer.get_pattern("snare"));
    auto again = make("snare");
    EXPECT_TRUE(again->enabled);

    ASSERT_TRUE(sequencer.load_state("verse"));
    auto verse = sequencer.get_patterns(false);
    ASSERT_EQ(verse.size(), 2u);
    EXPECT_EQ(verse[1]->name, "snare");
    EXPECT_TRUE(verse[1]->active);
    EXPECT_FALSE(verse[1]->enabled);

    ASSERT_TRUE(sequencer.load_state("bridge"));
    // delete_sample took "snare" out of the bridge too; the new one came back muted.
    EXPECT_EQ(sequencer.get_pattern_names(false), (Names{"kick", "snare"}));
    EXPECT_FALSE(sequencer.get_pattern("snare")->enabled);
}

TEST_F(SequencerTest, PartThatHeldTheNameHoldsItTwice) {
    auto kick = make("kick");
    sequencer.edit_pattern(kick, [](SequencerPattern& p) { p.steps[0].on = true; });
    ASSERT_TRUE(sequencer.save_state("p"));
    // The live object renamed by hand (as a moved sample file does) leaves the
    // part holding "kick" while the current list has none.
    sequencer.edit_pattern(kick, [](SequencerPattern& p) { p.name = "bd"; });

    make("kick");
    ASSERT_TRUE(sequencer.load_state("p"));
    auto patterns = sequencer.get_patterns(false);
    ASSERT_EQ(patterns.size(), 2u);
    EXPECT_TRUE(patterns[0]->steps[0].on);  // the old one first
    EXPECT_TRUE(patterns[0]->enabled);
    EXPECT_EQ(patterns[1]->name, "kick");
    EXPECT_FALSE(patterns[1]->steps[0].on);
    EXPECT_FALSE(patterns[1]->enabled);
    // Lookups act on the first of the two; rename touches only that one.
    EXPECT_EQ(sequencer.get_pattern("kick"), patterns[0]);
    sequencer.rename_sample("kick", "sd");
    EXPECT_EQ(sequencer.get_pattern_names(false), (Names{"sd", "kick"}));
    sequencer.delete_sample("kick");
    EXPECT_EQ(sequencer.get_pattern_names(false), Names{"sd"});
}

TEST_F(SequencerTest, PartsAreCopiesNeverShared) {
    auto kick = make("kick");
    kick->volume = 0.5f;
    ASSERT_TRUE(sequencer.save_state("verse"));

    // Changing the live pattern after saving leaves the part alone.
    kick->volume = 0.9f;
    kick->steps[3].on = true;
    ASSERT_TRUE(sequencer.load_state("verse"));
    auto recalled = sequencer.get_pattern("kick");
    ASSERT_TRUE(recalled);
    EXPECT_NE(recalled, kick);
    EXPECT_FLOAT_EQ(recalled->volume, 0.5f);
    EXPECT_FALSE(recalled->steps[3].on);

    // Changing the recalled pattern leaves the part alone too.
    recalled->volume = 0.1f;
    ASSERT_TRUE(sequencer.load_state("verse"));
    auto second = sequencer.get_pattern("kick");
    EXPECT_NE(second, recalled);
    EXPECT_FLOAT_EQ(second->volume, 0.5f);
}

TEST_F(SequencerTest, SaveStateRules) {
    auto kick = make("kick");
    kick->active = false;
    // A part may not share a name with a current pattern, active or not.
    EXPECT_FALSE(sequencer.save_state("kick"));
    EXPECT_TRUE(sequencer.get_state_names().empty());

    sequencer.bpm = 100;
    ASSERT_TRUE(sequencer.save_state("b"));
    ASSERT_TRUE(sequencer.save_state("a"));
    make("snare");
    sequencer.bpm = 140;
    ASSERT_TRUE(sequencer.save_state("b"));  // stored again: keeps its place
    EXPECT_EQ(sequencer.get_state_names(), (Names{"b", "a"}));

    sequencer.bpm = 90;
    ASSERT_TRUE(sequencer.load_state("b"));
    EXPECT_EQ(sequencer.bpm.load(), 140);
    EXPECT_EQ(sequencer.get_pattern_names(false), (Names{"kick", "snare"}));
    ASSERT_TRUE(sequencer.load_state("a"));
    EXPECT_EQ(sequencer.bpm.load(), 100);
    // "snare" was created after "a" was stored: the part gained it muted.
    EXPECT_EQ(sequencer.get_pattern_names(false), (Names{"kick", "snare"}));
    EXPECT_FALSE(sequencer.get_pattern("snare")->enabled);
}

TEST_F(SequencerTest, LoadingAnUnknownPartChangesNothing) {
    auto kick = make("kick");
    ASSERT_TRUE(sequencer.save_state("verse"));
    sequencer.bpm = 133;
    EXPECT_FALSE(sequencer.load_state("nosuch"));
    EXPECT_EQ(sequencer.bpm.load(), 133);
    EXPECT_EQ(sequencer.get_pattern("kick"), kick);
    EXPECT_EQ(sequencer.get_state_names(), Names{"verse"});
}

TEST_F(SequencerTest, DeleteStateRemovesFirstMatchOnly) {
    make("kick");
    ASSERT_TRUE(sequencer.save_state("a"));
    ASSERT_TRUE(sequencer.save_state("b"));
    EXPECT_TRUE(sequencer.delete_state("a"));
    EXPECT_FALSE(sequencer.delete_state("a"));
    EXPECT_EQ(sequencer.get_state_names(), Names{"b"});
    sequencer.delete_part("b");
    EXPECT_TRUE(sequencer.get_state_names().empty());
}

TEST_F(SequencerTest, DeleteAndRenameAcrossParts) {
    make("kick");
    make("snare");
    ASSERT_TRUE(sequencer.save_state("verse"));

    sequencer.rename_sample("kick", "bd");
    EXPECT_FALSE(sequencer.get_pattern("kick"));
    EXPECT_TRUE(sequencer.get_pattern("bd"));
    ASSERT_TRUE(sequencer.load_state("verse"));
    EXPECT_EQ(sequencer.get_pattern_names(false), (Names{"bd", "snare"}));

    sequencer.delete_sample("snare");
    EXPECT_EQ(sequencer.get_pattern_names(false), Names{"bd"});
    ASSERT_TRUE(sequencer.load_state("verse"));
    EXPECT_EQ(sequencer.get_pattern_names(false), Names{"bd"});
}

TEST_F(SequencerTest, SetPatternStoresCopies) {
    make("kick");
    ASSERT_TRUE(sequencer.save_state("verse"));

    auto given = std::make_shared<SequencerPattern>();
    given->name = "kick";
    given->volume = 0.25f;
    sequencer.set_pattern(given);
    auto tom = std::make_shared<SequencerPattern>();
    tom->name = "tom";
    sequencer.set_pattern(tom);
    sequencer.set_pattern(nullptr);

    auto current = sequencer.get_pattern("kick");
    ASSERT_TRUE(current);
    EXPECT_NE(current, given);
    EXPECT_FLOAT_EQ(current->volume, 0.25f);
    EXPECT_TRUE(given->enabled);  // the caller's objects are unchanged
    EXPECT_TRUE(tom->enabled);
    EXPECT_NE(sequencer.get_pattern("tom"), tom);
    EXPECT_TRUE(sequencer.get_pattern("tom")->enabled);

    ASSERT_TRUE(sequencer.load_state("verse"));
    EXPECT_EQ(sequencer.get_pattern_names(false), (Names{"kick", "tom"}));
    EXPECT_FLOAT_EQ(sequencer.get_pattern("kick")->volume, 0.25f);  // slot replaced
    EXPECT_TRUE(sequencer.get_pattern("kick")->enabled);
    EXPECT_FALSE(sequencer.get_pattern("tom")->enabled);  // appended muted
}

TEST_F(SequencerTest, ClearKeepsTempoAndClock) {
    make("kick")->steps[0].on = true;
    ASSERT_TRUE(sequencer.save_state("verse"));
    sequencer.bpm = 150;
    for (int i = 0; i < 3; ++i)
        sequencer.tick(24000, 96000);
    const int step = sequencer.current_step();
    sequencer.clear();
    EXPECT_TRUE(sequencer.get_patterns(false).empty());
    EXPECT_TRUE(sequencer.get_state_names().empty());
    EXPECT_EQ(sequencer.bpm.load(), 150);
    EXPECT_EQ(sequencer.current_step(), step);
}

TEST_F(SequencerTest, SnapshotsAreConsistentCopies) {
    auto kick = make("kick");
    sequencer.edit_pattern(kick, [](SequencerPattern& p) {
        p.volume = 0.3f;
        p.steps[2] = {true, 7};
    });
    make("snare")->active = false;

    auto copy = sequencer.read_pattern(kick);
    EXPECT_FLOAT_EQ(copy.volume, 0.3f);
    EXPECT_TRUE(copy.steps[2].on);
    EXPECT_EQ(copy.steps[2].pitch, 7);

    auto all = sequencer.snapshot_patterns(false);
    auto active = sequencer.snapshot_patterns(true);
    ASSERT_EQ(all.size(), 2u);
    ASSERT_EQ(active.size(), 1u);
    EXPECT_EQ(active[0].name, "kick");
    active[0].volume = 1.0f;  // a copy: the live pattern is unchanged
    EXPECT_FLOAT_EQ(kick->volume, 0.3f);

    // What a view shows: a range of the selection, counted among its own.
    make("hh");
    auto names = [](const std::vector<SequencerPattern>& copies) {
        Names result;
        for (const auto& copy : copies)
            result.push_back(copy.name);
        return result;
    };
    EXPECT_EQ(sequencer.pattern_count(), 3u);
    EXPECT_EQ(names(sequencer.snapshot_patterns(true, 1, 5)), (Names{"hh"}));
    EXPECT_EQ(names(sequencer.snapshot_patterns(true, 0, 1)), (Names{"kick"}));
    EXPECT_EQ(names(sequencer.snapshot_patterns(false, 1, 1)), (Names{"snare"}));
    EXPECT_EQ(names(sequencer.snapshot_patterns(false, 2, 9)), (Names{"hh"}));
    EXPECT_TRUE(sequencer.snapshot_patterns(false, 3, 1).empty());
    for (const char* part : {"a", "b", "c"})
        ASSERT_TRUE(sequencer.save_state(part));
    EXPECT_EQ(sequencer.part_count(), 3u);
    EXPECT_EQ(sequencer.get_state_names(1, 5), (Names{"b", "c"}));
    EXPECT_EQ(sequencer.get_state_names(0, 1), (Names{"a"}));
    EXPECT_TRUE(sequencer.get_state_names(3, 1).empty());
}

TEST(ClonePatterns, MakesIndependentCopiesInOrder) {
    PatternList list;
    for (const char* name : {"a", "b", "a"}) {
        auto pattern = std::make_shared<SequencerPattern>();
        pattern->name = name;
        pattern->random_counter = 3;
        pattern->steps[1] = {true, -2};
        list.push_back(pattern);
    }
    auto copies = clone_patterns(list);
    ASSERT_EQ(copies.size(), 3u);
    for (size_t i = 0; i < list.size(); ++i) {
        EXPECT_NE(copies[i], list[i]);
        EXPECT_EQ(copies[i]->name, list[i]->name);
        EXPECT_EQ(copies[i]->random_counter, 3);
        EXPECT_EQ(copies[i]->steps[1].pitch, -2);
    }
    copies[0]->steps[1].on = false;
    EXPECT_TRUE(list[0]->steps[1].on);
    EXPECT_TRUE(clone_patterns({}).empty());
}

}  // namespace
