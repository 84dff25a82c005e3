#include "watch/FileSystem.h"

#include <unistd.h>
#include <filesystem>

namespace watch::FileSystem {

std::map<std::string, FileInfo> filesInfoFromPath(const std::string& path) {
    namespace fs = std::filesystem;
    std::map<std::string, FileInfo> entries;
    std::error_code error;
    for (fs::directory_iterator it(path, error), end; !error && it != end; it.increment(error)) {
        const std::string full_path = it->path().string();
        std::error_code kind_error;
        const bool directory = it->is_directory(kind_error);
        const bool readable = ::access(full_path.c_str(), R_OK) == 0;
        entries.emplace(it->path().filename().string(), FileInfo(full_path, directory, readable));
    }
    return entries;
}

}  // namespace watch::FileSystem
