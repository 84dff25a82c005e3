#include "ReplyText.h"

#include <algorithm>
#include <sstream>

#include "tui/screen/unicode.h"

namespace {

// The word cut into pieces of at most `width` columns; a long path is cut
// after one of its slashes where it can be.
std::vector<std::wstring> pieces_of(const std::wstring& word, int width) {
    std::vector<std::wstring> pieces(1);
    for (wchar_t c : word) {
        std::wstring& piece = pieces.back();
        if (!piece.empty() && columns_of(piece + c) > width) {
            const auto slash = piece.find_last_of(L'/');
            std::wstring rest;
            if (slash != std::wstring::npos && slash > 0 && slash + 1 < piece.size()) {
                rest = piece.substr(slash + 1);
                piece.erase(slash + 1);
            }
            pieces.push_back(std::move(rest));
            if (columns_of(pieces.back() + c) > width)
                pieces.emplace_back();  // a wide character after the slash's rest
        }
        pieces.back() += c;
    }
    return pieces;
}

// The words filled into lines; `blank_after` columns follow every word, a
// blank between two words is counted otherwise.
std::vector<std::wstring> fill_lines(const std::vector<std::wstring>& words, int width,
                                     bool blank_after) {
    const int tail = blank_after ? 1 : 0;
    std::vector<std::wstring> lines;
    std::wstring line;
    bool started = false;  // an empty word still takes its place on a line
    for (const auto& whole_word : words) {
        for (auto& word : pieces_of(whole_word, width - tail)) {
            if (started && columns_of(line) + 1 + columns_of(word) + tail > width) {
                lines.push_back(std::move(line));
                line.clear();
                started = false;
            }
            if (started)
                line += L' ';
            line += word;
            started = true;
        }
    }
    if (started)
        lines.push_back(std::move(line));
    if (blank_after) {
        for (auto& filled : lines)
            filled += L' ';
    }
    return lines;
}

}  // namespace

int columns_of(const std::wstring& text) {
    int columns = 0;
    for (wchar_t c : text)
        columns += std::max(0, tui::codepoint_width(static_cast<char32_t>(c)));
    return columns;
}

std::vector<std::wstring> words_of(const std::wstring& text) {
    std::vector<std::wstring> words;
    std::wistringstream in(text);
    for (std::wstring word; in >> word;)
        words.push_back(std::move(word));
    return words;
}

std::vector<std::wstring> wrap_words(const std::vector<std::wstring>& words, int width) {
    return fill_lines(words, width, true);
}

std::vector<std::wstring> wrap_text(const std::wstring& text, int width) {
    if (columns_of(text) <= width)
        return {text};
    return fill_lines(words_of(text), width, false);
}

std::string reason_of(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& error) {
        return error.what();
    } catch (...) {
        return "an unknown error";
    }
}
