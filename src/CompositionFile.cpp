#include "CompositionFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <iterator>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "io/RegularFile.h"

namespace {

// A save writes to a temporary of this name in the file's folder and renames
// it over the file. No user names a file so, and it stays short whatever the
// composition's name: a name that fits the folder never fails for it.
constexpr std::string_view kTemporaryPrefix = ".quarn-save-";
constexpr std::string_view kTemporaryUnique = "XXXXXX";  // mkstemp's part

bool is_temporary_name(const std::string& name) {
    if (name.size() != kTemporaryPrefix.size() + kTemporaryUnique.size() ||
        !name.starts_with(kTemporaryPrefix))
        return false;
    return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(kTemporaryPrefix.size()),
                       name.end(), [](unsigned char c) { return std::isalnum(c) != 0; });
}

// Left by a save that was killed before its rename: older than a minute and
// locked by no save in progress (each holds a lock on its temporary until it
// is renamed). Locked here when it is, so that no save takes it up meanwhile.
bool is_stale_temporary(const std::string& path, io::UniqueFd& fd) {
    fd = io::UniqueFd(
        ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
    struct stat info {};
    if (!fd.valid() || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    constexpr std::time_t kOldestLiveSave = 60;
    return std::time(nullptr) - info.st_mtime > kOldestLiveSave &&
           ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0;
}

// Removes the temporaries that killed saves left in `folder`, and no other file.
void remove_stale_temporaries(const std::string& folder) {
    std::error_code failed;
    for (std::filesystem::directory_iterator entry(folder.empty() ? "/" : folder, failed), end;
         !failed && entry != end; entry.increment(failed)) {
        io::UniqueFd lock;
        if (is_temporary_name(entry->path().filename().string()) &&
            is_stale_temporary(entry->path().string(), lock))
            ::unlink(entry->path().c_str());
    }
}

// The file that `path` names: a symbolic link is followed to the file it
// points to (which need not exist yet), so that a save through a link
// replaces what the link points to and keeps the link. Nothing, with errno
// set, for links that go on past the kernel's own bound (a loop): the rename
// would replace the last of them.
std::optional<std::string> link_target(const std::string& path) {
    namespace fs = std::filesystem;
    fs::path target = path;
    std::error_code error;
    constexpr int kMostLinks = 40;  // as the kernel follows them
    for (int hops = 0; fs::is_symlink(target, error); ++hops) {
        if (hops == kMostLinks) {
            errno = ELOOP;
            return std::nullopt;
        }
        const fs::path next = fs::read_symlink(target, error);
        if (error)
            break;
        target = next.is_absolute() ? next : target.parent_path() / next;
    }
    return target.string();
}

// Makes a rename in `folder` survive a power loss.
void sync_folder(const std::string& folder) {
    const io::UniqueFd fd(
        ::open(folder.empty() ? "/" : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.valid())
        ::fsync(fd.get());
}

// The parser recurses once per level, into objects without a bound: a file
// nested deeper than any composition is refused before it is parsed.
constexpr int kDeepestNesting = 100;

bool nests_deeper_than(const std::string& text, int limit) {
    int depth = 0;
    bool in_string = false;
    bool escaped = false;
    for (const char c : text) {
        if (in_string) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                in_string = false;
        } else if (c == '"') {
            in_string = true;
        } else if (c == '{' || c == '[') {
            if (++depth > limit)
                return true;
        } else if (c == '}' || c == ']') {
            --depth;
        }
    }
    return false;
}

// Takes the place of a string to count the characters written, keeping none.
struct CharacterCount {
    using value_type = char;
    void push_back(char) { ++size; }
    std::size_t size = 0;
};

std::size_t serialized_size(const picojson::value& value, bool pretty) {
    CharacterCount count;
    value.serialize(std::back_inserter(count), pretty);
    return count.size;
}

std::string megabytes(std::size_t bytes) {
    return std::to_string(bytes / (1024 * 1024)) + " MB";
}

}  // namespace

std::optional<std::string> composition_text(const picojson::value& composition,
                                            std::string& error) {
    // Measured before it is made: a large song is not written out twice, nor
    // copied as its text grows.
    for (const bool pretty : {true, false}) {
        const std::size_t size = serialized_size(composition, pretty);
        if (size <= kLargestComposition) {
            std::string text;
            text.reserve(size);
            composition.serialize(std::back_inserter(text), pretty);
            return text;
        }
    }
    error = "it would be larger than the " + megabytes(kLargestComposition) + " a load reads";
    return std::nullopt;
}

bool write_composition_file(const std::string& path_named, const std::string& text,
                            std::string& error) {
    const auto target = link_target(path_named);
    if (!target) {
        error = std::strerror(errno);
        return false;
    }
    const std::string& path = *target;
    const auto slash = path.rfind('/');
    const auto file_start = slash == std::string::npos ? 0 : slash + 1;
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
    remove_stale_temporaries(folder);
    std::string temporary = path.substr(0, file_start);
    temporary.append(kTemporaryPrefix).append(kTemporaryUnique);
    std::vector<char> pattern(temporary.begin(), temporary.end());
    pattern.push_back('\0');
    const io::UniqueFd fd(::mkstemp(pattern.data()));
    if (!fd.valid()) {
        error = std::strerror(errno);
        return false;
    }
    temporary.assign(pattern.data());
    // Held until the rename, so that no other save takes it for a stale one.
    bool written = ::flock(fd.get(), LOCK_EX) == 0 && ::fchmod(fd.get(), 0644) == 0;
    for (std::size_t done = 0; written && done < text.size();) {
        const ssize_t n = ::write(fd.get(), text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        written = n > 0;
        if (written)
            done += static_cast<std::size_t>(n);
    }
    written = written && ::fsync(fd.get()) == 0;
    if (written && ::rename(temporary.c_str(), path.c_str()) != 0)
        written = false;
    if (!written) {
        error = std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    sync_folder(folder);
    return true;
}

bool is_blank(const std::string& text) {
    return text.find_first_not_of(" \t\r\n") == std::string::npos;
}

std::optional<std::string> read_composition_file(const std::string& path, std::string& error) {
    io::Refusal refusal = io::Refusal::none;
    auto text = io::read_regular_file(path, kLargestComposition, &refusal);
    if (refusal == io::Refusal::too_large)
        error = "larger than " + megabytes(kLargestComposition);
    return text;
}

std::string parse_composition(const std::string& text, picojson::value& composition) {
    if (nests_deeper_than(text, kDeepestNesting))
        return "nested deeper than " + std::to_string(kDeepestNesting) + " levels";
    std::string error;
    try {
        const auto end = picojson::parse(composition, text.begin(), text.end(), &error);
        if (error.empty() && !is_blank(std::string(end, text.end())))
            error = "text after the end";
    } catch (const std::overflow_error&) {
        // The library's number type holds no infinity.
        error = "a number out of range";
    } catch (const std::exception& failure) {
        error = *failure.what() ? failure.what() : "not readable as JSON";
    }
    return error;
}
