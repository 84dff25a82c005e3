#include "App.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <iomanip>
#include <sstream>
#include <utility>

#include "CommandField.h"
#include "ReplyText.h"
#include "scroller.h"
#include "string_utils.h"
#include "tui/component/screen_interactive.h"
#include "tui/screen/unicode.h"
#include "window_frame.h"

namespace {

constexpr int kTextWidth = reply_width;

tui::Element fixed_width(tui::Element element, int width) {
    return element | tui::size(tui::WIDTH, tui::EQUAL, width);
}

// Sends the standard error stream to nowhere while the screen is up: libraries
// below the audio device and the decoders print notes there, which would
// scribble over the interface.
class QuietStandardError {
  public:
    QuietStandardError() : saved(::dup(STDERR_FILENO)) {
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (saved >= 0 && null >= 0)
            ::dup2(null, STDERR_FILENO);
        if (null >= 0)
            ::close(null);
    }
    ~QuietStandardError() {
        if (saved < 0)
            return;
        ::dup2(saved, STDERR_FILENO);
        ::close(saved);
    }
    QuietStandardError(const QuietStandardError&) = delete;
    QuietStandardError& operator=(const QuietStandardError&) = delete;

  private:
    int saved;
};

constexpr int kGridRowsPerPattern = 2;  // the header and the cells
constexpr std::size_t kVolumeWidth = 4;

std::wstring padded_left(const std::string& text) {
    return std::wstring(kVolumeWidth - std::min(text.size(), kVolumeWidth), L' ') +
           tui::to_wstring(text);
}

// The volume in the four columns it has for any value, so that every header
// is as wide as the others: "0.70", "12.5", " 100", " 2e5" (2 x 10^5). Only a
// file written by hand holds a volume below -9e9, which has no such form.
std::wstring volume_column(float volume) {
    char text[64];
    for (const char* format : {"%.2f", "%.1f", "%.0f"}) {
        std::snprintf(text, sizeof text, format, static_cast<double>(volume));
        if (std::strlen(text) <= kVolumeWidth)
            return padded_left(text);
    }
    std::snprintf(text, sizeof text, "%.0e", static_cast<double>(volume));
    std::string power = text;  // "2e+05"
    const auto e = power.find('e');
    power.erase(e + 1, 1);  // the exponent's sign, "+" for these sizes
    while (power.size() > e + 2 && power[e + 1] == '0')
        power.erase(e + 1, 1);
    return padded_left(power.size() <= kVolumeWidth ? power : "-big");
}

tui::Element pattern_header(const SequencerPattern& pattern, bool basic) {
    std::wostringstream header;
    header << (pattern.enabled ? L"> " : L". ") << std::left << std::setw(basic ? 14 : 30)
           << tui::to_wstring(pattern.name) << L" " << volume_column(pattern.volume) << L" &"
           << pattern.random;
    return tui::text(header.str());
}

tui::Element pattern_cells(const SequencerPattern& pattern, bool basic, int current_step) {
    tui::Elements cells;
    for (int i = 0; i < 8; ++i) {
        const auto& step = pattern.steps[i];
        std::wstring cell;
        if (basic) {
            cell = step.on ? L" # " : L" - ";
        } else {
            cell = step.on ? L" #" + to_tiny_string(step.pitch) : L" -   ";
        }
        const bool lit = pattern.enabled && i == current_step;
        cells.push_back(tui::text(cell) |
                        tui::bgcolor(lit ? tui::Color::GrayLight : tui::Color::GrayDark) |
                        tui::color(tui::Color::White));
    }
    return tui::hbox(std::move(cells));
}

// Rows `first` to `last` of the pattern grid, centred on their own width.
tui::Element pattern_grid_rows(Sequencer& sequencer, bool basic, int first, int last) {
    const std::size_t first_pattern = static_cast<std::size_t>(first / kGridRowsPerPattern);
    const std::size_t wanted =
        static_cast<std::size_t>(last / kGridRowsPerPattern) - first_pattern + 1;
    const auto patterns = sequencer.snapshot_patterns(true, first_pattern, wanted);
    // Read once, so that every row of a frame lights the same step.
    const int current_step = sequencer.current_step();
    tui::Elements rows;
    for (const auto& pattern : patterns) {
        rows.push_back(pattern_header(pattern, basic));
        rows.push_back(pattern_cells(pattern, basic, current_step));
    }
    // A view that begins or ends inside a pattern shows only its row there.
    if (first % kGridRowsPerPattern == 1 && !rows.empty())
        rows.erase(rows.begin());
    if (last % kGridRowsPerPattern == 0 && patterns.size() == wanted && !rows.empty())
        rows.pop_back();
    return tui::vbox(std::move(rows)) | tui::hcenter;
}

// A list of `count` names, one per row, of which only those in view are
// fetched and made.
tui::Element lines_of_names(
    std::size_t count,
    std::function<std::vector<std::string>(std::size_t first, std::size_t count)> names_in) {
    const int rows = static_cast<int>(std::min<std::size_t>(count, INT_MAX));
    return tui::lines_on_demand(rows, [names_in = std::move(names_in)](int first, int last) {
        tui::Elements lines;
        for (const auto& name :
             names_in(static_cast<std::size_t>(first), static_cast<std::size_t>(last - first + 1)))
            lines.push_back(tui::text(tui::to_wstring(name)));
        return tui::vbox(std::move(lines));
    });
}

}  // namespace

