// Microseconds to build, lay out and render a full 160x50 screen shaped like
// the program's: three framed columns, a pattern grid of 16 two-row entries
// and 10 output lines. Prints the mean and the best of several rounds;
// --show prints the last frame too.
//
// Then the program's own middle column and step clock with big songs loaded
// (100,000 instruments; 100 instruments in 200,000 parts), none of whose
// samples is loaded: microseconds per redraw, per step and per command.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <iomanip>
#include <sstream>
#include <string>
#include <vector>

#include <filesystem>

#include <picojson.h>

#include "App.h"
#include "CommandField.h"
#include "custom_input.h"
#include "scroller.h"
#include "window_frame.h"

using namespace tui;

namespace {

Element pattern_rows(int index, int current_step) {
    std::wostringstream header;
    header << L"> " << std::left << std::setw(14) << (L"sample" + std::to_wstring(index)) << L" "
           << std::fixed << std::setprecision(2) << 0.75 << L" &" << (index % 4);
    Elements cells;
    for (int step = 0; step < 8; ++step) {
        bool on = (step + index) % 3 == 0;
        Color background = step == current_step ? Color::GrayLight : Color::GrayDark;
        cells.push_back(text(on ? L" # " : L" - ") | bgcolor(background) | color(Color::White));
    }
    return vbox({text(header.str()), hbox(cells)});
}

Component list_renderer(std::vector<std::wstring> names) {
    return Renderer([names] {
        Elements rows;
        for (const auto& name : names)
            rows.push_back(text(name));
        return vbox(rows) | size(WIDTH, EQUAL, 20);
    });
}

using Clock = std::chrono::steady_clock;

double microseconds_since(Clock::time_point start) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

picojson::value pattern_json(const std::string& name) {
    picojson::object pattern;
    pattern["name"] = picojson::value(name);
    pattern["patternRaw"] = picojson::value("#-#-#-#-");
    pattern["volume"] = picojson::value(1.0);
    return picojson::value(std::move(pattern));
}

picojson::value song(int instruments, int parts) {
    picojson::array current;
    for (int i = 0; i < instruments; ++i)
        current.push_back(pattern_json("i" + std::to_string(i)));
    picojson::object part_list;
    for (int p = 0; p < parts; ++p) {
        picojson::object part;
        part["instrumentCollection"] = picojson::value(picojson::array{});
        part_list["p" + std::to_string(p)] = picojson::value(std::move(part));
    }
    picojson::object root;
    root["activeInstruments"] = picojson::value(std::move(current));
    root["parts"] = picojson::value(std::move(part_list));
    return picojson::value(std::move(root));
}

// The program's middle column redrawn, the step clock's steps and a few
// commands, with the song loaded into an App whose base folder has no packs.
void big_song(int instruments, int parts) {
    const auto base = std::filesystem::temp_directory_path() / "quarn-bench-render";
    std::filesystem::create_directories(base);
    App app(base.string());
    CommandField field(app);
    app.connect_sequencer([](int) {});
    Sequencer& sequencer = app.get_sequencer();
    const picojson::value composition = song(instruments, parts);
    auto start = Clock::now();
    sequencer.from_json(composition);
    const double load = microseconds_since(start);

    Screen screen(160, 50);
    const int frames = 50;
    start = Clock::now();
    for (int frame = 0; frame < frames; ++frame) {
        screen.Clear();
        Render(screen, app.render_main(field));
    }
    const double redraw = microseconds_since(start) / frames;

    // 24000 frames a step at 120 bpm and 96 kHz: every call advances.
    const int steps = 16;
    double slowest_step = 0;
    start = Clock::now();
    for (int step = 0; step < steps; ++step) {
        const auto one = Clock::now();
        sequencer.tick(24001, 96000);
        slowest_step = std::max(slowest_step, microseconds_since(one));
    }
    const double step = microseconds_since(start) / steps;

    std::printf(
        "song of %d instruments, %d parts: load %.0f us; redraw 160x50 %.0f us; step mean %.0f "
        "us, slowest %.0f us (check %s)\n  commands:",
        instruments, parts, load, redraw, step, slowest_step,
        screen.PixelAt(80, 25).character.c_str());
    for (const char* line : {"bpm 130", "=bench", "bench", "/bench", "parts"}) {
        start = Clock::now();
        app.get_input_parser().parse(line);
        std::printf(" \"%s\" %.0f us", line, microseconds_since(start));
    }
    std::printf("\n");
    std::filesystem::remove_all(base);
}

}  // namespace

