#pragma once

#include <map>
#include <string>

namespace watch {

// What a folder listing tells about one entry. Links are followed.
class FileInfo {
  public:
    FileInfo() = default;
    FileInfo(std::string filepath, bool directory, bool readable)
        : filepath(std::move(filepath)), directory(directory), readable(readable) {}

    bool isDirectory() const { return directory; }
    bool isReadable() const { return readable; }

    std::string filepath;

  private:
    bool directory = false;
    bool readable = false;
};

namespace FileSystem {

// The entries of `path` by name, in byte order, without "." and "..";
// empty when the folder is missing or cannot be read. Any thread.
std::map<std::string, FileInfo> filesInfoFromPath(const std::string& path);

}  // namespace FileSystem

}  // namespace watch
