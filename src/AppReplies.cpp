#include "App.h"

#include <iterator>
#include <utility>

#include "ReplyText.h"
#include "string_utils.h"
#include "tui/screen/unicode.h"

namespace {

constexpr const wchar_t* kRefusedName = L"refused: names may not hold \"/\" or \"..\"";

// A plain title and bold word lines, every one within the output area.
std::vector<tui::Element> wrapped_lines(const std::wstring& title,
                                        const std::vector<std::wstring>& words) {
    std::vector<tui::Element> lines;
    for (auto& line : wrap_text(title))
        lines.push_back(tui::text(std::move(line)));
    for (auto& line : wrap_words(words))
        lines.push_back(tui::text(std::move(line)) | tui::bold);
    return lines;
}

void keep_last_lines(std::vector<tui::Element>& output) {
    if (output.size() > max_output_len)
        output.erase(output.begin(), output.end() - static_cast<std::ptrdiff_t>(max_output_len));
}

}  // namespace

void App::add_words(const std::wstring& title, const std::vector<std::wstring>& words) {
    queue(wrapped_lines(title, words));
}

void App::add_failure(const std::wstring& title, const std::string& reason) {
    add_words(title, words_of(tui::to_wstring(reason)));
}

void App::refuse_name() {
    add_words(kRefusedName, {});
}

void App::show_words_now(const std::wstring& title, const std::vector<std::wstring>& words) {
    auto lines = wrapped_lines(title, words);
    std::lock_guard<std::mutex> lock(output_mutex);
    output.insert(output.end(), lines.begin(), lines.end());
    keep_last_lines(output);
}

void App::queue(std::vector<tui::Element> lines) {
    std::lock_guard<std::mutex> lock(output_mutex);
    pending_output.insert(pending_output.end(), std::make_move_iterator(lines.begin()),
                          std::make_move_iterator(lines.end()));
}

void App::queue_lines(const std::vector<std::string>& lines, tui::Decorator style) {
    std::vector<tui::Element> styled;
    for (const auto& line : lines)
        styled.push_back(tui::text(tui::to_wstring(line)) | style);
    queue(std::move(styled));
}

void App::show_accepted_command(const std::wstring& command, const std::string& message) {
    std::lock_guard<std::mutex> lock(output_mutex);
    output.push_back(tui::text(L"> " + command));
    output.insert(output.end(), pending_output.begin(), pending_output.end());
    pending_output.clear();
    for (const auto& piece : split(message, "\n")) {
        output.push_back(tui::text(tui::to_wstring(piece)) | tui::bold);
    }
    keep_last_lines(output);
}

std::vector<tui::Element> App::output_lines() {
    std::lock_guard<std::mutex> lock(output_mutex);
    return output;
}

std::vector<tui::Element> App::pending_lines() {
    std::lock_guard<std::mutex> lock(output_mutex);
    return pending_output;
}
