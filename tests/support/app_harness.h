#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "App.h"
#include "test_support.h"

namespace quarn_test {

// One line of the output area as the screen shows it, as wide as its text.
std::string line_text(const tui::Element& line);
// Style of a line's first cell.
bool is_bold(const tui::Element& line);
tui::Color color_of(const tui::Element& line);
std::vector<std::string> texts(const std::vector<tui::Element>& lines);

// The pieces of a text cut at blanks and line ends.
std::vector<std::string> words_of(const std::string& text);

// A WAV file of `frames` frames of a quiet tone, 16-bit mono at 44100 Hz.
void write_wav(const std::filesystem::path& path, int frames = 4410);

// An App on a temporary base folder holding a copy of the generated packs.
// Test thread only, apart from the App's own threads.
class AppHarness {
  public:
    // Without packs the base folder is empty (no "samples" folder at all).
    explicit AppHarness(bool with_packs = true);
    explicit AppHarness(const std::filesystem::path& base_folder);
    ~AppHarness();

    App& app() { return *app_; }
    Sequencer& sequencer() { return app_->get_sequencer(); }
    const std::filesystem::path& base() const { return base_; }
    std::filesystem::path pack(const std::string& name) const { return base_ / "samples" / name; }

    // Runs a line as the command field does, without the output area.
    InputError run(const std::string& line);
    // Runs a line through the command field's Enter handler; false when it failed.
    bool enter(const std::string& line);

    // The loaded samples in load order, read from the "samples" reply.
    std::vector<std::string> samples();
    std::vector<std::string> instruments() { return sequencer().get_pattern_names(false); }
    std::vector<std::string> pending() { return texts(app_->pending_lines()); }
    std::vector<std::string> output() { return texts(app_->output_lines()); }

    std::unique_ptr<CommandField> field;

  private:
    TempDir dir;
    std::filesystem::path base_;
    std::unique_ptr<App> app_;
};

}  // namespace quarn_test
