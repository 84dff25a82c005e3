#include "program_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

#include "string_utils.h"

namespace {

constexpr const char* own_file = "/proc/self/exe";

bool same_file(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Where the shell finds the bare `name`: the first folder of PATH (an empty
// entry is the current folder) holding an executable regular file of that
// name, links followed. Only the file that is this program counts, so that a
// start by another way (a launcher passing a bare name) is not mistaken.
std::optional<std::string> found_on_search_path(const std::string& name) {
    const char* search_path = std::getenv("PATH");
    struct stat own;
    if (search_path == nullptr || ::stat(own_file, &own) != 0)
        return std::nullopt;
    const std::string folders = search_path;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = folders.find(':', start);
        std::string folder = folders.substr(start, end - start);
        const std::string candidate = (folder.empty() ? "." : folder) + "/" + name;
        struct stat found;
        if (::stat(candidate.c_str(), &found) == 0 && S_ISREG(found.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0)
            return same_file(found, own) ? std::optional(candidate) : std::nullopt;
        if (end == std::string::npos)
            return std::nullopt;
        start = end + 1;
    }
}

}  // namespace

std::string base_folder_for(const std::string& program_path) {
    if (program_path.find('/') != std::string::npos)
        return get_extension(program_path).directory;
    if (!program_path.empty()) {
        if (const auto found = found_on_search_path(program_path))
            return get_extension(*found).directory;
    }
    std::error_code error;
    const auto program = std::filesystem::read_symlink(own_file, error);
    return error ? std::string() : get_extension(program.string()).directory;
}
