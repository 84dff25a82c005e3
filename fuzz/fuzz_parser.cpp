// Feeds arbitrary bytes to the command parser: each line of the input is run
// as a command on one sequencer and read as a step string, then the clock
// runs a few periods over whatever the commands left.
#include <array>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

#include "InputParser.h"
#include "Sequencer.h"

namespace {

// Knows a few samples and answers every operation.
class FuzzListener : public ParseListener {
  public:
    void on_sample_pack(const std::string&) override {}
    void on_play(bool) override {}
    void on_record(bool) override {}
    void on_save(const std::string&) override {}
    void on_load(const std::string&) override {}
    void on_help(const std::string&) override {}
    void on_tutorial() override {}
    void on_tutorial_next() override {}
    bool on_play_sample(const std::string& name) override { return has_sample(name); }
    bool has_sample(const std::string& name) override { return samples.count(name) > 0; }
    float on_get_volume() override { return volume; }
    void on_set_volume(float value) override { volume = value; }
    std::string get_sample_listing() override { return "kick\nsnare\n"; }

    const std::set<std::string> samples{"kick", "snare", "hh_open2", "808", "volume2"};
    float volume = 1.0f;
};

constexpr int kMaxLines = 64;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzListener listener;
    Sequencer sequencer;
    sequencer.set_callbacks(nullptr, nullptr, [&listener](const std::string& name) {
        return listener.has_sample(name);
    });
    InputParser parser(sequencer, &listener);

    std::string_view input(reinterpret_cast<const char*>(data), size);
    for (int line_count = 0; line_count < kMaxLines && !input.empty(); ++line_count) {
        const auto end = input.find('\n');
        const std::string line(input.substr(0, end));
        input = end == std::string_view::npos ? std::string_view() : input.substr(end + 1);

        const InputError result = parser.parse(line);
        if (result.error_position < 0 || static_cast<size_t>(result.error_position) > line.size())
            __builtin_trap();
        std::array<SequencePatternStep, 8> steps{};
        parser.parse_pattern(line, steps.data());
    }
    for (int period = 0; period < 4; ++period)
        sequencer.tick(4096, 96000);
    return 0;
}