void App::run() {
    audio_engine->start();

    CommandField field(*this);
    {
        std::lock_guard<std::mutex> lock(output_mutex);
        output.assign(max_output_len, tui::text(L""));
        output[max_output_len - 2] = tui::text(L"type 'tutorial' for tutorial") | tui::bold;
        output[max_output_len - 1] = tui::text(L"type 'help' for help") | tui::bold;
    }
    field.history_index = 0;
    field.command_option.on_enter = [&field] { field.on_enter(); };
    auto middle_column = tui::Renderer(
        tui::CatchEvent(field.command_input,
                        [&field](const tui::Event& event) { return field.on_key(event); }),
        [this, &field] { return render_main(field); });
    // The step clock asks for the focus from the audio thread; it is moved
    // here, on the interface thread, when the posted event arrives.
    auto root = tui::CatchEvent(
        tui::Container::Horizontal({settings_column(field), middle_column, lists_column()}),
        [this, &field](const tui::Event& event) {
            if (event == tui::Event::Custom)
                field.command_input->TakeFocus();
            end_failed_recording();
            show_background_failures();
            // The sounds that ended meanwhile are freed here, on this
            // thread, not on the audio thread.
            audio_engine->release_ended_players();
            return false;
        });

    auto screen = tui::ScreenInteractive::Fullscreen();
    // However the loop ends, the audio thread lets go of the screen and the
    // field before they go (declared after them, so it runs first).
    struct Unhook {
        App& app;
        ~Unhook() {
            app.audio_engine->stop();
            app.audio_engine->set_recording_failed_callback(nullptr);
            app.sequencer->set_callbacks(nullptr, nullptr, nullptr);
            std::lock_guard<std::mutex> lock(app.wake_mutex);
            app.wake_interface = nullptr;
        }
    } unhook{*this};
    connect_to_screen(screen);
    show_background_failures();  // what failed before the screen was up (the watcher's start)
    field.command_input->TakeFocus();
    QuietStandardError quiet;
    screen.Loop(root);
}

tui::Component App::settings_column(CommandField& field) {
    // Shift-Tab on "Play" and Tab on "Volume" close the focus ring through
    // the command field.
    auto back_to_field = [&field](tui::Event key) {
        return [&field, key](const tui::Event& event) {
            if (event != key)
                return false;
            field.command_input->TakeFocus();
            return true;
        };
    };
    field.play_checkbox = tui::CatchEvent(tui::Checkbox("Play", &play_checked, play_option),
                                          back_to_field(tui::Event::TabReverse));
    field.volume_slider =
        tui::CatchEvent(tui::Slider("Volume", &audio_engine->master_volume, 0.0f, 1.0f, 0.05f),
                        back_to_field(tui::Event::Tab));
    auto spacer = tui::Renderer([] { return fixed_width(tui::text(L""), 20); });
    auto settings = tui::Container::Vertical({
        field.play_checkbox,
        tui::Checkbox("Record", &record_checked, record_option),
        tui::Checkbox("Basic", &basic_view),
        spacer,
        tui::Slider("BPM   ", &sequencer->bpm, 20, 240, 1),
        field.volume_slider,
    });
    auto part_list = tui::Renderer([this] { return render_part_list(); });
    return tui::Container::Vertical({
        Window(L"Settings", settings, 8),
        Window(L"Parts", tui::Scroller(tui::Container::Vertical({part_list})), -1),
    });
}

