#pragma once

#include <string>
#include <string_view>
#include <vector>

// Small functions on byte strings (UTF-8, compared byte by byte) and file paths.
// None keeps state or takes a lock; all may run on any thread.

// A file path split at its last "/" and at the file name's last ".".
struct NameInfo {
    std::string directory;  // before the last "/", "" when there is none
    std::string name;       // the file name up to its own last "."
    std::string extension;  // after the file name's last ".", without the dot
};

// Glyphs for to_tiny_string: the ten digits, then the minus sign.
inline constexpr std::wstring_view numbers = L"0123456789-";

// Removes leading and trailing space characters (code 32 only; tabs stay).
std::string trim(const std::string& text);

// The non-empty pieces between occurrences of `separator`. An empty separator
// gives the whole text as one piece (none for an empty text).
std::vector<std::string> split(const std::string& text, const std::string& separator);

std::string replace_char(const std::string& text, const char& from, const char& to);

bool ends_with(const std::string& text, const std::string& suffix);

// A pitch as exactly three wide characters: "   " for 0, "-3 ", "12 ", magnitude capped at 99.
std::wstring to_tiny_string(int value);

NameInfo get_extension(const std::string& path);

// The text before the path's last "/", "" when there is none.
std::string get_directory(const std::string& path);

// The folder in normal form ending with "/", for comparing paths by prefix
// (no link is followed).
std::string folder_prefix(const std::string& folder);

// `path`, in normal form, lies below `folder`.
bool is_inside_folder(const std::string& folder, const std::string& path);

// Local time now as "%Y-%m-%d.%H_%M_%S".
std::string get_file_timestamp();
