#include "io/RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace io {

namespace {

bool is_regular(const struct stat& info) {
    return S_ISREG(info.st_mode);
}

template <typename T>
T refuse(Refusal* refusal, Refusal why) {
    if (refusal != nullptr)
        *refusal = why;
    return T{};
}

}  // namespace

UniqueFd open_regular_file(const std::string& path, std::uint64_t max_bytes, Refusal* refusal) {
    if (refusal != nullptr)
        *refusal = Refusal::none;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !is_regular(info))
        return refuse<UniqueFd>(refusal, Refusal::unreadable);
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.valid() || ::fstat(fd.get(), &info) != 0 || !is_regular(info))
        return refuse<UniqueFd>(refusal, Refusal::unreadable);
    if (static_cast<std::uint64_t>(info.st_size) > max_bytes)
        return refuse<UniqueFd>(refusal, Refusal::too_large);
    // Reads of a regular file never wait anyway: back to ordinary reads.
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags >= 0)
        ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

std::optional<std::string> read_regular_file(const std::string& path, std::uint64_t max_bytes,
                                             Refusal* refusal) {
    const UniqueFd fd = open_regular_file(path, max_bytes, refusal);
    if (!fd.valid())
        return std::nullopt;
    std::string text;
    std::vector<char> chunk(64 * 1024);
    for (;;) {
        const ssize_t n = ::read(fd.get(), chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return refuse<std::optional<std::string>>(refusal, Refusal::unreadable);
        if (n == 0)
            return text;
        if (text.size() + static_cast<std::uint64_t>(n) > max_bytes)
            return refuse<std::optional<std::string>>(refusal, Refusal::too_large);
        text.append(chunk.data(), static_cast<std::size_t>(n));
    }
}

}  // namespace io
