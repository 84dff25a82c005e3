#pragma once

#include <sys/stat.h>
#include <sys/types.h>
#include <compare>
#include <optional>
#include <string>

namespace watch {

// A folder by what it is rather than by name: one folder reached by two
// paths has one id.
struct FolderId {
    dev_t device;
    ino_t inode;
    auto operator<=>(const FolderId&) const = default;
};

// The id of the folder at `path` (links followed); nullopt when it is missing
// or no folder.
inline std::optional<FolderId> folder_id(const std::string& path) {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return std::nullopt;
    return FolderId{info.st_dev, info.st_ino};
}

}  // namespace watch
