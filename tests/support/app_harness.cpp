#include "app_harness.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <stdexcept>

namespace quarn_test {

namespace fs = std::filesystem;

std::string line_text(const tui::Element& line) {
    line->ComputeRequirement();
    const int width = line->requirement().min_x;
    if (width <= 0)
        return "";
    tui::Screen screen(width, 1);
    tui::Render(screen, line);
    return screen.ToString();
}

std::vector<std::string> texts(const std::vector<tui::Element>& lines) {
    std::vector<std::string> result;
    for (const auto& line : lines)
        result.push_back(line_text(line));
    return result;
}

tui::Pixel first_cell(const tui::Element& line) {
    tui::Screen screen(100, 1);
    tui::Render(screen, line);
    return screen.PixelAt(0, 0);
}

void write_wav(const fs::path& path, int frames, int rate) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file)
        throw std::runtime_error("cannot write " + path.string());
    std::vector<float> data(static_cast<std::size_t>(frames));
    for (int i = 0; i < frames; ++i)
        data[i] = 0.3f * static_cast<float>(std::sin(i * 0.05));
    sf_writef_float(file, data.data(), frames);
    sf_close(file);
}

AppHarness::AppHarness(bool with_packs) {
    if (with_packs)
        copy_shipped_packs(base() / "samples");
    app_ = std::make_unique<App>(base().string());
    // The callbacks run() installs, without the screen's redraw.
    app_->connect_sequencer(nullptr);
    field = std::make_unique<CommandField>(*app_);
}

AppHarness::~AppHarness() {
    field.reset();
    app_.reset();
}

bool AppHarness::enter(const std::string& line) {
    field->command_text = tui::to_wstring(line);
    field->on_enter();
    return field->command_text.empty();
}

bool AppHarness::settle(const std::string& pack, std::chrono::milliseconds patience) {
    const std::string marker = "marker" + std::to_string(++markers);
    fs::path scratch = base() / "marker.wav";
    write_wav(scratch);
    fs::rename(scratch, this->pack(pack) / (marker + ".wav"));
    return wait_until(
        [&] {
            const auto names = samples();
            return std::find(names.begin(), names.end(), marker) != names.end();
        },
        patience);
}

std::vector<std::string> AppHarness::samples() {
    const std::string listing = app_->get_sample_listing();
    if (listing.starts_with("You have no samples loaded."))
        return {};
    std::istringstream in(listing);
    std::vector<std::string> names;
    for (std::string name; in >> name;)
        names.push_back(name);
    return names;
}

}  // namespace quarn_test