tui::Component App::lists_column() {
    auto pack_list = tui::Renderer([this] { return render_pack_list(); });
    auto sample_list = tui::Renderer([this] { return render_sample_list(); });
    return tui::Container::Vertical({
        Window(L"Sample Packs", pack_list, -1),
        Window(L"Samples", tui::Scroller(tui::Container::Vertical({sample_list})), -1),
    });
}

void App::connect_sequencer(std::function<void(int step)> on_step) {
    sequencer->set_callbacks(
        std::move(on_step),
        [this](std::shared_ptr<SequencerPattern> pattern, int step) {
            play_sample(pattern->name, pattern->volume, pattern->steps[step].pitch);
        },
        [this](const std::string& name) { return has_sample(name); });
}

void App::connect_to_screen(tui::ScreenInteractive& screen) {
    connect_sequencer([&screen](int) { screen.PostEvent(tui::Event::Custom); });
    // A take that fails wakes the loop, which ends it and says so at once.
    audio_engine->set_recording_failed_callback(
        [&screen] { screen.PostEvent(tui::Event::Custom); });
    // So does work that fails on another thread.
    std::lock_guard<std::mutex> lock(wake_mutex);
    wake_interface = [&screen] { screen.PostEvent(tui::Event::Custom); };
}

tui::Element App::render_main(CommandField& field) {
    std::vector<tui::Element> lines;
    {
        std::lock_guard<std::mutex> lock(output_mutex);
        lines = output;
    }
    // Squeezed, the output area keeps its newest lines in view.
    if (!lines.empty())
        lines.back() = lines.back() | tui::select;
    auto output_block =
        fixed_width(tui::vbox(std::move(lines)) | tui::yframe, kTextWidth) | tui::hcenter;
    auto command_block = fixed_width(tui::vbox({
                                         tui::text(L"") | tui::yflex_shrink,
                                         tui::text(L"Command:") | tui::yflex_shrink,
                                         field.command_input->Render(),
                                         tui::text(field.status_text) | field.status_style,
                                         tui::text(L"") | tui::yflex_shrink,
                                     }),
                                     kTextWidth) |
                         tui::hcenter;
    // Short of rows, the pattern grid gives way first (cut at the bottom), then
    // the oldest output lines; the command field and its status line stay.
    auto above_grid = tui::vbox({output_block | tui::yflex_shrink, command_block});
    auto grid = render_pattern_grid() | tui::yframe | tui::yflex_shrink;
    return custom_window(tui::text(L"Quarn"), tui::vbox({above_grid, grid}) | tui::xflex);
}

tui::Element App::render_pattern_grid() {
    const bool basic = basic_view;
    // Two rows per pattern; only the ones in view are made, at render time.
    // Inactive patterns (only set_pattern makes any) are not drawn and leave
    // blank rows at the bottom instead.
    const std::size_t count =
        std::min<std::size_t>(sequencer->pattern_count(), INT_MAX / kGridRowsPerPattern);
    return tui::lines_on_demand(static_cast<int>(count) * kGridRowsPerPattern,
                                [this, basic](int first, int last) {
                                    return pattern_grid_rows(*sequencer, basic, first, last);
                                });
}

tui::Element App::render_pack_list() {
    const auto names = user_lib->get_sample_pack_names();
    tui::Elements rows;
    for (const auto& name : names)
        rows.push_back(tui::text((name == pack_name ? L"> " : L"  ") + name));
    return fixed_width(tui::vbox(std::move(rows)), 20) |
           tui::size(tui::HEIGHT, tui::EQUAL, static_cast<int>(names.size()));
}

tui::Element App::render_sample_list() {
    std::size_t count = 0;
    {
        std::lock_guard<std::mutex> lock(samples_mutex);
        count = sample_names.size();
    }
    return fixed_width(
        lines_of_names(count,
                       [this](std::size_t first, std::size_t wanted) {
                           std::lock_guard<std::mutex> lock(samples_mutex);
                           const std::size_t begin = std::min(first, sample_names.size());
                           const std::size_t end =
                               begin + std::min(wanted, sample_names.size() - begin);
                           return std::vector<std::string>(
                               sample_names.begin() + static_cast<std::ptrdiff_t>(begin),
                               sample_names.begin() + static_cast<std::ptrdiff_t>(end));
                       }),
        20);
}

tui::Element App::render_part_list() {
    const std::size_t count = sequencer->part_count();
    if (count == 0)
        return fixed_width(tui::text(L"None"), 20);
    return fixed_width(lines_of_names(count,
                                      [this](std::size_t first, std::size_t wanted) {
                                          return sequencer->get_state_names(first, wanted);
                                      }),
                       20);
}
