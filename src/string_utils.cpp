#include "string_utils.h"

#include <chrono>
#include <ctime>
#include <filesystem>

std::string trim(const std::string& text) {
    const auto last = text.find_last_not_of(' ');
    if (last == std::string::npos)
        return "";
    const auto first = text.find_first_not_of(' ');
    return text.substr(first, last - first + 1);
}

std::vector<std::string> split(const std::string& text, const std::string& separator) {
    std::vector<std::string> pieces;
    if (separator.empty()) {
        if (!text.empty())
            pieces.push_back(text);
        return pieces;
    }
    std::string::size_type start = 0;
    while (true) {
        const auto found = text.find(separator, start);
        if (found == std::string::npos)
            break;
        if (found > start)
            pieces.push_back(text.substr(start, found - start));
        start = found + separator.size();
    }
    if (start < text.size())
        pieces.push_back(text.substr(start));
    return pieces;
}

std::string replace_char(const std::string& text, const char& from, const char& to) {
    std::string result = text;
    for (char& c : result) {
        if (c == from)
            c = to;
    }
    return result;
}

bool ends_with(const std::string& text, const std::string& suffix) {
    if (suffix.size() > text.size())
        return false;
    return text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::wstring to_tiny_string(int value) {
    std::wstring cell = L"   ";
    if (value == 0)
        return cell;
    std::size_t position = 0;
    // Widened before negation so that the smallest int has a magnitude too.
    long long magnitude = value;
    if (magnitude < 0) {
        cell[position++] = numbers[10];
        magnitude = -magnitude;
    }
    if (magnitude > 99)
        magnitude = 99;
    if (magnitude >= 10)
        cell[position++] = numbers[magnitude / 10];
    cell[position] = numbers[magnitude % 10];
    return cell;
}

std::string get_directory(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return "";
    return path.substr(0, slash);
}

NameInfo get_extension(const std::string& path) {
    NameInfo info;
    info.directory = get_directory(path);
    const auto slash = path.find_last_of('/');
    const std::string file = slash == std::string::npos ? path : path.substr(slash + 1);
    const auto dot = file.find_last_of('.');
    if (dot == std::string::npos) {
        info.name = file;
    } else {
        info.name = file.substr(0, dot);
        info.extension = file.substr(dot + 1);
    }
    return info;
}

std::string get_file_timestamp() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm local{};
    localtime_r(&now, &local);
    char text[64];
    const auto length = std::strftime(text, sizeof text, "%Y-%m-%d.%H_%M_%S", &local);
    return std::string(text, length);
}

std::string folder_prefix(const std::string& folder) {
    std::string path = std::filesystem::path(folder).lexically_normal().string();
    while (!path.empty() && path.back() == '/')
        path.pop_back();
    return path + "/";
}

bool is_inside_folder(const std::string& folder, const std::string& path) {
    return std::filesystem::path(path).lexically_normal().string().starts_with(
        folder_prefix(folder));
}
