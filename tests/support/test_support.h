#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace quarn_test {

// The repository and build folders of the test build.
std::filesystem::path source_dir();
std::filesystem::path binary_dir();

// The packs the build generates, by name. Tests build their sample folders
// from these alone: users add packs of their own beside them.
const std::vector<std::string>& shipped_packs();
// Copies the shipped packs into `samples`, which is made.
void copy_shipped_packs(const std::filesystem::path& samples);

// A fresh folder under the system's temporary folder, removed with everything in it
// when the object goes.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string(); }

  private:
    std::filesystem::path path_;
};

// Polls `condition` until it holds or `timeout` has passed; true when it held.
bool wait_until(const std::function<bool()>& condition,
                std::chrono::milliseconds timeout = std::chrono::seconds(5));

// Writes `text` to `path`, replacing the file.
void write_file(const std::filesystem::path& path, const std::string& text);

// The whole content of a file ("" when it cannot be read).
std::string read_file(const std::filesystem::path& path);

// The events an inotify queue holds, or 0 when that is unknown or too many
// to overflow in a test.
long inotify_queue_room();

// More events than a queue of `room` holds: renames of `folder`/a back and
// forth, two events each. The file must exist.
void overflow_inotify_queue(const std::filesystem::path& folder, long room);

}  // namespace quarn_test
