// Reads a tmux screen captured with `capture-pane -p -e` from standard input
// and answers questions about its cells, so that the end-to-end scripts can
// check colours and attributes as well as text:
//
//   screen_cells find TEXT          "ROW COL" of TEXT's first appearance
//   screen_cells text ROW COL LEN   the text there, trailing blanks cut
//   screen_cells style ROW COL LEN  the style the cells share, or "mixed"
//   screen_cells grid               per pattern cell row: "ROW LIT WIDTH"
//
// A style is written "fg=C bg=C" and the attributes that are on (bold dim
// italic underline blink reverse); C is a palette index 0 to 15 or "default".
// A pattern cell row is a run of white-on-grey cells (light grey 7, dark grey
// 8) split into 8 cells of WIDTH columns; LIT is the index of the light grey
// cell, -1 when there is none and "many" when there are several.
// Every code point takes one column; the screens checked hold no wide glyphs.
#include <cstdio>
#include <iostream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tui/screen/unicode.h"

namespace {

constexpr int kDefault = -1;

struct Style {
    int fg = kDefault;
    int bg = kDefault;
    bool bold = false;
    bool dim = false;
    bool italic = false;
    bool underline = false;
    bool blink = false;
    bool reverse = false;

    bool operator==(const Style&) const = default;
};

struct Cell {
    char32_t glyph;
    Style style;
};

using Row = std::vector<Cell>;

std::string colour_name(int colour) {
    return colour == kDefault ? "default" : std::to_string(colour);
}

std::string describe(const Style& s) {
    std::string out = "fg=" + colour_name(s.fg) + " bg=" + colour_name(s.bg);
    const std::pair<bool, const char*> flags[] = {
        {s.bold, "bold"},           {s.dim, "dim"},     {s.italic, "italic"},
        {s.underline, "underline"}, {s.blink, "blink"}, {s.reverse, "reverse"},
    };
    for (const auto& [on, name] : flags)
        if (on)
            out += std::string(" ") + name;
    return out;
}

// "38;5;N" and "48;5;N" name palette entries; "38;2;R;G;B" is skipped.
std::optional<int> extended_colour(const std::vector<int>& params, std::size_t& i) {
    if (i + 2 < params.size() && params[i + 1] == 5) {
        i += 2;
        return params[i];
    }
    if (i + 4 < params.size() && params[i + 1] == 2)
        i += 4;
    return std::nullopt;
}

void apply_sgr(Style& s, const std::vector<int>& params) {
    if (params.empty()) {
        s = Style{};
        return;
    }
    for (std::size_t i = 0; i < params.size(); ++i) {
        const int p = params[i];
        if (p == 0)
            s = Style{};
        else if (p == 1)
            s.bold = true;
        else if (p == 2)
            s.dim = true;
        else if (p == 3)
            s.italic = true;
        else if (p == 4)
            s.underline = true;
        else if (p == 5)
            s.blink = true;
        else if (p == 7)
            s.reverse = true;
        else if (p == 22)
            s.bold = s.dim = false;
        else if (p == 23)
            s.italic = false;
        else if (p == 24)
            s.underline = false;
        else if (p == 25)
            s.blink = false;
        else if (p == 27)
            s.reverse = false;
        else if (p >= 30 && p <= 37)
            s.fg = p - 30;
        else if (p >= 90 && p <= 97)
            s.fg = p - 90 + 8;
        else if (p == 39)
            s.fg = kDefault;
        else if (p >= 40 && p <= 47)
            s.bg = p - 40;
        else if (p >= 100 && p <= 107)
            s.bg = p - 100 + 8;
        else if (p == 49)
            s.bg = kDefault;
        else if (p == 38 || p == 48) {
            if (auto colour = extended_colour(params, i))
                (p == 38 ? s.fg : s.bg) = *colour;
        }
    }
}

// One UTF-8 code point starting at `i`; a broken byte stands for itself.
char32_t next_code_point(const std::string& bytes, std::size_t& i) {
    const auto lead = static_cast<unsigned char>(bytes[i++]);
    int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    char32_t value = extra == 3 ? lead & 0x07 : extra == 2 ? lead & 0x0F : lead & 0x1F;
    if (extra == 0)
        return lead;
    for (; extra > 0 && i < bytes.size(); --extra)
        value = (value << 6) | (static_cast<unsigned char>(bytes[i++]) & 0x3F);
    return value;
}

std::u32string decode(const std::string& bytes) {
    std::u32string out;
    for (wchar_t c : tui::to_wstring(bytes))
        out.push_back(static_cast<char32_t>(c));
    return out;
}

// tmux starts every captured line with the style still in force from the
// line before, so the style carries over line ends.
std::vector<Row> read_screen(std::istream& in) {
    std::vector<Row> rows;
    Style style;
    std::string line;
    while (std::getline(in, line)) {
        Row row;
        for (std::size_t i = 0; i < line.size();) {
            if (line[i] != '\x1b') {
                row.push_back({next_code_point(line, i), style});
                continue;
            }
            // Control sequences: only SGR changes a cell; others are skipped.
            if (i + 1 < line.size() && line[i + 1] == '[') {
                std::size_t end = i + 2;
                while (end < line.size() && !(line[end] >= 0x40 && line[end] <= 0x7E))
                    ++end;
                if (end < line.size() && line[end] == 'm') {
                    std::vector<int> params;
                    std::stringstream fields(line.substr(i + 2, end - i - 2));
                    std::string field;
                    while (std::getline(fields, field, ';'))
                        params.push_back(field.empty() ? 0 : std::stoi(field));
                    apply_sgr(style, params);
                }
                i = end + 1;
            } else {
                i += 2;
            }
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

std::u32string row_text(const Row& row) {
    std::u32string text;
    for (const Cell& cell : row)
        text.push_back(cell.glyph);
    return text;
}

int find(const std::vector<Row>& rows, const std::string& wanted) {
    const std::u32string needle = decode(wanted);
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const auto col = row_text(rows[r]).find(needle);
        if (col != std::u32string::npos) {
            std::cout << r << ' ' << col << '\n';
            return 0;
        }
    }
    return 1;
}

// The cells of a range; a range past the captured line reads as blanks.
std::vector<Cell> cells(const std::vector<Row>& rows, int r, int col, int length) {
    std::vector<Cell> out;
    for (int c = col; c < col + length; ++c) {
        if (r >= 0 && r < static_cast<int>(rows.size()) && c >= 0 &&
            c < static_cast<int>(rows[r].size()))
            out.push_back(rows[r][c]);
        else
            out.push_back({U' ', Style{}});
    }
    return out;
}

int text(const std::vector<Row>& rows, int r, int col, int length) {
    std::u32string text;
    for (const Cell& cell : cells(rows, r, col, length))
        text.push_back(cell.glyph);
    while (!text.empty() && text.back() == U' ')
        text.pop_back();
    std::wstring wide;
    for (char32_t c : text)
        wide.push_back(static_cast<wchar_t>(c));
    std::cout << tui::to_string(wide) << '\n';
    return 0;
}

int style(const std::vector<Row>& rows, int r, int col, int length) {
    const auto range = cells(rows, r, col, length);
    if (range.empty())
        return 1;
    for (const Cell& cell : range) {
        if (!(cell.style == range.front().style)) {
            std::cout << "mixed\n";
            return 0;
        }
    }
    std::cout << describe(range.front().style) << '\n';
    return 0;
}

bool is_pattern_cell(const Cell& cell) {
    return cell.style.fg == 15 && (cell.style.bg == 7 || cell.style.bg == 8);
}

int grid(const std::vector<Row>& rows) {
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const Row& row = rows[r];
        for (std::size_t start = 0; start < row.size();) {
            if (!is_pattern_cell(row[start])) {
                ++start;
                continue;
            }
            std::size_t end = start;
            while (end < row.size() && is_pattern_cell(row[end]))
                ++end;
            const std::size_t width = (end - start) / 8;
            if (width > 0 && (end - start) % 8 == 0) {
                std::string lit = "-1";
                for (std::size_t i = 0; i < 8; ++i) {
                    if (row[start + i * width].style.bg != 7)
                        continue;
                    lit = lit == "-1" ? std::to_string(i) : "many";
                }
                std::cout << r << ' ' << lit << ' ' << width << '\n';
            }
            start = end;
        }
    }
    return 0;
}

int usage() {
    std::cerr << "usage: screen_cells find TEXT | text ROW COL LEN | style ROW COL LEN | grid\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty())
        return usage();
    const auto rows = read_screen(std::cin);
    if (args[0] == "find" && args.size() == 2)
        return find(rows, args[1]);
    if ((args[0] == "text" || args[0] == "style") && args.size() == 4) {
        const int r = std::stoi(args[1]);
        const int col = std::stoi(args[2]);
        const int length = std::stoi(args[3]);
        return args[0] == "text" ? text(rows, r, col, length) : style(rows, r, col, length);
    }
    if (args[0] == "grid" && args.size() == 1)
        return grid(rows);
    return usage();
}
