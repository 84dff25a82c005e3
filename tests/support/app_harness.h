#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "App.h"
#include "CommandField.h"
#include "test_support.h"

namespace quarn_test {

// One line of the output area as the screen shows it, as wide as its text.
std::string line_text(const tui::Element& line);
std::vector<std::string> texts(const std::vector<tui::Element>& lines);
// The style of a line's first cell.
tui::Pixel first_cell(const tui::Element& line);

// A WAV file of `frames` frames of a quiet tone, 16-bit mono at `rate`.
void write_wav(const std::filesystem::path& path, int frames = 4410, int rate = 44100);

// An App on a temporary base folder holding a copy of the shipped packs
// (or nothing at all). Test thread only, apart from the App's own threads.
class AppHarness {
  public:
    explicit AppHarness(bool with_packs = true);
    ~AppHarness();

    App& app() { return *app_; }
    Sequencer& sequencer() { return app_->get_sequencer(); }
    const std::filesystem::path& base() const { return dir.path(); }
    std::filesystem::path pack(const std::string& name) const {
        return dir.path() / "samples" / name;
    }

    // Runs a line as the command field does, leaving the output area alone.
    InputError run(const std::string& line) { return app_->get_input_parser().parse(line); }
    // Runs a line through the command field's Enter handler; true when accepted.
    bool enter(const std::string& line);

    // Waits until the watcher has handled every earlier file event: a new
    // sample file of the active pack `pack` shows up only after them.
    bool settle(const std::string& pack,
                std::chrono::milliseconds patience = std::chrono::seconds(10));

    // The loaded samples in load order, read from the "samples" reply.
    std::vector<std::string> samples();
    std::vector<std::string> instruments() { return sequencer().get_pattern_names(false); }
    std::vector<std::string> pending() { return texts(app_->pending_lines()); }
    std::vector<std::string> output() { return texts(app_->output_lines()); }

    std::unique_ptr<CommandField> field;

  private:
    TempDir dir;
    std::unique_ptr<App> app_;
    int markers = 0;
};

}  // namespace quarn_test