int main(int argc, char** argv) {
    bool show = argc > 1 && std::string(argv[1]) == "--show";  // print the last frame
    bool play = true, record = false, basic = true;
    std::atomic<int> bpm{120};
    std::atomic<float> volume{0.8f};
    std::wstring command = L"kick 0.7 #- &4";
    InputOption option;
    int step = 0;

    std::vector<std::wstring> samples, parts = {L"verse", L"chorus"};
    for (int i = 0; i < 24; ++i)
        samples.push_back(L"sample" + std::to_wstring(i));

    auto settings = Container::Vertical({
        Checkbox("Play", &play),
        Checkbox("Record", &record),
        Checkbox("Basic", &basic),
        Renderer([] { return text("") | size(WIDTH, EQUAL, 20); }),
        Slider("BPM   ", &bpm, 20, 240, 1),
        Slider("Volume", &volume, 0.0f, 1.0f, 0.05f),
    });
    auto left = Container::Vertical({
        Window(L"Settings", settings, 8),
        Window(L"Parts", Scroller(Container::Vertical({list_renderer(parts)})), -1),
    });
    auto input = custom_Input(&command, "", &option);
    auto middle = Renderer(input, [&] {
        Elements output;
        for (int i = 0; i < 10; ++i)
            output.push_back(text(L"> output line " + std::to_wstring(i)) | bold);
        Element output_block = vbox(output) | size(WIDTH, EQUAL, 48) | hcenter;
        Element command_block =
            vbox({text(""), text("Command:"), input->Render(), text(""), text("")}) |
            size(WIDTH, EQUAL, 48) | hcenter;
        Elements grid;
        for (int i = 0; i < 16; ++i)
            grid.push_back(pattern_rows(i, step));
        return custom_window(text("Quarn"),
                             vbox({output_block, command_block, vbox(grid) | hcenter}) | xflex);
    });
    auto right = Container::Vertical({
        Window(L"Sample Packs", list_renderer({L"> default", L"  drovan"}), -1),
        Window(L"Samples", Scroller(Container::Vertical({list_renderer(samples)})), -1),
    });
    auto root = Container::Horizontal({left, middle, right});
    input->TakeFocus();

    const int frames_per_round = 2000;
    std::vector<double> rounds;
    Screen screen(160, 50);
    size_t checksum = 0;
    for (int round = 0; round < 5; ++round) {
        auto start = Clock::now();
        for (int frame = 0; frame < frames_per_round; ++frame) {
            step = frame % 8;
            screen.Clear();
            Render(screen, root->Render());
            checksum += screen.PixelAt(80, 25).character.size();
        }
        std::chrono::duration<double, std::micro> elapsed = Clock::now() - start;
        rounds.push_back(elapsed.count() / frames_per_round);
    }
    if (show)
        std::printf("%s\n", screen.ToString().c_str());
    double mean = 0;
    for (double r : rounds)
        mean += r;
    mean /= rounds.size();
    std::printf(
        "render 160x50, 3 framed columns, 16 patterns, 10 output lines: "
        "mean %.1f us/frame, best round %.1f us/frame (%d frames x %zu rounds, check %zu)\n",
        mean, *std::min_element(rounds.begin(), rounds.end()), frames_per_round, rounds.size(),
        checksum);
    big_song(100, 0);
    big_song(100000, 0);
    big_song(100, 200000);
    return 0;
}
